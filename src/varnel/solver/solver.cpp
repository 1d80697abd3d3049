// Construction, clearing and destruction of the solver.
#include "varnel/solver/solver.h"

#include "varnel/solver/solver_state.h"

namespace varnel {

Solver::Solver() : pushPopCount(0), timestamp(0) {
  trail = newPooled<Trail>();
  allocationLog = static_cast<AllocationLog**>(allocateBlock(kSizeClassOf<AllocationLog*>));
  *allocationLog = newPooled<AllocationLog>();
  state = newPooled<SolverState>(*this);
}

Solver::~Solver() {
  popAllRestorationPoints();
  deletePooled(*allocationLog);
  freeBlock(allocationLog, kSizeClassOf<AllocationLog*>);
  allocationLog = nullptr;
  deletePooled(trail);
  deletePooled(state);
}

void Solver::clear() {
  popAllRestorationPoints();
  (*allocationLog)->clear();
  trail->clear();
  state->clear();
}

}  // namespace varnel
