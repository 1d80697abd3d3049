// Model check of restoration points over several reversible containers on one solver: random
// nested pushes, updates and pops on a SetRev, a SuccessionIntRev, a DigraphRev and a GraphRev,
// each pop compared with a plain copy of everything taken at the matching push.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
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
}

// One random update of one container, within its preconditions.
void randomUpdate(World& w, std::mt19937& random, std::int32_t step) {
  switch (random() % 8) {
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
    for (std::int32_t step = 0; step < 1500; ++step) {
      const unsigned action = random() % 12;
      if (copies.empty() || (action == 0 && copies.size() < 10)) {
        copies.push_back(w.copy());
        solver.pushRestorationPoint();
      } else if (action == 1) {
        if (copies.size() >= 3) ++deepPops;
        solver.popRestorationPoint();
        ++pops;
        expectSame(w.copy(), copies.back(),
                   "seed " + std::to_string(seed) + " step " + std::to_string(step));
        if (::testing::Test::HasFailure()) return;
        copies.pop_back();
      } else {
        randomUpdate(w, random, step);
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
