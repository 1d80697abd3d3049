// The 46 size classes of the allocator: the class of a request and each class's block size and
// refill quantity. Everything here is constexpr so that a pooled type's class is a constant.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace varnel {

// Number of size classes, 0 to 45.
inline constexpr unsigned kSizeClassCount = 46;

// Block size of the largest class (45): 2^37 bytes. Larger requests have no class.
inline constexpr std::uint64_t kLargestBlockBytes = std::uint64_t{1} << 37;

namespace detail {

// The class of b = (bytes - 1) >> 3, computed: b up to 15, then 16 + floor(log2(b >> 4)), as
// min(b, 15) + bit_width(b >> 4) without a branch. bit_width(x) is taken as the highest set bit
// of 2x + 1, which is never 0, so the compiler needs no test for x = 0 either.
constexpr unsigned sizeClassOfEighths(std::uint64_t b) {
  const std::uint64_t high = 63 - static_cast<std::uint64_t>(std::countl_zero(((b >> 4) << 1) | 1));
  return static_cast<unsigned>((b < 15 ? b : 15) + high);
}

// The same for requests of up to 1 KiB, read from a table of 128 bytes (two cache lines): the
// sizes a search and its containers ask for at run time are small.
inline constexpr std::uint64_t kTabledEighths = 128;
inline constexpr auto kSmallClasses = [] {
  std::array<std::uint8_t, kTabledEighths> table{};
  for (std::uint64_t b = 0; b < kTabledEighths; ++b) {
    table[b] = static_cast<std::uint8_t>(sizeClassOfEighths(b));
  }
  return table;
}();

}  // namespace detail

// Class of a request of `bytes` bytes. Precondition: 1 <= bytes <= kLargestBlockBytes.
// One table read up to 1 KiB, the branch-free formula above it; a constant size folds to a
// constant either way.
constexpr unsigned sizeClassOf(std::uint64_t bytes) {
  const std::uint64_t b = (bytes - 1) >> 3;
  return b < detail::kTabledEighths ? detail::kSmallClasses[b] : detail::sizeClassOfEighths(b);
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
