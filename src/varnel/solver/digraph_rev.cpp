// Construction of DigraphRev.
#include "varnel/solver/digraph_rev.h"

namespace varnel {

DigraphRev::DigraphRev(Solver& solver)
    : inArcs_(solver, kNodeCount, kArcCapacity, kSlotCapacity),
      outArcs_(solver, kNodeCount, kArcCapacity, kSlotCapacity),
      arcSet_(solver, kArcIdCount),
      nodeSet_(solver, kNodeCount) {}

}  // namespace varnel
