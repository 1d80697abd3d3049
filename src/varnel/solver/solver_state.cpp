// The solver's internal structures.
#include "varnel/solver/solver_state.h"

#include "varnel/solver/solver.h"

namespace varnel {

SolverState::SolverState(Solver&) {}

SolverState::~SolverState() = default;

void SolverState::clear() {}

}  // namespace varnel
