// Array: the block it takes (size class from length x element size), the empty array, and
// element storage for both widths.
#include "varnel/containers/array.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"

namespace varnel {
namespace {

// Blocks of class c in use on the calling thread: obtained minus free.
std::int64_t inUse(unsigned c) {
  const SizeClassPool* pool = currentAllocator()->pools[c];
  return static_cast<std::int64_t>(pool->chunkCount * pool->blocksPerChunk) -
         static_cast<std::int64_t>(pool->freeCount);
}

std::int64_t totalInUse() {
  std::int64_t sum = 0;
  for (unsigned c = 0; c < kSizeClassCount; ++c) sum += inUse(c);
  return sum;
}

TEST(Array, EmptyArrayHasNoDataAndTakesNoBlock) {
  const std::int64_t before = totalInUse();
  {
    Array<std::int32_t> empty(0);
    EXPECT_EQ(empty.data(), nullptr) << "an empty array must not own a block";
    EXPECT_EQ(empty.length(), 0) << "length of an empty array";
    EXPECT_EQ(totalInUse(), before) << "constructing an empty array touched a pool";
  }
  EXPECT_EQ(totalInUse(), before) << "destroying an empty array returned a block";
}

TEST(Array, ThirtyOneDoublesTakeAndReturnOneBlockOfClassSixteen) {
  ASSERT_EQ(sizeClassOf(31 * sizeof(double)), 16u) << "248 bytes belong to class 16";
  const std::int64_t before16 = inUse(16);
  const std::int64_t before = totalInUse();
  void* data = nullptr;
  {
    Array<double> values(31);
    data = values.data();
    EXPECT_EQ(inUse(16), before16 + 1) << "the array should hold one class-16 block";
    EXPECT_EQ(totalInUse(), before + 1) << "the array should hold exactly one block";
    for (std::int32_t i = 0; i < 31; ++i) values[i] = 0.5 * i;
    for (std::int32_t i = 0; i < 31; ++i) {
      EXPECT_EQ(values[i], 0.5 * i) << "element " << i << " was not kept";
    }
  }
  EXPECT_EQ(inUse(16), before16) << "destruction must return the block to class 16";
  // The pools are LIFO: the next class-16 block is the one the array gave back.
  void* again = allocateBlock(16);
  EXPECT_EQ(again, data) << "the array's block did not go back to class 16";
  freeBlock(again, 16);
}

TEST(Array, EightByteElementsAndPooledArraysUseTheirOwnClasses) {
  const std::int64_t before = totalInUse();
  const std::int64_t beforeArrayClass = inUse(kSizeClassOf<Array<std::int64_t>>);
  const std::int64_t before17 = inUse(17);
  auto* pooled = newPooled<Array<std::int64_t>>(40);  // 320 bytes of data: class 17
  EXPECT_EQ(inUse(17), before17 + 1) << "40 eight-byte elements need a 512-byte block";
  EXPECT_EQ(inUse(kSizeClassOf<Array<std::int64_t>>), beforeArrayClass + 1)
      << "the pooled object itself takes one block of its own class";
  EXPECT_EQ(totalInUse(), before + 2) << "a pooled array is its object block plus its data";
  for (std::int32_t i = 0; i < 40; ++i) (*pooled)[i] = std::int64_t{1} << (i + 20);
  EXPECT_EQ((*pooled)[39], std::int64_t{1} << 59) << "an 8-byte element lost its high bits";
  EXPECT_EQ(pooled->length(), 40) << "length";
  deletePooled(pooled);
  EXPECT_EQ(pooled, nullptr) << "deletePooled must null the slot";
  EXPECT_EQ(totalInUse(), before) << "deleting a pooled array must return both blocks";
}

}  // namespace
}  // namespace varnel
