// Compiler barriers for timed loops, so that counted work really executes.
//   keepAlive(v): v is treated as used and possibly changed: the computation that produced it
//     can be neither deleted nor merged with the next one.
//   clobberMemory(): memory may have changed: values read before cannot be reused after, so
//     work cannot be hoisted out of the loop around it.
#pragma once

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

}  // namespace varnel
