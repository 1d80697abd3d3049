// Size classes: the class of a request, and that every class's block holds exactly the requests
// mapped to it.
#include "varnel/memory/size_class.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace varnel {
namespace {

TEST(SizeClass, BoundariesFallInTheDocumentedClasses) {
  const struct {
    std::uint64_t bytes;
    unsigned sizeClass;
  } cases[] = {{1, 0},
               {8, 0},
               {9, 1},
               {128, 15},
               {129, 16},
               {256, 16},
               {257, 17},
               {512, 17},
               {513, 18},
               {1024, 18},
               {1025, 19},
               {1u << 17, 25},
               {(1u << 17) + 1, 26},
               {kLargestBlockBytes / 2, 44},
               {kLargestBlockBytes / 2 + 1, 45},
               {kLargestBlockBytes, 45}};
  for (const auto& c : cases) {
    EXPECT_EQ(sizeClassOf(c.bytes), c.sizeClass) << "request of " << c.bytes << " bytes";
  }
}

TEST(SizeClass, EveryRequestGetsTheSmallestBlockThatHoldsIt) {
  auto check = [](std::uint64_t bytes) {
    const unsigned c = sizeClassOf(bytes);
    ASSERT_LT(c, kSizeClassCount) << bytes << " bytes";
    EXPECT_GE(blockBytesOf(c), bytes) << "class " << c << " is too small for " << bytes;
    if (c > 0)
      EXPECT_LT(blockBytesOf(c - 1), bytes) << "class " << c - 1 << " would do for " << bytes;
  };
  for (std::uint64_t bytes = 1; bytes <= 70000; ++bytes) check(bytes);
  for (unsigned shift = 17; shift <= 37; ++shift) {
    const std::uint64_t power = std::uint64_t{1} << shift;
    check(power - 1);
    check(power);
    if (power < kLargestBlockBytes) check(power + 1);
  }
}

// Outside the precondition a table read would land before the table: checked builds stop.
TEST(SizeClassDeathTest, RequestsOutsideTheClassesStopCheckedBuilds) {
  if (!VARNEL_ASSERTS_ON) GTEST_SKIP() << "preconditions are checked in debug builds only";
  volatile std::uint64_t zero = 0;  // not a constant: the call runs
  EXPECT_DEATH(sizeClassOf(zero), "bytes >= 1");
  EXPECT_DEATH(sizeClassOf(kLargestBlockBytes + zero + 1), "bytes <= kLargestBlockBytes");
}

TEST(SizeClass, RefillsTakeOneChunkOfTheDocumentedSize) {
  for (unsigned c = 0; c < 16; ++c) {
    EXPECT_EQ(blocksPerChunkOf(c), 1024u) << "class " << c;
  }
  for (unsigned c = 16; c < 25; ++c) {
    EXPECT_EQ(blocksPerChunkOf(c) * blockBytesOf(c), 128u * 1024) << "class " << c;
  }
  for (unsigned c = 25; c < kSizeClassCount; ++c) {
    EXPECT_EQ(blocksPerChunkOf(c), 1u) << "class " << c;
    EXPECT_EQ(blockBytesOf(c), (std::uint64_t{128} * 1024) << (c - 25)) << "class " << c;
  }
  EXPECT_EQ(blockBytesOf(45), kLargestBlockBytes);
}

}  // namespace
}  // namespace varnel
