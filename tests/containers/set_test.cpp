// Set: the link arrays after each kind of update, insertion-order iteration, fill and clear, and
// a long random sequence against a plain list model.
#include "varnel/containers/set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "varnel/memory/allocator.h"

namespace varnel {
namespace {

std::vector<std::int32_t> links(const std::int32_t* array, std::int32_t n) {
  return std::vector<std::int32_t>(array, array + n + 1);
}

std::vector<std::int32_t> members(const Set& set) {
  std::vector<std::int32_t> out;
  for (const std::int32_t x : set) out.push_back(x);
  return out;
}

// Members following prev from the sentinel, reversed: must equal the forward walk.
std::vector<std::int32_t> backwardMembers(const Set& set) {
  std::vector<std::int32_t> out;
  for (std::int32_t x = set.last(); x != set.sentinel(); x = set.prevLinks()[x]) {
    out.push_back(x);
    if (out.size() > static_cast<std::size_t>(set.universe())) break;  // a broken cycle
  }
  std::reverse(out.begin(), out.end());
  return out;
}

TEST(Set, FreshSetHasUnlinkedElementsAndASelfLinkedSentinel) {
  Set set(4);
  EXPECT_EQ(links(set.nextLinks(), 4), (std::vector<std::int32_t>{0, 0, 0, 0, 4})) << "next";
  EXPECT_EQ(links(set.prevLinks(), 4), (std::vector<std::int32_t>{-1, -1, -1, -1, 4})) << "prev";
  EXPECT_EQ(set.size(), 0) << "size of a fresh set";
  EXPECT_TRUE(members(set).empty()) << "a fresh set iterates nothing";
  for (std::int32_t x = 0; x < 4; ++x) EXPECT_FALSE(set.contains(x)) << "fresh set contains " << x;
}

TEST(Set, PushBackPopBackAndInsertRelinkExactly) {
  Set set(4);
  set.pushBack(2);
  set.pushBack(0);
  const std::int32_t* next = set.nextLinks();
  const std::int32_t* prev = set.prevLinks();
  EXPECT_EQ(next[4], 2) << "first member";
  EXPECT_EQ(next[2], 0) << "successor of 2";
  EXPECT_EQ(next[0], 4) << "successor of the last member is the sentinel";
  EXPECT_EQ(prev[4], 0) << "last member";
  EXPECT_EQ(prev[0], 2) << "predecessor of 0";
  EXPECT_EQ(prev[2], 4) << "predecessor of the first member is the sentinel";
  EXPECT_EQ(members(set), (std::vector<std::int32_t>{2, 0})) << "insertion order";
  EXPECT_EQ(set.size(), 2) << "size after two pushes";

  set.popBack();
  EXPECT_EQ(next[2], 4) << "2 is last again";
  EXPECT_EQ(prev[4], 2) << "the sentinel points back to 2";
  EXPECT_EQ(next[0], -1) << "a popped element is marked removed";
  EXPECT_EQ(prev[0], 2) << "a popped element keeps its old predecessor";
  EXPECT_FALSE(set.contains(0)) << "0 was popped";
  EXPECT_EQ(set.size(), 1) << "size after the pop";

  set.insert(2);
  EXPECT_EQ(members(set), std::vector<std::int32_t>{2}) << "insert of a member changed the set";
  EXPECT_EQ(set.size(), 1) << "insert of a member changed the size";
  set.insert(1);
  set.insert(0);  // a removed element comes back at the end
  EXPECT_EQ(members(set), (std::vector<std::int32_t>{2, 1, 0})) << "inserts append in order";
  EXPECT_EQ(backwardMembers(set), members(set)) << "prev links disagree with next links";
}

TEST(Set, RemoveUnlinksFromAnywhereIncludingWhileWalking) {
  Set set(6);
  for (const std::int32_t x : {3, 5, 0, 1, 4}) set.pushBack(x);
  set.remove(0);  // middle
  set.remove(3);  // first
  EXPECT_EQ(members(set), (std::vector<std::int32_t>{5, 1, 4})) << "after removing 0 and 3";
  EXPECT_EQ(backwardMembers(set), members(set)) << "prev links after removals";
  // Removing each visited element, reading the successor first.
  for (std::int32_t x = set.first(); x != set.sentinel();) {
    const std::int32_t following = set.next(x);
    if (x != 1) set.remove(x);
    x = following;
  }
  EXPECT_EQ(members(set), std::vector<std::int32_t>{1}) << "walk-and-remove left the wrong set";
  EXPECT_EQ(set.size(), 1) << "size after walk-and-remove";
  set.remove(1);
  EXPECT_EQ(set.first(), set.sentinel()) << "an emptied set must link the sentinel to itself";
  EXPECT_EQ(set.last(), set.sentinel()) << "an emptied set must link the sentinel to itself";
}

TEST(Set, FillLinksEveryUnlinkedElementInIncreasingOrder) {
  Set three(3);
  three.fill();
  EXPECT_EQ(members(three), (std::vector<std::int32_t>{0, 1, 2})) << "fill of a fresh Set(3)";
  EXPECT_EQ(three.size(), 3) << "size after fill";
  Set partial(5);
  partial.pushBack(3);
  partial.fill();
  EXPECT_EQ(members(partial), (std::vector<std::int32_t>{3, 0, 1, 2, 4}))
      << "fill must skip members and append the rest in increasing order";
  Set empty(0);
  empty.fill();
  EXPECT_EQ(empty.size(), 0) << "fill of Set(0)";
  EXPECT_EQ(empty.first(), 0) << "the sentinel of Set(0) stays linked to itself";
  EXPECT_EQ(empty.last(), 0) << "the sentinel of Set(0) stays linked to itself";
}

TEST(Set, ClearRestoresAFreshSetWithoutTouchingThePools) {
  Set set(5);
  for (const std::int32_t x : {4, 2, 0}) set.pushBack(x);
  set.remove(2);
  set.popBack();
  const std::int32_t* next = set.nextLinks();
  std::uint64_t freeBefore[kSizeClassCount];
  for (unsigned c = 0; c < kSizeClassCount; ++c)
    freeBefore[c] = currentAllocator()->pools[c]->freeCount;
  set.clear();
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    EXPECT_EQ(currentAllocator()->pools[c]->freeCount, freeBefore[c])
        << "clear touched class " << c;
  }
  EXPECT_EQ(set.nextLinks(), next) << "clear must keep the arrays";
  Set fresh(5);
  EXPECT_EQ(links(set.nextLinks(), 5), links(fresh.nextLinks(), 5)) << "next after clear";
  EXPECT_EQ(links(set.prevLinks(), 5), links(fresh.prevLinks(), 5)) << "prev after clear";
  EXPECT_EQ(set.size(), 0) << "size after clear";
  set.fill();
  EXPECT_EQ(members(set), (std::vector<std::int32_t>{0, 1, 2, 3, 4}))
      << "fill after clear must relink every element, removed ones included";
}

TEST(Set, RandomUpdatesMatchAListModel) {
  std::mt19937 rng(5);
  const std::int32_t n = 37;
  Set set(n);
  std::vector<std::int32_t> model;
  for (int step = 0; step < 20000; ++step) {
    const auto x = static_cast<std::int32_t>(rng() % n);
    const bool inModel = std::find(model.begin(), model.end(), x) != model.end();
    ASSERT_EQ(set.contains(x), inModel) << "membership of " << x << " at step " << step;
    switch (rng() % 4) {
      case 0:
        set.insert(x);
        if (!inModel) model.push_back(x);
        break;
      case 1:
        if (!inModel) {
          set.pushBack(x);
          model.push_back(x);
        }
        break;
      case 2:
        if (inModel) {
          set.remove(x);
          model.erase(std::find(model.begin(), model.end(), x));
        }
        break;
      default:
        if (!model.empty()) {
          set.popBack();
          model.pop_back();
        }
        break;
    }
    ASSERT_EQ(set.size(), static_cast<std::int32_t>(model.size())) << "size at step " << step;
    if (step % 97 == 0) {
      ASSERT_EQ(members(set), model) << "order at step " << step;
      ASSERT_EQ(backwardMembers(set), model) << "prev links at step " << step;
    }
  }
}

}  // namespace
}  // namespace varnel
