// Arrays in pooled blocks. An array is a data pointer plus the element count its owner keeps:
// blocks carry no header, so an array is freed with the count and element size it was taken with.
#pragma once

#include <algorithm>
#include <cstdint>

#include "varnel/memory/allocator.h"
#include "varnel/memory/out_of_memory.h"

namespace varnel {

// Block for `count` elements of `elementSize` bytes; null for count 0, without touching a pool.
void* allocateArray(std::uint64_t count, std::uint64_t elementSize);

// allocateArray's block with its `count` elements zero (see allocateZeroedBlock: a large
// array the heap maps anew is not cleared twice).
void* allocateZeroedArray(std::uint64_t count, std::uint64_t elementSize);

// Returns the block of an array of `count` elements of `elementSize` bytes; nothing for 0.
void freeArray(void* data, std::uint64_t count, std::uint64_t elementSize);

// Typed forms: the element size is sizeof(T).
template <class T>
T* allocateArray(std::uint64_t count);
template <class T>
T* allocateZeroedArray(std::uint64_t count);
template <class T>
void freeArray(T* data, std::uint64_t count);

// A fresh block of newCount elements holding the first oldCount elements of `data`, whose
// block is returned. Never in place. Requires newCount >= oldCount.
template <class T>
T* growArray(T* data, std::uint64_t oldCount, std::uint64_t newCount);
// The same for newCount <= oldCount: the first newCount elements move to a block of their size.
template <class T>
T* shrinkArray(T* data, std::uint64_t oldCount, std::uint64_t newCount);

// The capacity a full growable array doubles to; an empty one grows to 1. Past 2^30 the double
// would not fit the 32-bit capacity, so the array grows to the last count 32-bit positions can
// number, and a full array of that count ends the process rather than wrap around.
constexpr std::int32_t doubledCapacity(std::int32_t capacity) {
  constexpr std::int32_t kLargest = INT32_MAX;
  if (capacity <= 0) return 1;
  if (capacity <= kLargest / 2) return 2 * capacity;
  if (capacity < kLargest) return kLargest;
  exitBeyondIndexRange(std::uint64_t{kLargest} + 1);
}

// --- Inline definitions ------------------------------------------------------------------

namespace detail {
// The bytes of count (>= 1) elements; past the largest block the process ends.
inline std::uint64_t arrayBytes(std::uint64_t count, std::uint64_t elementSize) {
  if (count > kLargestBlockBytes / elementSize) [[unlikely]] {
    exitRequestTooLarge(count > UINT64_MAX / elementSize ? UINT64_MAX : count * elementSize);
  }
  return count * elementSize;
}

// The tail past the requested elements stays out of bounds for sanitizer builds.
inline void* poisonTail(void* block, std::uint64_t bytes, unsigned sizeClass) {
  poisonBytes(static_cast<char*>(block) + bytes, blockBytesOf(sizeClass) - bytes);
  return block;
}
}  // namespace detail

inline void* allocateArray(std::uint64_t count, std::uint64_t elementSize) {
  if (count == 0) return nullptr;
  const std::uint64_t bytes = detail::arrayBytes(count, elementSize);
  const unsigned sizeClass = sizeClassOf(bytes);
  return detail::poisonTail(allocateBlock(sizeClass), bytes, sizeClass);
}

inline void* allocateZeroedArray(std::uint64_t count, std::uint64_t elementSize) {
  if (count == 0) return nullptr;
  const std::uint64_t bytes = detail::arrayBytes(count, elementSize);
  const unsigned sizeClass = sizeClassOf(bytes);
  return detail::poisonTail(allocateZeroedBlock(sizeClass, bytes), bytes, sizeClass);
}

inline void freeArray(void* data, std::uint64_t count, std::uint64_t elementSize) {
  if (count == 0) return;
  freeBlock(data, sizeClassOf(count * elementSize));
}

template <class T>
T* allocateArray(std::uint64_t count) {
  return static_cast<T*>(allocateArray(count, sizeof(T)));
}

template <class T>
T* allocateZeroedArray(std::uint64_t count) {
  return static_cast<T*>(allocateZeroedArray(count, sizeof(T)));
}

template <class T>
void freeArray(T* data, std::uint64_t count) {
  freeArray(static_cast<void*>(data), count, sizeof(T));
}

template <class T>
T* growArray(T* data, std::uint64_t oldCount, std::uint64_t newCount) {
  VARNEL_ASSERT(newCount >= oldCount);
  T* fresh = allocateArray<T>(newCount);
  std::copy_n(data, oldCount, fresh);
  freeArray(data, oldCount);
  return fresh;
}

template <class T>
T* shrinkArray(T* data, std::uint64_t oldCount, std::uint64_t newCount) {
  VARNEL_ASSERT(newCount <= oldCount);
  T* fresh = allocateArray<T>(newCount);
  std::copy_n(data, newCount, fresh);
  freeArray(data, oldCount);
  return fresh;
}

}  // namespace varnel
