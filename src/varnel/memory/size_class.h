// The 46 size classes of the allocator: the class of a request and each class's block size and
// refill quantity. Everything here is constexpr so that a pooled type's class is a constant.
#pragma once

#include <bit>
#include <cstdint>

namespace varnel {

// Number of size classes, 0 to 45.
inline constexpr unsigned kSizeClassCount = 46;

// Block size of the largest class (45): 2^37 bytes. Larger requests have no class.
inline constexpr std::uint64_t kLargestBlockBytes = std::uint64_t{1} << 37;

// Class of a request of `bytes` bytes. Precondition: 1 <= bytes <= kLargestBlockBytes.
// b = (bytes - 1) >> 3; class b up to 15, then 16 + floor(log2(b >> 4)).
// Written without a branch, as min(b, 15) + bit_width(b >> 4): the second term is 0 up to class
// 15 and floor(log2(b >> 4)) + 1 above, so callers that mix small and large sizes at run time
// pay no misprediction. bit_width(x) is taken as the highest set bit of 2x + 1, which is never
// 0, so the compiler needs no test for x = 0 either.
constexpr unsigned sizeClassOf(std::uint64_t bytes) {
  const std::uint64_t b = (bytes - 1) >> 3;
  const std::uint64_t high = 63 - static_cast<std::uint64_t>(std::countl_zero(((b >> 4) << 1) | 1));
  return static_cast<unsigned>((b < 15 ? b : 15) + high);
}

// Block size of class c in bytes: 8 (c + 1) up to class 15, then 2^(c - 8).
constexpr std::uint64_t blockBytesOf(unsigned sizeClass) {
  return sizeClass < 16 ? 8 * (std::uint64_t{sizeClass} + 1) : std::uint64_t{1} << (sizeClass - 8);
}

// Blocks obtained per refill: 1024 up to class 15, then 128 KiB worth, and one block from
// class 25 (128 KiB) up.
constexpr std::uint64_t blocksPerChunkOf(unsigned sizeClass) {
  if (sizeClass < 16) return 1024;
  if (sizeClass < 25) return (std::uint64_t{1} << 17) / blockBytesOf(sizeClass);
  return 1;
}

// Class of the blocks that hold one object of type T.
template <class T>
inline constexpr unsigned kSizeClassOf = sizeClassOf(sizeof(T));

}  // namespace varnel
