// GraphRev: the reversible Graph, sized at construction. Edge creation and addition are recorded
// on the solver's trail; popping a restoration point forgets the edges created and added since
// it was pushed, and gives their slot numbers back at both ends.
#pragma once

#include <cstdint>

#include "varnel/containers/set_rev.h"
#include "varnel/solver/edge_adjacency.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class GraphRev : public Reversible {
 public:
  // nodeCount records of slotCapacity slots (room for nodeCount x slotCapacity edges), an edge
  // set over [0, edgeCapacity) and a node set over [0, nodeCount), all recording on `solver`.
  GraphRev(Solver& solver, std::int32_t nodeCount, std::int32_t slotCapacity,
           std::int32_t edgeCapacity);
  // Destroys nodeSet, edgeSet, then the edge ends.
  ~GraphRev() override = default;

  // As Graph::createEdge; the first ends register on the trail before their first change at the
  // current restoration point.
  std::int32_t createEdge(std::int32_t u, std::int32_t v);
  // As Graph::addEdge, with the three set updates recorded.
  void addEdge(std::int32_t e);
  // Back to fresh: no edge created, every set and record emptied, stamps 0.
  void clear();

  const EdgeAdjacencyRev& edgeEnds() const { return edgeEnds_; }
  const SetRev& edgeSet() const { return edgeSet_; }
  const SetRev& nodeSet() const { return nodeSet_; }

 private:
  EdgeAdjacencyRev edgeEnds_;
  SetRev edgeSet_;
  SetRev nodeSet_;
};

// --- Inline definitions ------------------------------------------------------------------

inline std::int32_t GraphRev::createEdge(std::int32_t u, std::int32_t v) {
  return edgeEnds_.createEdge(edgeSet_.solver(), u, v);
}

inline void GraphRev::addEdge(std::int32_t e) {
  edgeSet_.pushBack(e);
  edgeEnds_.linkEdge(e);
}

}  // namespace varnel
