// Graph and GraphRev: the slot layout of the 4,950 edges of a complete graph on 100 nodes, the
// order of the sets after adding them all, the sizes of a configured GraphRev, registration once
// per point, and slot numbers given back at both ends when a pop undoes edge creations.
#include "varnel/solver/graph.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "containers/set_members.h"
#include "varnel/solver/graph_rev.h"
#include "varnel/solver/solver.h"

namespace varnel {
namespace {

using testing::membersOf;

using testing::firstIntegers;

template <class G>
void createCompleteGraph(G& graph) {
  std::int32_t expected = 0;
  for (std::int32_t i = 0; i < 99; ++i) {
    for (std::int32_t j = i + 1; j < 100; ++j) {
      ASSERT_EQ(graph.createEdge(i, j), expected++) << "edge ids must follow creation order";
    }
  }
}

template <class G>
void expectCompleteLayout(const G& graph) {
  const auto& first = graph.edgeEnds().firstEnds();
  const auto& second = graph.edgeEnds().secondEnds();
  EXPECT_EQ(first.arcCount(), 4950) << "edges are counted by the first ends";
  EXPECT_EQ(second.arcCount(), 0) << "the second ends never advance their count";
  std::int32_t e = 0;
  for (std::int32_t i = 0; i < 99; ++i) {
    for (std::int32_t j = i + 1; j < 100; ++j, ++e) {
      // Node i has met edges {i, 0..i-1} as second end and {i, i+1..j-1} as first end.
      ASSERT_EQ(first.arcNode(e), i) << "edge " << e << " first end";
      ASSERT_EQ(first.arcSlot(e), j - 1) << "edge {" << i << "," << j << "} slot at " << i;
      ASSERT_EQ(second.arcNode(e), j) << "edge " << e << " second end";
      ASSERT_EQ(second.arcSlot(e), i) << "edge {" << i << "," << j << "} slot at " << j;
    }
  }
  for (std::int32_t v = 0; v < 100; ++v) {
    EXPECT_EQ(first.node(v).slotCount, 99) << "node " << v << " meets 99 edges";
    EXPECT_EQ(&first.node(v), &second.node(v)) << "the two ends must share the records";
  }
}

template <class G>
void expectEverythingAdded(const G& graph) {
  EXPECT_EQ(membersOf(graph.edgeSet()), firstIntegers(4950))
      << "edge set must hold 0..4949 in order";
  for (std::int32_t v = 0; v < 100; ++v) {
    ASSERT_EQ(membersOf(graph.edgeEnds().firstEnds().node(v).slotSet), firstIntegers(99))
        << "slots of node " << v << " must be 0..98 in order";
  }
}

TEST(Graph, CompleteGraphFilesBothEndsInOneNumbering) {
  Graph graph;
  EXPECT_EQ(graph.edgeSet().universe(), 1000000) << "edge set universe";
  EXPECT_EQ(graph.nodeSet().universe(), 1000) << "node set universe";
  createCompleteGraph(graph);
  expectCompleteLayout(graph);
  EXPECT_EQ(graph.edgeSet().size(), 0) << "creating edges must not make them present";
  for (std::int32_t e = 0; e < 4950; ++e) graph.addEdge(e);
  expectEverythingAdded(graph);
}

TEST(GraphRev, CompleteGraphBehavesAsThePlainGraph) {
  Solver solver;
  GraphRev graph(solver, 1000, 100, 1000000);
  createCompleteGraph(graph);
  expectCompleteLayout(graph);
  for (std::int32_t e = 0; e < 4950; ++e) graph.addEdge(e);
  expectEverythingAdded(graph);
}

TEST(GraphRev, SmallConfigurationHasTheStatedSizes) {
  Solver solver;
  GraphRev graph(solver, 10, 5, 100);
  EXPECT_EQ(graph.edgeEnds().firstEnds().arcCapacity(), 50) << "first ends: 10 x 5 edges";
  EXPECT_EQ(graph.edgeEnds().secondEnds().arcCapacity(), 50) << "second ends: 10 x 5 edges";
  EXPECT_EQ(graph.edgeEnds().firstEnds().nodeCount(), 10) << "node records";
  EXPECT_EQ(graph.edgeEnds().firstEnds().ownsNodes(), 1) << "the first ends own the records";
  EXPECT_EQ(graph.edgeEnds().secondEnds().ownsNodes(), 0) << "the second ends share them";
  EXPECT_EQ(graph.edgeEnds().secondEnds().nodes(), graph.edgeEnds().firstEnds().nodes())
      << "the second ends must use the very same node table";
  for (std::int32_t v = 0; v < 10; ++v) {
    EXPECT_EQ(graph.edgeEnds().firstEnds().node(v).slotCapacity(), 5) << "slots of node " << v;
  }
  EXPECT_EQ(graph.edgeSet().universe(), 100) << "edge set over 100 ids";
  EXPECT_EQ(graph.nodeSet().universe(), 10) << "node set over 10 ids";
}

TEST(GraphRev, TwoCreationsAtOnePointRecordTheFirstEndsOnce) {
  Solver solver;
  GraphRev graph(solver, 10, 5, 100);
  solver.pushRestorationPoint();
  const std::int32_t objects = solver.trail->objectCount();
  graph.createEdge(0, 1);
  graph.createEdge(2, 3);
  EXPECT_EQ(solver.trail->objectCount(), objects + 1) << "only the first ends register, once";
  EXPECT_EQ(graph.edgeEnds().secondEnds().stamp(), 0u) << "the second ends must not be saved";
  solver.popRestorationPoint();
}

TEST(GraphRev, PopGivesBackTheSlotsAtBothEnds) {
  Solver solver;
  GraphRev graph(solver, 10, 5, 100);
  graph.addEdge(graph.createEdge(0, 1));
  solver.pushRestorationPoint();
  const std::int32_t e1 = graph.createEdge(2, 0);
  graph.createEdge(1, 3);
  graph.addEdge(e1);
  solver.popRestorationPoint();
  const auto& ends = graph.edgeEnds().firstEnds();
  EXPECT_EQ(ends.arcCount(), 1) << "edge count not restored";
  EXPECT_EQ(ends.node(0).slotCount, 1) << "node 0 (second end of edge 1) keeps a slot it lost";
  EXPECT_EQ(ends.node(1).slotCount, 1) << "node 1 (first end of edge 2) keeps a slot it lost";
  EXPECT_EQ(ends.node(2).slotCount, 0) << "node 2 keeps a slot it lost";
  EXPECT_EQ(ends.node(3).slotCount, 0) << "node 3 (second end of edge 2) keeps a slot it lost";
  EXPECT_EQ(membersOf(graph.edgeSet()), std::vector<std::int32_t>{0}) << "edge 1 still present";
  EXPECT_EQ(membersOf(ends.node(0).slotSet), std::vector<std::int32_t>{0})
      << "node 0 must keep only the slot of edge 0";
  EXPECT_EQ(graph.createEdge(3, 0), e1) << "the undone id must be handed out again";
  EXPECT_EQ(graph.edgeEnds().secondEnds().arcSlot(e1), 1) << "node 0 must hand out slot 1 again";
}

TEST(GraphRev, ManyCreateAndUndoCyclesStayWithinTheSlotCapacity) {
  // Every node has 5 slots. Without giving back the second ends' slots, a node that is a
  // second end in every cycle would run past its capacity after a few cycles.
  Solver solver;
  GraphRev graph(solver, 10, 5, 100);
  std::mt19937 random(3);
  for (int cycle = 0; cycle < 200; ++cycle) {
    solver.pushRestorationPoint();
    const std::int32_t edges = 1 + static_cast<std::int32_t>(random() % 4);
    for (std::int32_t k = 0; k < edges; ++k) {
      const std::int32_t u = static_cast<std::int32_t>(random() % 10);
      const std::int32_t v = (u + 1 + static_cast<std::int32_t>(random() % 9)) % 10;
      const std::int32_t e = graph.createEdge(u, v);
      graph.addEdge(e);
    }
    solver.popRestorationPoint();
    for (std::int32_t v = 0; v < 10; ++v) {
      ASSERT_EQ(graph.edgeEnds().firstEnds().node(v).slotCount, 0)
          << "cycle " << cycle << ": node " << v << " did not get every slot back";
      ASSERT_EQ(graph.edgeEnds().firstEnds().node(v).slotSet.size(), 0)
          << "cycle " << cycle << ": node " << v << " still has a present slot";
    }
    ASSERT_EQ(graph.edgeSet().size(), 0) << "cycle " << cycle << ": edges still present";
  }
}

}  // namespace
}  // namespace varnel
