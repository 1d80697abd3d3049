// Model check of restoration points over several reversible containers on one solver: random
// nested pushes, updates and pops on a SetRev, a SuccessionIntRev, a DigraphRev and a GraphRev,
// each pop compared with a plain copy of everything taken at the matching push.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "varnel/containers/set_rev.h"
#include "varnel/containers/succession_int_rev.h"
#include "varnel/solver/digraph_rev.h"
#include "varnel/solver/graph_rev.h"
#include "varnel/solver/solver.h"

namespace varnel {
namespace {

constexpr std::int32_t kSetUniverse = 40;
constexpr std::int32_t kDigraphNodes = 8;  // of the digraph's 1000, the ones the walk uses
constexpr std::int32_t kGraphNodes = 12;
constexpr std::int32_t kGraphSlots = 6;
constexpr std::int32_t kGraphEdgeIds = 200;

std::vector<std::int32_t> membersOf(const Set& set) {
  std::vector<std::int32_t> members;
  for (std::int32_t x : set) {
    members.push_back(x);
    if (members.size() > static_cast<std::size_t>(set.universe())) break;  // a broken chain
  }
  return members;
}

// Everything the walk can change, as plain values.
struct Copy {
  std::vector<std::int32_t> set;
  std::vector<std::int32_t> succession;
  std::int32_t inArcCount = 0, outArcCount = 0;
  std::vector<std::int32_t> inSlotCounts, outSlotCounts;
  std::vector<std::vector<std::int32_t>> inSlots, outSlots;
  std::vector<std::int32_t> arcs;
  std::int32_t edgeCount = 0;
  std::vector<std::int32_t> graphSlotCounts;
  std::vector<std::vector<std::int32_t>> graphSlots;
  std::vector<std::int32_t> edges;
};

struct World {
  explicit World(Solver& s)
      : solver(s), set(s, kSetUniverse), succession(1, s), digraph(s),
        graph(s, kGraphNodes, kGraphSlots, kGraphEdgeIds) {}
  // Pops before the containers go, so that no trail entry outlives its object.
  ~World() { solver.popAllRestorationPoints(); }

  Copy copy() const {
    Copy c;
    c.set = membersOf(set);
    c.succession.assign(succession.data(), succession.data() + succession.size());
    c.inArcCount = digraph.inArcs().arcCount();
    c.outArcCount = digraph.outArcs().arcCount();
    for (std::int32_t v = 0; v < kDigraphNodes; ++v) {
      c.inSlotCounts.push_back(digraph.inArcs().node(v).slotCount);
      c.outSlotCounts.push_back(digraph.outArcs().node(v).slotCount);
      c.inSlots.push_back(membersOf(digraph.inArcs().node(v).slotSet));
      c.outSlots.push_back(membersOf(digraph.outArcs().node(v).slotSet));
    }
    c.arcs = membersOf(digraph.arcSet());
    c.edgeCount = graph.edgeEnds().firstEnds().arcCount();
    for (std::int32_t v = 0; v < kGraphNodes; ++v) {
      c.graphSlotCounts.push_back(graph.edgeEnds().firstEnds().node(v).slotCount);
      c.graphSlots.push_back(membersOf(graph.edgeEnds().firstEnds().node(v).slotSet));
    }
    c.edges = membersOf(graph.edgeSet());
    return c;
  }

  Solver& solver;
  SetRev set;
  SuccessionIntRev succession;
  DigraphRev digraph;
  GraphRev graph;
};

void expectSame(const Copy& now, const Copy& saved, const std::string& when) {
  EXPECT_EQ(now.set, saved.set) << when << ": SetRev members";
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
    World w(solver);
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
  World w(solver);
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
