// The 46 size classes of the allocator: the class of a request and each class's block size and
// refill quantity. Everything here is constexpr so that a pooled type's class is a constant.
#pragma once

#include <bit>
#include <cstdint>

#include "varnel/platform/assert.h"

namespace varnel {

// Number of size classes, 0 to 45.
inline constexpr unsigned kSizeClassCount = 46;

// Block size of the largest class (45): 2^37 bytes. Larger requests have no class.
inline constexpr std::uint64_t kLargestBlockBytes = std::uint64_t{1} << 37;

namespace detail {

// The class by formula, for any request: b = (bytes - 1) >> 3; class b up to 15, then
// 16 + floor(log2(b >> 4)). Written without a branch as min(b, 15) + bit_width(b >> 4): the
// second term is 0 up to class 15 and floor(log2(b >> 4)) + 1 above. bit_width(x) is taken as
// the highest set bit of 2x + 1, which is never 0, so the compiler needs no test for x = 0; and
// as countl_zero ^ 63, which GCC turns into one bsr where 63 - countl_zero left a subtraction.
constexpr unsigned sizeClassByFormula(std::uint64_t bytes) {
  const std::uint64_t b = (bytes - 1) >> 3;
  const unsigned high = static_cast<unsigned>(std::countl_zero(((b >> 4) << 1) | 1)) ^ 63u;
  return static_cast<unsigned>(b < 15 ? b : 15) + high;
}

// Requests up to this many bytes read their class from a table of one byte per 8 bytes.
inline constexpr std::uint64_t kTabledBytes = 1024;

struct SmallSizeClasses {
  std::uint8_t of[kTabledBytes / 8];  // index (bytes - 1) >> 3
};

constexpr SmallSizeClasses tabulateSmallSizeClasses() {
  SmallSizeClasses table{};
  for (std::uint64_t b = 0; b < kTabledBytes / 8; ++b) {
    table.of[b] = static_cast<std::uint8_t>(sizeClassByFormula(8 * b + 8));
  }
  return table;
}

// 128 bytes, two cache lines.
inline constexpr SmallSizeClasses kSmallSizeClasses = tabulateSmallSizeClasses();

}  // namespace detail

// Class of a request of `bytes` bytes. Precondition: 1 <= bytes <= kLargestBlockBytes.
// A size known at compile time folds to its class either way. At run time the requests that
// matter (a search's nodes, container blocks, anything up to 1 KiB) take one load from a
// 128-byte table instead of the formula's ten instructions; larger ones take the formula after a
// branch that a caller mixing both sides of 1 KiB may mispredict.
constexpr unsigned sizeClassOf(std::uint64_t bytes) {
  VARNEL_ASSERT(bytes >= 1 && bytes <= kLargestBlockBytes);  // 0 would index before the table
  if (bytes <= detail::kTabledBytes) [[likely]] {
    return detail::kSmallSizeClasses.of[(bytes - 1) >> 3];
  }
  return detail::sizeClassByFormula(bytes);
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
