// Compiler barriers for timed loops, so that counted work really executes, and cache hints.
//   keepAlive(v): v is treated as used and possibly changed: the computation that produced it
//     can be neither deleted nor merged with the next one.
//   clobberMemory(): memory may have changed: values read before cannot be reused after, so
//     work cannot be hoisted out of the loop around it.
//   prefetchForRead(p), prefetchForWrite(p): start bringing p's cache line in now, so that a
//     load or store some iterations later finds it there. Hints only: p need not be valid.
//   VARNEL_CODE_ALIGNED: starts a function on a 64-byte boundary, so that the loops inside it
//     sit at the same offsets within cache lines and fetch blocks in every program that links
//     it, whatever the linker puts before it.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define VARNEL_CODE_ALIGNED [[gnu::aligned(64)]]
#else
#define VARNEL_CODE_ALIGNED
#endif

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace varnel {

template <class T>
inline void keepAlive(T& value) {
#if defined(__GNUC__) || defined(__clang__)
  asm volatile("" : "+r"(value));
#else
  volatile T sink = value;
  value = sink;
#endif
}

inline void clobberMemory() {
#if defined(__GNUC__) || defined(__clang__)
  asm volatile("" : : : "memory");
#else
  _ReadWriteBarrier();
#endif
}

// On x86-64 the hint is an asm statement: GCC treats __builtin_prefetch as free of side effects,
// so a helper made only of prefetches is judged pure and its call is deleted before inlining.
inline void prefetchForRead(const void* p) {
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
  asm volatile("prefetcht0 (%0)" : : "r"(p));
#elif defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p, 0, 3);
  asm volatile("" : : "r"(p));  // keeps the caller from being judged pure
#else
  _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#endif
}

// The line will be written. On x86-64 this is prefetcht0 too: prefetchw is not in the baseline
// instruction set.
inline void prefetchForWrite(const void* p) {
#if (defined(__GNUC__) || defined(__clang__)) && !defined(__x86_64__)
  __builtin_prefetch(p, 1, 3);
  asm volatile("" : : "r"(p));  // keeps the caller from being judged pure
#else
  prefetchForRead(p);
#endif
}

}  // namespace varnel
