// The complete Solver: the contents of a fresh one, clear (back to fresh, idempotent, without
// allocating, popping open points with their restores), and create-and-destroy cycles that give
// every block back.
#include "varnel/solver/solver_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "memory/thread_allocator.h"
#include "varnel/containers/set_rev.h"
#include "varnel/memory/pooled.h"
#include "varnel/solver/solver.h"

namespace varnel {
namespace {

// Everything observable in a solver but its two counters, flattened into one list of numbers.
class Dump {
 public:
  explicit Dump(const Solver& solver) {
    const Trail& trail = *solver.trail;
    add({trail.count(), trail.mark(), trail.openPoints(), trail.intCount(), trail.objectCount()});
    const AllocationLog& log = **solver.allocationLog;
    add({log.count(), log.mark(), log.top()});
    const SolverState& state = *solver.state;
    addGraph(state.network.graph);
    addSide(state.network.extraArcs);
    const SuccessionInt64Rev& reversibleWords = state.reversibleWords;
    add({reversibleWords.size(), reversibleWords.savedSize(), reversibleWords.capacity()});
    values_.push_back(static_cast<std::int64_t>(reversibleWords.stamp()));
    addSet(state.smallSet);
    add({state.heap.count(), state.heap.capacity()});
    for (std::int32_t p = 0; p < state.heap.capacity(); ++p) {
      add({state.heap.keyAt(p), state.heap.elementAt(p), state.heap.positionOf(p)});
    }
    add({state.adjacency.arcCount(), state.adjacency.arcCapacity(), state.adjacency.nodeCount()});
    for (std::int32_t v = 0; v < state.adjacency.nodeCount(); ++v) {
      values_.push_back(state.adjacency.node(v).slotCount);
      addSet(state.adjacency.node(v).slotSet);
    }
    add({state.words.size(), state.words.savedSize(), state.words.capacity()});
    for (const PointerRing* ring : {&state.ringA, &state.ringB}) {
      add({ring->slotCount(), ring->head(), ring->tail()});
    }
  }

  const std::vector<std::int64_t>& values() const { return values_; }

 private:
  void add(std::initializer_list<std::int64_t> values) {
    values_.insert(values_.end(), values.begin(), values.end());
  }
  void addSet(const Set& set) {
    add({set.universe(), set.size()});
    for (std::int32_t x = 0; x <= set.universe(); ++x) {
      add({set.nextLinks()[x], set.prevLinks()[x]});
    }
  }
  void addSetRev(const SetRev& set) {
    addSet(set);
    add({set.added().size(), set.addedMark(), set.removed().size(), set.removedMark(),
         static_cast<std::int64_t>(set.stamp()), static_cast<std::int64_t>(set.added().stamp()),
         static_cast<std::int64_t>(set.removed().stamp())});
  }
  void addSide(const ArcAdjacencyRev& side) {
    add({side.arcCount(), side.savedArcCount(), static_cast<std::int64_t>(side.stamp()),
         side.nodeCount(), side.arcCapacity(), side.ownsNodes()});
    for (std::int32_t v = 0; v < side.nodeCount(); ++v) {
      values_.push_back(side.node(v).slotCount);
      addSetRev(side.node(v).slotSet);
    }
  }
  void addGraph(const GraphRev& graph) {
    addSide(graph.edgeEnds().firstEnds());
    addSide(graph.edgeEnds().secondEnds());
    addSetRev(graph.edgeSet());
    addSetRev(graph.nodeSet());
  }

  std::vector<std::int64_t> values_;
};

// Changes every member of the state that offers a change, at the current point.
void changeEverything(Solver& solver) {
  SolverState& state = *solver.state;
  GraphRev& graph = state.network.graph;
  graph.addEdge(graph.createEdge(1, 2));
  graph.addEdge(graph.createEdge(3, 2));
  ArcAdjacencyRev& extra = state.network.extraArcs;
  extra.saveOnce(solver);
  extra.linkArc(extra.fileArc(4));
  state.reversibleWords.pushBack(7);
  state.smallSet.insert(3);
  state.smallSet.insert(9);
  state.adjacency.linkArc(state.adjacency.fileArc(2));
  state.words.pushBack(11);
}

TEST(Solver, FreshSolverHasEmptyPartsAndAHeapOfFillers) {
  Solver solver;
  EXPECT_EQ(solver.timestamp, 0u) << "timestamp of a fresh solver";
  EXPECT_EQ(solver.pushPopCount, 0u) << "pushPopCount of a fresh solver";
  EXPECT_EQ(solver.trail->count(), 0) << "fresh trail";
  EXPECT_EQ((*solver.allocationLog)->count(), 0) << "fresh allocation log";
  const SolverState& state = *solver.state;
  EXPECT_EQ(state.heap.count(), 0) << "heap count";
  ASSERT_EQ(state.heap.capacity(), 15) << "heap capacity for hint 10";
  for (std::int32_t p = 0; p < 15; ++p) {
    EXPECT_EQ(state.heap.keyAt(p), std::numeric_limits<std::int64_t>::max()) << "key " << p;
  }
  const auto& first = state.network.graph.edgeEnds().firstEnds();
  EXPECT_EQ(first.nodeCount(), 10) << "network nodes";
  EXPECT_EQ(first.node(0).slotCapacity(), 5) << "network slots per node";
  EXPECT_EQ(first.arcCapacity(), 50) << "network edge capacity";
  EXPECT_EQ(state.network.graph.edgeSet().universe(), 100) << "network edge ids";
  EXPECT_EQ(state.network.extraArcs.nodeCount(), 10) << "extra side nodes";
  EXPECT_EQ(state.network.extraArcs.node(9).slotCapacity(), 2) << "extra side slots per node";
  EXPECT_EQ(state.network.extraArcs.arcCapacity(), 20) << "extra side arcs";
  EXPECT_EQ(state.reversibleWords.capacity(), 10) << "reversible words";
  EXPECT_EQ(state.smallSet.universe(), 10) << "small set";
  EXPECT_EQ(state.adjacency.nodeCount(), 3) << "adjacency nodes";
  EXPECT_EQ(state.adjacency.node(2).slotCapacity(), 4) << "adjacency slots per node";
  EXPECT_EQ(state.adjacency.arcCapacity(), 12) << "adjacency arcs";
  EXPECT_EQ(state.adjacency.ownsNodes(), 1) << "adjacency owns its records";
  EXPECT_EQ(state.words.capacity(), 10) << "words";
  EXPECT_EQ(state.ringA.slotCount(), 16) << "ring A slots for hint 10";
  EXPECT_EQ(state.ringB.mask(), 15) << "ring B mask for hint 10";
}

TEST(Solver, ClearReturnsEveryPartToItsFreshContents) {
  Solver fresh;
  const Dump freshDump(fresh);
  Solver solver;
  solver.pushRestorationPoint();
  solver.popRestorationPoint();
  changeEverything(solver);  // no point open: these changes are not undone by any pop
  solver.pushRestorationPoint();
  changeEverything(solver);
  ASSERT_NE(Dump(solver).values(), freshDump.values()) << "the changes changed nothing";
  solver.clear();
  EXPECT_EQ(Dump(solver).values(), freshDump.values()) << "clear left something behind";
  solver.clear();
  EXPECT_EQ(Dump(solver).values(), freshDump.values()) << "a second clear changed the state";
}

TEST(Solver, ClearPopsOpenPointsWithTheirRestoresAndKeepsTheTimestamp) {
  Solver solver;
  SetRev set(solver, 8);
  set.pushBack(1);
  solver.pushRestorationPoint();
  set.pushBack(2);
  solver.pushRestorationPoint();
  set.popFront();
  const std::uint64_t timestamp = solver.timestamp;
  solver.clear();
  EXPECT_EQ(solver.timestamp, timestamp) << "clear must not move the timestamp";
  EXPECT_EQ(solver.pushPopCount, 2 * timestamp) << "clear must pop both points";
  EXPECT_TRUE(set.contains(1)) << "the pops' restores did not run: 1 is missing";
  EXPECT_FALSE(set.contains(2)) << "the pops' restores did not run: 2 is still there";
  EXPECT_EQ(set.size(), 1) << "set not back to its state before the points";

  // Members cleared to stamp 0 register again at the next change.
  solver.pushRestorationPoint();
  const std::int32_t objects = solver.trail->objectCount();
  solver.state->reversibleWords.pushBack(5);
  EXPECT_EQ(solver.trail->objectCount(), objects + 1) << "a cleared member did not register";
  solver.popRestorationPoint();
  EXPECT_EQ(solver.state->reversibleWords.size(), 0) << "the change after clear was not undone";
}

TEST(Solver, ClearNeitherAllocatesNorReleases) {
  testing::onFreshAllocator(0, [] {
    Solver* solver = newPooled<Solver>();
    solver->pushRestorationPoint();
    changeEverything(*solver);
    std::vector<std::uint64_t> before;
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      before.push_back(currentAllocator()->pools[c]->freeCount);
    }
    solver->clear();
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      EXPECT_EQ(currentAllocator()->pools[c]->freeCount, before[c]) << "clear touched class " << c;
    }
    deletePooled(solver);
  });
}

TEST(Solver, CreateAndDestroyCyclesGiveEveryBlockBack) {
  testing::onFreshAllocator(0, [] {
    Solver* solver = newPooled<Solver>();
    deletePooled(solver);  // the first cycle takes the chunks
    std::vector<std::uint64_t> before;
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      before.push_back(currentAllocator()->pools[c]->freeCount);
    }
    for (int cycle = 0; cycle < 5; ++cycle) {
      solver = newPooled<Solver>();
      if (cycle % 2 == 1) {  // with open points and changes, undone by the destructor
        solver->pushRestorationPoint();
        changeEverything(*solver);
        solver->pushRestorationPoint();
      }
      deletePooled(solver);
      EXPECT_EQ(solver, nullptr) << "deletePooled must null the slot";
      for (unsigned c = 0; c < kSizeClassCount; ++c) {
        ASSERT_EQ(currentAllocator()->pools[c]->freeCount, before[c])
            << "cycle " << cycle << " did not give back every block of class " << c;
      }
    }
  });
}

}  // namespace
}  // namespace varnel
