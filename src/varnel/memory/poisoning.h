// Under AddressSanitizer the pools tell the sanitizer which bytes are live: free blocks and the
// unused tail of a block are poisoned, so a use after free or an overrun inside a pooled block is
// reported like one on the heap. Elsewhere these are empty functions.
#pragma once

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNEL_ASAN 1
#endif
#endif
#if !defined(VARNEL_ASAN) && defined(__SANITIZE_ADDRESS__)
#define VARNEL_ASAN 1
#endif

#if defined(VARNEL_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace varnel {

// Marks [begin, begin + bytes) as not to be touched.
inline void poisonBytes(void* begin, std::size_t bytes) {
#if defined(VARNEL_ASAN)
  ASAN_POISON_MEMORY_REGION(begin, bytes);
#else
  (void)begin;
  (void)bytes;
#endif
}

// Marks [begin, begin + bytes) as usable again.
inline void unpoisonBytes(void* begin, std::size_t bytes) {
#if defined(VARNEL_ASAN)
  ASAN_UNPOISON_MEMORY_REGION(begin, bytes);
#else
  (void)begin;
  (void)bytes;
#endif
}

}  // namespace varnel
