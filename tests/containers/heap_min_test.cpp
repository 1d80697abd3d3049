// HeapMinDouble and HeapMinInt64: capacity and fillers, the tie rules of both sift directions,
// unchanged state on an equal key, and random key changes against a brute-force model.
#include "varnel/containers/heap_min.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace varnel {
namespace {

// An Array holding `values`, to build heaps from.
template <class Key>
struct KeyArray : Array<Key> {
  explicit KeyArray(const std::vector<Key>& values)
      : Array<Key>(static_cast<std::int32_t>(values.size())) {
    for (std::size_t i = 0; i < values.size(); ++i)
      (*this)[static_cast<std::int32_t>(i)] = values[i];
  }
};

// The three arrays, position by position, to compare whole states.
template <class Key>
struct HeapState {
  std::vector<Key> keys;
  std::vector<std::int32_t> elementAt, positionOf;
  bool operator==(const HeapState&) const = default;
};

template <class Key>
HeapState<Key> stateOf(const HeapMin<Key>& heap) {
  HeapState<Key> state;
  for (std::int32_t p = 0; p < heap.capacity(); ++p) {
    state.keys.push_back(heap.keyAt(p));
    state.elementAt.push_back(heap.elementAt(p));
    state.positionOf.push_back(heap.positionOf(p));
  }
  return state;
}

TEST(HeapMin, CapacityIsTheSmallestFullTreeWithMoreLevelsThanLog2N) {
  for (std::int32_t n : {1, 2, 3, 7, 8, 10, 15, 16, 20, 31, 32, 10000}) {
    // 2^k - 1 for the smallest k with 2^k > n.
    std::int32_t expected = 1;
    while (expected + 1 <= n) expected = 2 * expected + 1;
    EXPECT_EQ(HeapMinDouble::capacityFor(n), expected) << "capacity for n = " << n;
  }
}

TEST(HeapMin, TwentyValuesFillThirtyOnePositionsWithFillersAbove) {
  std::mt19937 random(7);
  std::vector<double> values;
  for (int i = 0; i < 20; ++i) values.push_back(static_cast<double>(random() % 100));
  HeapMinDouble heap{KeyArray<double>(values)};
  ASSERT_EQ(heap.capacity(), 31) << "20 values need 31 positions";
  ASSERT_EQ(heap.count(), 20) << "every value is live";
  for (std::int32_t p = 20; p < 31; ++p) {
    EXPECT_EQ(heap.elementAt(p), p) << "filler position " << p << " holds another element";
    EXPECT_EQ(heap.keyAt(p), 1.7976931348623157e308) << "filler " << p << " key";
  }
  for (std::int32_t p = 0; p < 31; ++p) {
    EXPECT_EQ(heap.positionOf(heap.elementAt(p)), p) << "maps disagree at position " << p;
  }
  EXPECT_EQ(heap.keyAt(0), *std::min_element(values.begin(), values.end())) << "min not on top";
  for (std::int32_t e = 0; e < 20; ++e) {
    EXPECT_EQ(heap.keyOf(e), values[static_cast<std::size_t>(e)]) << "element " << e << " key";
  }
  EXPECT_TRUE(heap.audit()) << "heap order or maps broken after heapify";
}

TEST(HeapMin, FullTreeOfFifteenHasNoFillerAndStaysInBounds) {
  // count = capacity: a sift that compared with a right child past position 14 would read
  // outside the keys block (debug builds assert every key index).
  std::mt19937 random(11);
  std::vector<std::int64_t> values;
  for (int i = 0; i < 15; ++i) values.push_back(static_cast<std::int64_t>(random() % 50));
  HeapMinInt64 heap{KeyArray<std::int64_t>(values)};
  ASSERT_EQ(heap.capacity(), 15) << "15 values fit 15 positions";
  for (int step = 0; step < 2000; ++step) {
    const std::int32_t e = static_cast<std::int32_t>(random() % 15);
    const std::int64_t key = static_cast<std::int64_t>(random() % 50);
    heap.setKey(e, key);
    values[static_cast<std::size_t>(e)] = key;
    ASSERT_TRUE(heap.audit()) << "step " << step << ": heap broken";
    ASSERT_EQ(heap.keyAt(0), *std::min_element(values.begin(), values.end()))
        << "step " << step << ": min not on top";
  }
}

TEST(HeapMin, LoweringAKeyToItsParentsKeyLiftsTheElementAboveIt) {
  HeapMinDouble heap(KeyArray<double>({1, 5, 3}));
  ASSERT_EQ(heap.elementAt(1), 1) << "heapify moved an element already in order";
  heap.setKey(1, 1.0);
  EXPECT_EQ(heap.elementAt(0), 1) << "on a tie the rising element goes above its parent";
  EXPECT_EQ(heap.elementAt(1), 0) << "the parent must move down into the freed position";
  EXPECT_EQ(heap.positionOf(0), 1) << "maps not updated";
  EXPECT_TRUE(heap.audit()) << "heap broken";
}

TEST(HeapMin, RaisingTheTopOverTwoEqualChildrenMovesTheLeftOneUp) {
  HeapMinInt64 heap(KeyArray<std::int64_t>({1, 4, 4}));
  heap.setKey(0, 9);
  EXPECT_EQ(heap.elementAt(0), 1) << "on equal children the left one must rise";
  EXPECT_EQ(heap.elementAt(1), 0) << "the raised element must take the left child's place";
  EXPECT_EQ(heap.elementAt(2), 2) << "the right child must stay";
  EXPECT_TRUE(heap.audit()) << "heap broken";
}

TEST(HeapMin, SiftDownStopsAtAChildWithAnEqualKey) {
  HeapMinInt64 heap(KeyArray<std::int64_t>({2, 5, 6}));
  heap.setKey(0, 5);
  EXPECT_EQ(heap.elementAt(0), 0) << "an equal child key must stop the descent";
  EXPECT_EQ(heap.elementAt(1), 1) << "the left child moved although its key was not smaller";
}

TEST(HeapMin, SettingTheCurrentKeyChangesNothing) {
  HeapMinDouble heap(KeyArray<double>({3, 3, 1, 3, 2, 3, 3}));
  const HeapState<double> before = stateOf(heap);
  for (std::int32_t e = 0; e < 7; ++e) {
    heap.setKey(e, heap.keyOf(e));
    EXPECT_EQ(stateOf(heap), before) << "setKey(" << e << ", its own key) changed the heap";
  }
}

TEST(HeapMin, SizeHintBuildsAnEmptyHeapOfFillers) {
  HeapMinInt64 heap(10);
  EXPECT_EQ(heap.capacity(), 15) << "hint 10 gives 15 positions";
  EXPECT_EQ(heap.count(), 0) << "no live element";
  for (std::int32_t p = 0; p < 15; ++p) {
    EXPECT_EQ(heap.elementAt(p), p) << "elementAt must be the identity";
    EXPECT_EQ(heap.positionOf(p), p) << "positionOf must be the identity";
    EXPECT_EQ(heap.keyAt(p), std::numeric_limits<std::int64_t>::max()) << "filler key at " << p;
  }
}

TEST(HeapMin, ClearPutsTheLargestKeyOnEveryLivePosition) {
  HeapMinInt64 heap(KeyArray<std::int64_t>({8, 3, 5, 1}));
  const std::vector<std::int32_t> elementAt = stateOf(heap).elementAt;
  heap.clear();
  EXPECT_EQ(heap.count(), 0) << "clear must leave no live element";
  for (std::int32_t p = 0; p < heap.capacity(); ++p) {
    EXPECT_EQ(heap.keyAt(p), std::numeric_limits<std::int64_t>::max()) << "key at " << p;
  }
  EXPECT_EQ(stateOf(heap).elementAt, elementAt) << "clear must keep the maps";
}

template <class Key>
void checkRandomKeyChanges(std::uint32_t seed) {
  std::mt19937 random(seed);
  const std::int32_t count = 1 + static_cast<std::int32_t>(random() % 40);
  std::vector<Key> model;
  for (std::int32_t i = 0; i < count; ++i) model.push_back(static_cast<Key>(random() % 30));
  HeapMin<Key> heap{KeyArray<Key>(model)};
  for (int step = 0; step < 500; ++step) {
    const std::int32_t e = static_cast<std::int32_t>(random() % static_cast<unsigned>(count));
    const Key key = static_cast<Key>(random() % 30);
    heap.setKey(e, key);
    model[static_cast<std::size_t>(e)] = key;
    ASSERT_TRUE(heap.audit()) << "seed " << seed << " step " << step << ": heap broken";
    for (std::int32_t x = 0; x < count; ++x) {
      ASSERT_EQ(heap.keyOf(x), model[static_cast<std::size_t>(x)])
          << "seed " << seed << " step " << step << ": key of element " << x;
    }
    ASSERT_EQ(heap.keyAt(0), *std::min_element(model.begin(), model.end()))
        << "seed " << seed << " step " << step << ": min not on top";
  }
}

TEST(HeapMin, RandomKeyChangesKeepEveryKeyAndTheMinimumOnTop) {
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    checkRandomKeyChanges<double>(seed);
    checkRandomKeyChanges<std::int64_t>(seed + 100);
  }
}

}  // namespace
}  // namespace varnel
