// Model check of restoration points over several reversible containers on one solver: random
// nested pushes, updates and pops on a SetRev, a SuccessionIntRev, a DigraphRev, a GraphRev and
// a SparseBitSetRev (checked against a plain set after every update), each pop compared with a
// plain copy of everything taken at the matching push.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "solver/reversible_world.h"

namespace varnel {
namespace {

constexpr std::int32_t kSetUniverse = 40;
constexpr std::int32_t kDigraphNodes = 8;  // of the digraph's 1000, the ones the walk uses
constexpr std::int32_t kGraphNodes = 12;
constexpr std::int32_t kGraphSlots = 6;
constexpr std::int32_t kGraphEdgeIds = 200;

using testing::Copy;
using testing::World;

constexpr testing::WorldSizes kSizes{kSetUniverse, kDigraphNodes, kGraphNodes, kGraphSlots,
                                     kGraphEdgeIds};

void expectSame(const Copy& now, const Copy& saved, const std::string& when) {
  EXPECT_EQ(now.set, saved.set) << when << ": SetRev members";
  EXPECT_EQ(now.setSize, saved.setSize) << when << ": SetRev size";
  EXPECT_EQ(now.succession, saved.succession) << when << ": SuccessionIntRev elements";
  EXPECT_EQ(now.inArcCount, saved.inArcCount) << when << ": digraph in-side arc count";
  EXPECT_EQ(now.outArcCount, saved.outArcCount) << when << ": digraph out-side arc count";
  EXPECT_EQ(now.inSlotCounts, saved.inSlotCounts) << when << ": digraph in-side slot counts";
  EXPECT_EQ(now.outSlotCounts, saved.outSlotCounts) << when << ": digraph out-side slot counts";
  EXPECT_EQ(now.inSlots, saved.inSlots) << when << ": digraph in-side present slots";
  EXPECT_EQ(now.outSlots, saved.outSlots) << when << ": digraph out-side present slots";
  EXPECT_EQ(now.arcs, saved.arcs) << when << ": digraph present arcs";
  EXPECT_EQ(now.edgeCount, saved.edgeCount) << when << ": graph edge count";
  EXPECT_EQ(now.graphSlotCounts, saved.graphSlotCounts) << when << ": graph slot counts";
  EXPECT_EQ(now.graphSlots, saved.graphSlots) << when << ": graph present slots";
  EXPECT_EQ(now.edges, saved.edges) << when << ": graph present edges";
  EXPECT_EQ(now.bits, saved.bits) << when << ": sparse bitset members";
}

// Intersects the bitset with a random mask, directly or through the scratch mask (reversed or
// not), and checks the result, the change flag, intersectIndex and the invariants against a
// plain set.
void bitsetUpdate(World& w, std::mt19937& random) {
  SparseBitSetRev& bits = w.bits;
  std::vector<std::uint64_t> m(static_cast<std::size_t>(bits.wordCount()));
  // Mostly ones, so that the set empties slowly; now and then a whole word cleared.
  for (auto& word : m) {
    word = random() % 16 == 0 ? 0 : ~(std::uint64_t{1} << (random() % 64));
    if (random() % 3 == 0) word &= ~(std::uint64_t{1} << (random() % 64));
  }
  const bool reversed = random() % 3 == 0;
  std::set<std::int32_t> before, expected;
  for (std::int32_t e = 0; e < bits.universe(); ++e) {
    if (!bits.contains(e)) continue;
    before.insert(e);
    const bool inMask = (m[static_cast<std::size_t>(e >> 6)] >> (e & 63)) & 1;
    if (inMask != reversed) expected.insert(e);
  }
  const std::int32_t shared = bits.intersectIndex(m.data());
  bool anyShared = false;
  for (std::int32_t e : before) anyShared = anyShared || ((m[e >> 6] >> (e & 63)) & 1);
  EXPECT_EQ(shared >= 0, anyShared) << "intersectIndex on disjointness";
  if (shared >= 0) EXPECT_NE(bits.word(shared) & m[static_cast<std::size_t>(shared)], 0u);
  bool changed = false;
  if (reversed) {
    // The mask of the elements to remove, reversed: the paper's incremental update.
    std::vector<std::uint64_t> removed(m);
    bits.clearMask();
    bits.addToMask(removed.data());
    bits.reverseMask();
    changed = bits.intersectWithMask();
  } else if (random() % 2 == 0) {
    bits.clearMask();
    bits.addToMask(m.data());
    changed = bits.intersectWithMask();
  } else {
    changed = bits.intersectWith(m.data());
  }
  std::set<std::int32_t> now;
  for (std::int32_t e = 0; e < bits.universe(); ++e) {
    if (bits.contains(e)) now.insert(e);
  }
  EXPECT_EQ(now, expected) << "sparse bitset after an intersection";
  EXPECT_EQ(changed, now != before) << "sparse bitset change flag";
  EXPECT_TRUE(bits.audit()) << "sparse bitset invariants";
  EXPECT_EQ(bits.empty(), now.empty()) << "sparse bitset emptiness";
}

// One random update of one container, within its preconditions. `popped`: a point was popped
// since the last push, when the bitset (whose stamps a pop does not lower) may not change.
void randomUpdate(World& w, std::mt19937& random, std::int32_t step, bool popped) {
  switch (random() % 9) {
    case 0:
    case 1: {
      // Members cannot be pushed; nor can elements popped since the set's last restoration,
      // whose prev is still their old predecessor.
      const std::int32_t x = static_cast<std::int32_t>(random() % kSetUniverse);
      if (w.set.contains(x) || w.set.prevLinks()[x] >= 0) return;
      if (random() % 2 == 0) {
        w.set.pushBack(x);
      } else {
        w.set.pushFront(x);
      }
      return;
    }
    case 2:
      if (w.set.size() == 0) return;
      if (random() % 2 == 0) {
        w.set.popBack();
      } else {
        w.set.popFront();
      }
      return;
    case 3:
      w.succession.pushBack(step);
      return;
    case 4: {
      const std::int32_t tail = static_cast<std::int32_t>(random() % kDigraphNodes);
      const std::int32_t head = static_cast<std::int32_t>(random() % kDigraphNodes);
      if (w.digraph.outArcs().node(tail).slotCount == DigraphRev::kSlotCapacity) return;
      if (w.digraph.inArcs().node(head).slotCount == DigraphRev::kSlotCapacity) return;
      w.digraph.createArc(tail, head);
      return;
    }
    case 5: {
      const std::int32_t created = w.digraph.inArcs().arcCount();
      if (created == 0) return;
      const std::int32_t a = static_cast<std::int32_t>(random() % static_cast<unsigned>(created));
      if (!w.digraph.arcSet().contains(a)) w.digraph.addArc(a);
      return;
    }
    case 6: {
      const std::int32_t u = static_cast<std::int32_t>(random() % kGraphNodes);
      const std::int32_t v =
          (u + 1 + static_cast<std::int32_t>(random() % (kGraphNodes - 1))) % kGraphNodes;
      const auto& ends = w.graph.edgeEnds().firstEnds();
      if (ends.node(u).slotCount == kGraphSlots || ends.node(v).slotCount == kGraphSlots) return;
      w.graph.createEdge(u, v);
      return;
    }
    case 7:
      if (!popped) bitsetUpdate(w, random);
      return;
    default: {
      const std::int32_t created = w.graph.edgeEnds().firstEnds().arcCount();
      if (created == 0) return;
      const std::int32_t e = static_cast<std::int32_t>(random() % static_cast<unsigned>(created));
      if (!w.graph.edgeSet().contains(e)) w.graph.addEdge(e);
      return;
    }
  }
}

TEST(ReversibleModel, RandomNestedChangesMatchCopiesTakenAtEachPush) {
  int pops = 0;
  int deepPops = 0;
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    Solver solver;
    World w(solver, kSizes);
    std::mt19937 random(seed);
    std::vector<Copy> copies;
    bool popped = false;
    for (std::int32_t step = 0; step < 1500; ++step) {
      const unsigned action = random() % 12;
      if (copies.empty() || (action == 0 && copies.size() < 10)) {
        copies.push_back(w.copy());
        solver.pushRestorationPoint();
        popped = false;
      } else if (action == 1) {
        popped = true;
        if (copies.size() >= 3) ++deepPops;
        solver.popRestorationPoint();
        ++pops;
        expectSame(w.copy(), copies.back(),
                   "seed " + std::to_string(seed) + " step " + std::to_string(step));
        EXPECT_TRUE(w.bits.audit()) << "sparse bitset invariants after a pop";
        if (::testing::Test::HasFailure()) return;
        copies.pop_back();
      } else {
        randomUpdate(w, random, step, popped);
      }
    }
    while (!copies.empty()) {
      solver.popRestorationPoint();
      expectSame(w.copy(), copies.back(), "seed " + std::to_string(seed) + " final pops");
      if (::testing::Test::HasFailure()) return;
      copies.pop_back();
    }
  }
  EXPECT_GT(pops, 1000) << "the walk popped too rarely to test anything";
  EXPECT_GT(deepPops, 100) << "the walk rarely popped a point nested three deep";
}

TEST(ReversibleModel, ChangesFirstMadeInsideAClosedPointAreUndoneByTheOuterPop) {
  // Each container registers at the inner point only; after that pop its stamp equals the
  // solver's timestamp, yet a change at the outer level must still be undone by the outer pop.
  Solver solver;
  World w(solver, kSizes);
  const Copy atStart = w.copy();
  solver.pushRestorationPoint();
  solver.pushRestorationPoint();
  w.set.pushBack(1);
  w.digraph.addArc(w.digraph.createArc(0, 1));
  w.graph.addEdge(w.graph.createEdge(0, 1));
  solver.popRestorationPoint();
  w.set.pushBack(2);
  w.digraph.addArc(w.digraph.createArc(2, 3));
  w.graph.addEdge(w.graph.createEdge(2, 3));
  solver.popRestorationPoint();
  expectSame(w.copy(), atStart, "after the outer pop");
}

}  // namespace
}  // namespace varnel
