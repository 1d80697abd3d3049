// The solver's internal structures: their fixed sizes, their clearing and their destruction.
#include "varnel/solver/solver_state.h"

#include "varnel/solver/solver.h"

namespace varnel {
namespace {
constexpr std::int32_t kNetworkNodes = 10;
constexpr std::int32_t kNetworkSlots = 5;
constexpr std::int32_t kNetworkEdgeIds = 100;
constexpr std::int32_t kExtraNodes = 10;
constexpr std::int32_t kExtraSlots = 2;
constexpr std::int32_t kExtraArcs = 20;
constexpr std::int32_t kWordCapacity = 10;
constexpr std::int32_t kSmallSetUniverse = 10;
constexpr std::int32_t kHeapSizeHint = 10;
constexpr std::int32_t kAdjacencyNodes = 3;
constexpr std::int32_t kAdjacencySlots = 4;
constexpr std::int32_t kAdjacencyArcs = 12;
constexpr std::int32_t kRingSizeHint = 10;
}  // namespace

SolverNetwork::SolverNetwork(Solver& solver)
    : graph(solver, kNetworkNodes, kNetworkSlots, kNetworkEdgeIds),
      extraArcs(solver, kExtraNodes, kExtraArcs, kExtraSlots) {}

void SolverNetwork::clear() {
  extraArcs.clear();
  graph.clear();
}

SolverState::SolverState(Solver& solver)
    : network(solver),
      reversibleWords(kWordCapacity, solver),
      smallSet(kSmallSetUniverse),
      heap(kHeapSizeHint),
      adjacency(kAdjacencyNodes, kAdjacencyArcs, kAdjacencySlots),
      words(kWordCapacity),
      ringA(kRingSizeHint),
      ringB(kRingSizeHint) {}

SolverState::~SolverState() = default;

void SolverState::clear() {
  network.clear();
  reversibleWords.reset();
  smallSet.clear();
  heap.clear();
  words.truncate(0);
  adjacency.clear();
  ringA.clear();
  ringB.clear();
}

}  // namespace varnel
