// Construction and clearing of GraphRev.
#include "varnel/solver/graph_rev.h"

namespace varnel {

GraphRev::GraphRev(Solver& solver, std::int32_t nodeCount, std::int32_t slotCapacity,
                   std::int32_t edgeCapacity)
    : edgeEnds_(solver, nodeCount, slotCapacity),
      edgeSet_(solver, edgeCapacity),
      nodeSet_(solver, nodeCount) {}

void GraphRev::clear() {
  edgeEnds_.clear();
  edgeSet_.clear();
  nodeSet_.clear();
}

}  // namespace varnel
