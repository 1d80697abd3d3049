// Arrays and pooled objects: classes by byte size, growth by a fresh block, and the return of
// every block to the class it came from.
#include "varnel/memory/arrays.h"

#include <gtest/gtest.h>

#include "thread_allocator.h"
#include "varnel/memory/pooled.h"

namespace varnel {
namespace {

using testing::onFreshAllocator;

std::uint64_t freeIn(unsigned c) { return currentAllocator()->pools[c]->freeCount; }

TEST(Arrays, EmptyArrayIsNullAndTouchesNoPool) {
  onFreshAllocator(0, [] {
    const std::uint64_t before = memoryConsumption(currentAllocator());
    EXPECT_EQ(allocateArray<int>(0), nullptr);
    freeArray(static_cast<int*>(nullptr), 0);
    EXPECT_EQ(memoryConsumption(currentAllocator()), before) << "no chunk for an empty array";
  });
}

TEST(Arrays, GrowingMovesToTheNextClassAndReturnsTheOldBlock) {
  onFreshAllocator(0, [] {
    auto* data = allocateArray<std::int32_t>(33);  // 132 bytes: class 16
    EXPECT_EQ(currentAllocator()->pools[16]->chunkCount, 1u) << "132 bytes belong to class 16";
    for (int i = 0; i < 33; ++i) data[i] = 7 * i;
    const std::uint64_t free16 = freeIn(16);
    auto* grown = growArray(data, 33, 66);  // 264 bytes: class 17
    EXPECT_EQ(freeIn(16), free16 + 1) << "the old block went back to class 16";
    EXPECT_EQ(currentAllocator()->pools[17]->chunkCount, 1u) << "264 bytes belong to class 17";
    for (int i = 0; i < 33; ++i) EXPECT_EQ(grown[i], 7 * i) << "element " << i << " lost";
    freeArray(grown, 66);
    EXPECT_EQ(freeIn(17), blocksPerChunkOf(17));
  });
}

TEST(Arrays, GrowingNeverReusesTheBlockInPlace) {
  onFreshAllocator(0, [] {
    auto* data = allocateArray<std::int64_t>(3);  // 24 bytes, class 2; 4 elements also class 3
    data[0] = 1;
    auto* grown = growArray(data, 3, 4);
    EXPECT_NE(grown, data) << "growth always takes a new block";
    EXPECT_EQ(grown[0], 1);
    freeArray(grown, 4);
  });
}

TEST(Arrays, GrowingFromNothingCopiesAndFreesNothing) {
  onFreshAllocator(0, [] {
    auto* grown = growArray(static_cast<std::int32_t*>(nullptr), 0, 1);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(freeIn(0), 1023u) << "only the new block was taken";
    freeArray(grown, 1);
  });
}

// Zeroed arrays: a fresh one-block chunk (taken zeroed from the heap) and a block that comes
// back dirty, with and without a budget, keep the pools' counts as allocateArray does.
TEST(Arrays, ZeroedArraysAreZeroWhetherTheBlockIsFreshOrReused) {
  for (const std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{4} << 20}) {
    onFreshAllocator(budget, [budget] {
      constexpr std::uint64_t kWords = 40000;  // 320,000 bytes: class 27, one block a chunk
      constexpr unsigned kClass = 27;
      for (int round = 0; round < 2; ++round) {
        auto* words = allocateZeroedArray<std::uint64_t>(kWords);
        const SizeClassPool* pool = currentAllocator()->pools[kClass];
        EXPECT_EQ(pool->chunkCount, 1u) << "budget " << budget << ", round " << round;
        EXPECT_EQ(pool->freeCount, 0u) << "budget " << budget << ", round " << round;
        std::uint64_t nonZero = 0;
        for (std::uint64_t k = 0; k < kWords; ++k) nonZero += words[k] != 0;
        EXPECT_EQ(nonZero, 0u) << "budget " << budget << ", round " << round;
        for (std::uint64_t k = 0; k < kWords; ++k) words[k] = ~k;
        freeArray(words, kWords);
        EXPECT_EQ(pool->freeCount, 1u);
      }
      auto* small = allocateArray<std::uint8_t>(24);  // a class of many blocks, dirtied
      small[3] = 9;
      freeArray(small, 24);
      auto* zeroed = allocateZeroedArray<std::uint8_t>(24);
      EXPECT_EQ(zeroed, small) << "the same block comes back";
      for (int k = 0; k < 24; ++k) EXPECT_EQ(zeroed[k], 0) << "byte " << k;
      freeArray(zeroed, 24);
    });
  }
}

TEST(Arrays, SameClassComesBackAfterAFree) {
  onFreshAllocator(0, [] {
    auto* a = allocateArray<std::int32_t>(20);  // 80 bytes
    freeArray(a, 20);
    auto* b = allocateArray<std::int64_t>(10);  // 80 bytes, same class
    EXPECT_EQ(static_cast<void*>(b), static_cast<void*>(a));
    freeArray(b, 10);
  });
}

TEST(Arrays, EmptyGrowableArraysGrowToOne) {
  EXPECT_EQ(doubledCapacity(0), 1) << "doubling 0 would never make room";
  EXPECT_EQ(doubledCapacity(1), 2);
  EXPECT_EQ(doubledCapacity(64), 128);
  EXPECT_EQ(doubledCapacity(1 << 30), INT32_MAX) << "2^31 does not fit a 32-bit capacity";
  EXPECT_EXIT(doubledCapacity(INT32_MAX), ::testing::ExitedWithCode(1), "2147483648 elements");
}

struct Tracked {
  explicit Tracked(int* counter) : counter(counter) {}
  virtual ~Tracked() { ++*counter; }
  int* counter;
  char padding[40];
};

TEST(Pooled, DeleteRunsTheDestructorReturnsTheBlockAndNullsTheSlot) {
  onFreshAllocator(0, [] {
    int destroyed = 0;
    constexpr unsigned c = kSizeClassOf<Tracked>;
    Tracked* object = newPooled<Tracked>(&destroyed);
    const std::uint64_t free = freeIn(c);
    deletePooled(object);
    EXPECT_EQ(destroyed, 1) << "destructor not run";
    EXPECT_EQ(object, nullptr) << "slot not cleared";
    EXPECT_EQ(freeIn(c), free + 1) << "block not returned to class " << c;
    deletePooled(object);  // a null slot is harmless
    EXPECT_EQ(destroyed, 1);

    Tracked* many[3] = {newPooled<Tracked>(&destroyed), nullptr, newPooled<Tracked>(&destroyed)};
    deletePooledArray(many, 3);
    EXPECT_EQ(destroyed, 3) << "each non-null slot destroyed once";
    EXPECT_TRUE(many[0] == nullptr && many[2] == nullptr) << "slots cleared";
  });
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

// Sanitizer builds only: the pools poison free blocks and block tails.
TEST(PoolPoisoningDeathTest, UseAfterFreeAndTailOverrunAreReported) {
#if defined(VARNEL_ASAN)
  EXPECT_DEATH(
      {
        auto* data = allocateArray<std::int64_t>(4);
        freeArray(data, 4);
        volatile std::int64_t value = data[2];
        (void)value;
      },
      "use-after-poison");
  EXPECT_DEATH(
      {
        auto* data = allocateArray<std::int32_t>(33);  // 132 bytes in a 256-byte block
        volatile std::int32_t* p = data;
        p[40] = 1;
      },
      "use-after-poison");
#else
  GTEST_SKIP() << "pool poisoning is only active under AddressSanitizer";
#endif
}

}  // namespace
}  // namespace varnel
