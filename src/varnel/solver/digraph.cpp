// Construction of Digraph.
#include "varnel/solver/digraph.h"

namespace varnel {

Digraph::Digraph()
    : inArcs_(kNodeCount, kArcCapacity, kSlotCapacity),
      outArcs_(kNodeCount, kArcCapacity, kSlotCapacity),
      arcSet_(kArcIdCount),
      nodeSet_(kNodeCount) {}

}  // namespace varnel
