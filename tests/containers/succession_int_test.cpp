// SuccessionInt and its forms: doubling growth and the blocks it returns, the empty start, the
// 8-byte handle, and the reversible form's size coming back at a popped restoration point.
#include "varnel/containers/succession_int.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "varnel/containers/succession_int_pimpl.h"
#include "varnel/containers/succession_int_rev.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/solver/solver.h"

namespace varnel {
namespace {

// Blocks of each class in use on the calling thread: obtained minus free.
std::vector<std::int64_t> blocksInUse() {
  std::vector<std::int64_t> usage;
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    const SizeClassPool* pool = currentAllocator()->pools[c];
    usage.push_back(static_cast<std::int64_t>(pool->chunkCount * pool->blocksPerChunk) -
                    static_cast<std::int64_t>(pool->freeCount));
  }
  return usage;
}

TEST(SuccessionInt, FiveAppendsFromCapacityOneDoubleToEightAndReturnTheSmallerBlocks) {
  const std::vector<std::int64_t> before = blocksInUse();
  {
    SuccessionInt s(1);
    std::vector<std::int32_t> capacities;
    for (std::int32_t v = 0; v < 5; ++v) {
      s.pushBack(v);
      capacities.push_back(s.capacity());
    }
    EXPECT_EQ(capacities, (std::vector<std::int32_t>{1, 2, 4, 4, 8}))
        << "capacity after each append: doubling only when full";
    EXPECT_EQ(s.size(), 5) << "size after five appends";
    for (std::int32_t v = 0; v < 5; ++v) EXPECT_EQ(s[v], v) << "element " << v << " lost";
    // 1, 2 and 4 elements (4, 8, 16 bytes) went back; only the 32-byte block is held.
    const std::vector<std::int64_t> during = blocksInUse();
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      EXPECT_EQ(during[c] - before[c], c == sizeClassOf(32) ? 1 : 0)
          << "class " << c << " after growing to 8 elements";
    }
  }
  EXPECT_EQ(blocksInUse(), before) << "destruction must return the 8-element block";
}

TEST(SuccessionInt, CapacityZeroTakesNoBlockAndGrowsToOne) {
  const std::vector<std::int64_t> before = blocksInUse();
  SuccessionInt s(0);
  EXPECT_EQ(s.data(), nullptr) << "capacity 0 must not own a block";
  EXPECT_EQ(blocksInUse(), before) << "capacity 0 touched a pool";
  s.pushBack(42);
  EXPECT_EQ(s.capacity(), 1) << "an empty sequence grows to capacity 1";
  EXPECT_EQ(s[0], 42) << "the first element";
  s.pushBack(43);
  EXPECT_EQ(s.capacity(), 2) << "then doubles";
  EXPECT_EQ(s[0] + s[1], 85) << "both elements kept";
}

TEST(SuccessionInt, EightByteFormKeepsPointersAndWideValuesAcrossGrowth) {
  Succession<std::int64_t> wide(3);
  for (std::int64_t k = 0; k < 13; ++k) wide.pushBack(k << 40);
  EXPECT_EQ(wide.capacity(), 24) << "3 doubles to 6, 12, 24";
  for (std::int32_t k = 0; k < 13; ++k) {
    EXPECT_EQ(wide[k], std::int64_t{k} << 40) << "element " << k << " lost its high bits";
  }
  std::int32_t cells[5];
  Succession<std::int32_t*> pointers(2);
  for (std::int32_t& cell : cells) pointers.pushBack(&cell);
  for (std::int32_t k = 0; k < 5; ++k) EXPECT_EQ(pointers[k], &cells[k]) << "pointer " << k;
}

TEST(SuccessionInt, PimplIsOnePointerToOnePooledSequence) {
  static_assert(sizeof(SuccessionIntPimpl) == 8, "the handle must stay one pointer");
  const std::vector<std::int64_t> before = blocksInUse();
  {
    SuccessionIntPimpl handle(4);
    const std::vector<std::int64_t> built = blocksInUse();
    static_assert(kSizeClassOf<SuccessionInt> != sizeClassOf(16), "object and array differ");
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      const bool held = c == kSizeClassOf<SuccessionInt> || c == sizeClassOf(16);
      EXPECT_EQ(built[c] - before[c], held ? 1 : 0)
          << "class " << c << ": the handle holds one object block and one 4-element array";
    }
    for (std::int32_t v = 0; v < 9; ++v) handle.pushBack(10 * v);
    EXPECT_EQ(handle.size(), 9) << "size through the handle";
    EXPECT_EQ(handle[8], 80) << "element through the handle";
    EXPECT_EQ(handle.impl().capacity(), 16) << "growth through the handle";
  }
  EXPECT_EQ(blocksInUse(), before) << "the handle must return the object and its array";
}

TEST(SuccessionInt, ReversibleSizeComesBackWhenItsPointIsPopped) {
  Solver solver;
  SuccessionIntRev s(4, solver);
  solver.pushRestorationPoint();  // timestamp 1
  for (std::int32_t v = 0; v < 3; ++v) s.pushBack(v);
  ASSERT_EQ(s.stamp(), 1u) << "the first append saves at timestamp 1";
  ASSERT_EQ(s.savedSize(), 0) << "saved before the first append";

  solver.pushRestorationPoint();  // timestamp 2
  const std::int32_t entries = solver.trail->count();
  s.saveOnce(solver);
  EXPECT_EQ(solver.trail->count(), entries + 2) << "saveOnce records an int and an object entry";
  EXPECT_EQ(s.savedSize(), 3) << "snapshot moves savedSize to the size";
  EXPECT_EQ(s.stamp(), 2u) << "the stamp follows the timestamp";
  s.saveOnce(solver);
  EXPECT_EQ(solver.trail->count(), entries + 2) << "a second saveOnce at one point records";
  s.pushBack(3);
  s.pushBack(4);
  EXPECT_EQ(solver.trail->count(), entries + 2) << "appends after the save record nothing";
  EXPECT_EQ(s.size(), 5) << "size before the pop";

  solver.popRestorationPoint();
  EXPECT_EQ(s.size(), 3) << "the pop restores the size at the point";
  EXPECT_EQ(s.savedSize(), 0) << "the pop restores the previous savedSize";
  for (std::int32_t v = 0; v < 3; ++v) EXPECT_EQ(s[v], v) << "element " << v << " changed";
  solver.popRestorationPoint();
  EXPECT_EQ(s.size(), 0) << "the outer pop restores the empty sequence";

  s.pushBack(7);  // no point open: timestamp 2 is not above the stamp, nothing is recorded
  EXPECT_EQ(s.size(), 1) << "append with no point open";
  s.reset();
  EXPECT_EQ(s.size() + s.savedSize(), 0) << "reset empties the sequence";
  EXPECT_EQ(s.stamp(), 0u) << "reset forgets the stamp";
}

}  // namespace
}  // namespace varnel
