// Digraph and DigraphRev: the slot layout of a full 100 x 100 arc creation, the order of the
// sets after adding every arc, undoing creations and additions by a pop, registration once per
// point, and the return of every block when a graph is destroyed.
#include "varnel/solver/digraph.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "containers/set_members.h"
#include "memory/thread_allocator.h"
#include "varnel/solver/digraph_rev.h"
#include "varnel/solver/solver.h"

namespace varnel {
namespace {

using testing::membersOf;

using testing::firstIntegers;

std::vector<std::uint64_t> freeCounts() {
  std::vector<std::uint64_t> counts;
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    counts.push_back(currentAllocator()->pools[c]->freeCount);
  }
  return counts;
}

// Both digraph kinds go through the same layout checks.
template <class G>
void createTheFullGrid(G& graph) {
  for (std::int32_t i = 0; i < 100; ++i) {
    for (std::int32_t j = 0; j < 100; ++j) {
      ASSERT_EQ(graph.createArc(i, j), i * 100 + j) << "arc ids must follow creation order";
    }
  }
}

template <class G>
void expectGridLayout(const G& graph) {
  for (std::int32_t i = 0; i < 100; ++i) {
    for (std::int32_t j = 0; j < 100; ++j) {
      const std::int32_t a = i * 100 + j;
      ASSERT_EQ(graph.inArcs().arcNode(a), j) << "arc " << a << " must be filed under its head";
      ASSERT_EQ(graph.inArcs().arcSlot(a), i) << "arc " << a << " slot at its head";
      ASSERT_EQ(graph.outArcs().arcNode(a), i) << "arc " << a << " must be filed under its tail";
      ASSERT_EQ(graph.outArcs().arcSlot(a), j) << "arc " << a << " slot at its tail";
    }
  }
  for (std::int32_t v = 0; v < 100; ++v) {
    EXPECT_EQ(graph.inArcs().node(v).slotCount, 100) << "in-side slot count of node " << v;
    EXPECT_EQ(graph.outArcs().node(v).slotCount, 100) << "out-side slot count of node " << v;
  }
  EXPECT_EQ(graph.inArcs().arcCount(), 10000) << "in-side arc count";
  EXPECT_EQ(graph.outArcs().arcCount(), 10000) << "out-side arc count";
}

template <class G>
void expectEverythingAdded(const G& graph) {
  EXPECT_EQ(membersOf(graph.arcSet()), firstIntegers(10000))
      << "arc set must hold 0..9999 in order";
  for (std::int32_t v = 0; v < 100; ++v) {
    ASSERT_EQ(membersOf(graph.inArcs().node(v).slotSet), firstIntegers(100))
        << "in-side slots of node " << v << " must be 0..99 in order";
    ASSERT_EQ(membersOf(graph.outArcs().node(v).slotSet), firstIntegers(100))
        << "out-side slots of node " << v << " must be 0..99 in order";
  }
}

TEST(Digraph, FullGridFilesEveryArcAtBothEndsAndAddsInOrder) {
  Digraph graph;
  EXPECT_EQ(graph.inArcs().arcCount() + graph.outArcs().arcCount(), 0) << "arcs in a fresh graph";
  EXPECT_EQ(graph.arcSet().universe(), 1000000) << "arc set universe";
  EXPECT_NE(&graph.inArcs().node(5), &graph.outArcs().node(5)) << "the sides share records";
  createTheFullGrid(graph);
  expectGridLayout(graph);
  EXPECT_EQ(graph.arcSet().size(), 0) << "creating arcs must not make them present";
  for (std::int32_t a = 0; a < 10000; ++a) graph.addArc(a);
  expectEverythingAdded(graph);
}

TEST(DigraphRev, FullGridBehavesAsThePlainGraph) {
  Solver solver;
  DigraphRev graph(solver);
  createTheFullGrid(graph);
  expectGridLayout(graph);
  for (std::int32_t a = 0; a < 10000; ++a) graph.addArc(a);
  expectEverythingAdded(graph);
}

TEST(DigraphRev, PopForgetsArcsCreatedAndAddedSinceThePush) {
  Solver solver;
  DigraphRev graph(solver);
  const std::int32_t a0 = graph.createArc(1, 2);
  graph.addArc(a0);
  solver.pushRestorationPoint();
  const std::int32_t a1 = graph.createArc(1, 3);
  const std::int32_t a2 = graph.createArc(4, 2);
  graph.addArc(a1);
  graph.addArc(a2);
  ASSERT_EQ(graph.inArcs().node(2).slotCount, 2) << "node 2 received two arcs at its head";
  solver.popRestorationPoint();

  EXPECT_EQ(graph.inArcs().arcCount(), 1) << "in-side arc count not restored";
  EXPECT_EQ(graph.outArcs().arcCount(), 1) << "out-side arc count not restored";
  EXPECT_EQ(graph.inArcs().node(2).slotCount, 1) << "head 2 must get its slot back";
  EXPECT_EQ(graph.inArcs().node(3).slotCount, 0) << "head 3 must get its slot back";
  EXPECT_EQ(graph.outArcs().node(1).slotCount, 1) << "tail 1 must get its slot back";
  EXPECT_EQ(graph.outArcs().node(4).slotCount, 0) << "tail 4 must get its slot back";
  EXPECT_EQ(membersOf(graph.arcSet()), std::vector<std::int32_t>{a0}) << "arcs added after the "
                                                                         "push are still present";
  EXPECT_EQ(membersOf(graph.inArcs().node(2).slotSet), std::vector<std::int32_t>{0})
      << "head 2 must keep only the slot of the arc added before the push";
  EXPECT_EQ(graph.createArc(4, 3), a1) << "the next creation must reuse the first undone id";
  EXPECT_EQ(graph.inArcs().arcSlot(a1), 0) << "head 3 must hand out its slot 0 again";
  EXPECT_EQ(graph.outArcs().arcSlot(a1), 0) << "tail 4 must hand out its slot 0 again";
}

TEST(DigraphRev, TwoCreationsAtOnePointRecordEachSideOnce) {
  Solver solver;
  DigraphRev graph(solver);
  solver.pushRestorationPoint();
  const std::int32_t objects = solver.trail->objectCount();
  graph.createArc(0, 1);
  EXPECT_EQ(solver.trail->objectCount(), objects + 2) << "both sides register at the first";
  graph.createArc(2, 3);
  EXPECT_EQ(solver.trail->objectCount(), objects + 2) << "a second creation recorded again";
  EXPECT_EQ(graph.inArcs().stamp(), solver.timestamp) << "in-side stamp";
  EXPECT_EQ(graph.outArcs().stamp(), solver.timestamp) << "out-side stamp";
  solver.popRestorationPoint();
}

TEST(Digraph, DestructionReturnsEveryBlock) {
  testing::onFreshAllocator(0, [] {
    { Digraph warm; }
    {
      Solver solver;
      { DigraphRev warm(solver); }
    }
    const std::vector<std::uint64_t> before = freeCounts();
    {
      Digraph graph;
      createTheFullGrid(graph);
      for (std::int32_t a = 0; a < 10000; ++a) graph.addArc(a);
    }
    EXPECT_EQ(freeCounts(), before) << "a Digraph did not give back every block";
    {
      Solver solver;
      {
        DigraphRev graph(solver);
        solver.pushRestorationPoint();
        graph.addArc(graph.createArc(3, 4));
        solver.popRestorationPoint();
      }
    }
    EXPECT_EQ(freeCounts(), before) << "a DigraphRev and its solver did not give back every block";
  });
}

}  // namespace
}  // namespace varnel
