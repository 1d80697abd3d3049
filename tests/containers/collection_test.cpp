// The hash-indexed collection: sizing, lookups in a fresh table, duplicates, collisions and
// wrap-around under linear probing, growth with rehash, the address instance's home slots, and
// the return of both arrays to the pools of the thread that built it.
#include "varnel/containers/collection.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "memory/thread_allocator.h"
#include "varnel/memory/pooled.h"

namespace varnel {
namespace {

// Checks every invariant of the table: each item number is held by exactly one slot, reached
// from its item's home by stepping over occupied slots only, and no slot holds a number >= size.
template <class Item, class Hash>
void expectSound(const BasicCollection<Item, Hash>& c, const char* when) {
  const std::int32_t slots = c.slotCount();
  std::vector<int> holders(static_cast<std::size_t>(c.size()), 0);
  for (std::int32_t p = 0; p < slots; ++p) {
    const std::int32_t e = c.slot(p);
    if (e == -1) continue;
    ASSERT_GE(e, 0) << when << ": slot " << p << " holds a negative number other than -1";
    ASSERT_LT(e, c.size()) << when << ": slot " << p << " holds an unused item number";
    ++holders[static_cast<std::size_t>(e)];
    for (std::int32_t q = Hash::of(c.item(e)) & (slots - 1); q != p; q = (q + 1) & (slots - 1)) {
      ASSERT_NE(c.slot(q), -1) << when << ": item " << e << " sits past an empty slot " << q;
    }
  }
  for (std::int32_t e = 0; e < c.size(); ++e) {
    EXPECT_EQ(holders[static_cast<std::size_t>(e)], 1)
        << when << ": item number " << e << " is not held by exactly one slot";
  }
}

// Blocks of a class handed out and not yet returned.
std::uint64_t blocksInUse(unsigned sizeClass) {
  const SizeClassPool& pool = *currentAllocator()->pools[sizeClass];
  return pool.chunkCount * pool.blocksPerChunk - pool.freeCount;
}

TEST(Collection, SlotCountIsFourTimesTheLargestPowerOfTwoNotAboveCapacity) {
  const struct {
    std::int32_t capacity, slots;
  } cases[] = {{10000, 32768}, {8, 32}, {7, 16}, {1, 4}, {2, 8}, {3, 8}, {4096, 16384}};
  for (const auto& c : cases) {
    Collection collection(c.capacity);
    EXPECT_EQ(collection.slotCount(), c.slots) << "capacity " << c.capacity;
    EXPECT_EQ(collection.capacity(), c.capacity) << "capacity " << c.capacity << " not kept";
    EXPECT_EQ(collection.size(), 0) << "capacity " << c.capacity << ": fresh collection not empty";
    EXPECT_GT(collection.slotCount(), 2 * c.capacity)
        << "capacity " << c.capacity << ": fewer than twice as many slots as items";
  }
  EXPECT_EXIT(Collection(1 << 30), ::testing::ExitedWithCode(1), "4294967296 elements asked of")
      << "2^32 slots cannot be numbered in 32 bits: refused, not wrapped to 0";
}

TEST(Collection, FreshTableIsAllEmptyAndFindsNothing) {
  Collection collection(10000);
  for (std::int32_t p = 0; p < collection.slotCount(); ++p) {
    ASSERT_EQ(collection.slot(p), -1) << "slot " << p << " of a fresh table is not empty";
  }
  const std::int64_t absent[] = {0, 1, 9999, 10000, 19999, 32767, 32768, -1, std::int64_t{1} << 40};
  for (std::int64_t x : absent) {
    EXPECT_EQ(collection.indexOf(x), -1) << "a fresh collection found " << x;
  }
}

TEST(Collection, DuplicatePushIsIgnored) {
  Collection collection(4);
  collection.push_back(5);
  collection.push_back(5);
  EXPECT_EQ(collection.size(), 1) << "a duplicate was appended";
  EXPECT_EQ(collection.indexOf(5), 0) << "5 not found as item 0";
  collection.push_back(6);
  collection.push_back(5);
  EXPECT_EQ(collection.size(), 2) << "a duplicate after another item was appended";
  EXPECT_EQ(collection.indexOf(6), 1) << "6 not found as item 1";
}

TEST(Collection, CollidingItemsTakeConsecutiveSlots) {
  Collection collection(8);  // 32 slots
  const std::int64_t x = 5;
  const std::int64_t slots = collection.slotCount();
  collection.push_back(x);
  collection.push_back(x + slots);
  collection.push_back(x + 2 * slots);
  EXPECT_EQ(collection.slot(5), 0) << "first item not in its home slot";
  EXPECT_EQ(collection.slot(6), 1) << "second colliding item not in the next slot";
  EXPECT_EQ(collection.slot(7), 2) << "third colliding item not two slots on";
  EXPECT_EQ(collection.indexOf(x + slots), 1) << "lookup did not step over the first item";
  EXPECT_EQ(collection.indexOf(x + 2 * slots), 2) << "lookup did not step over two items";
  EXPECT_EQ(collection.indexOf(x + 3 * slots), -1) << "absent colliding item was found";
  // An item whose home is an occupied slot of another chain steps on too.
  collection.push_back(6);
  EXPECT_EQ(collection.slot(8), 3) << "item homed at 6 must go to the first free slot, 8";
  EXPECT_EQ(collection.indexOf(6), 3) << "item homed at an occupied slot not found";
  expectSound(collection, "after collisions");
}

TEST(Collection, ProbingWrapsFromTheLastSlotToSlotZero) {
  Collection collection(8);  // 32 slots
  const std::int64_t last = collection.slotCount() - 1;
  collection.push_back(last);
  collection.push_back(last + collection.slotCount());
  collection.push_back(-1);  // home 31 as well: -1 & 31
  EXPECT_EQ(collection.slot(31), 0) << "item not in the last slot";
  EXPECT_EQ(collection.slot(0), 1) << "probe did not wrap to slot 0";
  EXPECT_EQ(collection.slot(1), 2) << "probe did not go on past slot 0";
  EXPECT_EQ(collection.indexOf(last + collection.slotCount()), 1) << "lookup did not wrap";
  EXPECT_EQ(collection.indexOf(-1), 2) << "negative item homed at the last slot not found";
  EXPECT_EQ(collection.indexOf(last + 2 * collection.slotCount()), -1)
      << "absent item found after the wrap";
  expectSound(collection, "after a wrap");
}

TEST(Collection, OneItemPastCapacityDoublesBothArraysAndKeepsItemNumbers) {
  Collection collection(8);
  // Several items share home slots, so the rehash has chains to rebuild.
  const std::vector<std::int64_t> items = {3, 35, 67, 4, 31, 63, 0, 1000, 99};
  for (std::int64_t x : items) collection.push_back(x);
  EXPECT_EQ(collection.capacity(), 16) << "the ninth item must double the capacity";
  EXPECT_EQ(collection.slotCount(), 64) << "the ninth item must double the slot count";
  EXPECT_EQ(collection.size(), 9) << "an item was lost in the growth";
  for (std::int32_t e = 0; e < 9; ++e) {
    EXPECT_EQ(collection.indexOf(items[e]), e) << "item " << items[e] << " changed its number";
    EXPECT_EQ(collection.item(e), items[e]) << "item number " << e << " holds another item";
  }
  expectSound(collection, "after growth");
}

TEST(Collection, RandomPushesAgreeWithAHashMap) {
  // Many growths from capacity 1, duplicates, negatives and colliding values.
  Collection collection(1);
  std::unordered_map<std::int64_t, std::int32_t> model;
  std::mt19937_64 random(7);
  for (int step = 0; step < 3000; ++step) {
    const std::int64_t x = static_cast<std::int64_t>(random() % 2048) * 1024 - 700000;
    collection.push_back(x);
    model.emplace(x, static_cast<std::int32_t>(model.size()));
    ASSERT_EQ(collection.size(), static_cast<std::int32_t>(model.size()))
        << "step " << step << ": size disagrees with the model";
  }
  for (std::int64_t probe = -700000; probe < 2048 * 1024 - 700000; probe += 512) {
    const auto found = model.find(probe);
    EXPECT_EQ(collection.indexOf(probe), found == model.end() ? -1 : found->second)
        << "lookup of " << probe << " disagrees with the model";
  }
  expectSound(collection, "after random pushes");
}

TEST(Collection, AddressesEightBytesApartFillConsecutiveHomeSlots) {
  AddressCollection collection(16);  // 64 slots
  alignas(8) static std::int64_t objects[5];
  for (auto& object : objects) collection.push_back(&object);
  const std::int32_t mask = collection.slotCount() - 1;
  const auto home = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(&objects[0]) >> 3);
  for (std::int32_t k = 0; k < 5; ++k) {
    EXPECT_EQ(collection.slot((home + k) & mask), k)
        << "object " << k << " is not in the home slot right after object " << k - 1;
    EXPECT_EQ(collection.indexOf(&objects[k]), k) << "object " << k << " not found";
  }
  EXPECT_EQ(collection.indexOf(&objects[0] + 5), -1) << "an address never pushed was found";
  expectSound(collection, "address instance");
}

TEST(Collection, DestructionReturnsBothBlocksToTheBuildingThread) {
  testing::onFreshAllocator(0, [] {
    const unsigned slotClass = sizeClassOf(32768 * 4);
    const unsigned itemClass = sizeClassOf(10000 * 8);
    const std::uint64_t before = blocksInUse(slotClass);
    Collection* collection = newPooled<Collection>(10000);
    EXPECT_EQ(blocksInUse(slotClass), before + (slotClass == itemClass ? 2 : 1))
        << "construction did not take the slot and item blocks from this thread";
    deletePooled(collection);
    EXPECT_EQ(blocksInUse(slotClass), before) << "destruction did not return both blocks";
    EXPECT_EQ(blocksInUse(kSizeClassOf<Collection>), 0u) << "the object's own block stayed taken";

    // After growth the arrays are in larger classes: they must be freed in those.
    Collection* grown = newPooled<Collection>(8);
    for (std::int64_t x = 0; x < 9; ++x) grown->push_back(x);
    EXPECT_EQ(blocksInUse(sizeClassOf(16 * 8)), 1u) << "grown item array not in its class";
    EXPECT_EQ(blocksInUse(sizeClassOf(64 * 4)), 1u) << "grown slot array not in its class";
    EXPECT_EQ(blocksInUse(sizeClassOf(8 * 8)), 0u) << "the old item array was not returned";
    deletePooled(grown);
    EXPECT_EQ(blocksInUse(sizeClassOf(16 * 8)), 0u) << "grown item array freed in a wrong class";
    EXPECT_EQ(blocksInUse(sizeClassOf(64 * 4)), 0u) << "grown slot array freed in a wrong class";
  });
}

}  // namespace
}  // namespace varnel
