// Construction and clearing of the edge adjacencies.
#include "varnel/solver/edge_adjacency.h"

namespace varnel {

EdgeAdjacency::EdgeAdjacency()
    : firstEnds_(kNodeCount, kArcCapacity, kSlotCapacity), secondEnds_(firstEnds_, kArcCapacity) {}

EdgeAdjacencyRev::EdgeAdjacencyRev(Solver& solver, std::int32_t nodeCount,
                                   std::int32_t slotCapacity)
    : firstEnds_(solver, nodeCount, nodeCount * slotCapacity, slotCapacity),
      secondEnds_(firstEnds_, nodeCount * slotCapacity) {
  // secondEnds is never saved: firstEnds gives back the second ends' slots when it is undone.
  firstEnds_.pairWith(secondEnds_);
}

void EdgeAdjacencyRev::clear() {
  firstEnds_.clear();
  secondEnds_.clear();
}

}  // namespace varnel
