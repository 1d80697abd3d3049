// SolverState: the solver's internal structures, built from the library's own containers with
// small fixed sizes. The solver builds, clears and destroys them with itself.
#pragma once

#include <cstdint>

#include "varnel/containers/heap_min.h"
#include "varnel/containers/pointer_ring.h"
#include "varnel/containers/set.h"
#include "varnel/containers/succession_int.h"
#include "varnel/containers/succession_int_rev.h"
#include "varnel/solver/arc_adjacency.h"
#include "varnel/solver/graph_rev.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class Solver;

// The solver's network: a small reversible undirected graph and one more reversible side.
class SolverNetwork : public Reversible {
 public:
  // GraphRev(solver, 10 nodes, 5 slots, 100 edge ids), then a side of its own 10 reversible
  // records of 2 slots with room for 20 arcs.
  explicit SolverNetwork(Solver& solver);
  // Destroys the extra side, then the graph.
  ~SolverNetwork() override = default;

  // The extra side back to fresh, then the graph.
  void clear();

  GraphRev graph;
  ArcAdjacencyRev extraArcs;
};

class SolverState : public Reversible {
 public:
  // Builds the members in declaration order; the reversible ones record on `solver`.
  explicit SolverState(Solver& solver);
  // Destroys the members in reverse order.
  ~SolverState() override;

  // Back to the freshly built contents without releasing or allocating memory.
  void clear();

  SolverNetwork network;
  SuccessionInt64Rev reversibleWords;  // capacity 10
  Set smallSet;                        // universe 10
  HeapMinInt64 heap;                   // size hint 10: 15 filler positions
  ArcAdjacency adjacency;              // 3 plain records of 4 slots, room for 12 arcs
  SuccessionInt64 words;               // capacity 10
  PointerRing ringA;                   // 16 slots
  PointerRing ringB;                   // 16 slots
};

}  // namespace varnel
