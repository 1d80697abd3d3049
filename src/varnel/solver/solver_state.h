// The solver's internal structures, built, cleared and destroyed with it.
#pragma once

#include "varnel/solver/reversible.h"

namespace varnel {

class Solver;

class SolverState : public Reversible {
 public:
  explicit SolverState(Solver& solver);
  ~SolverState() override;

  // Back to the freshly built contents without releasing or allocating memory.
  void clear();
};

}  // namespace varnel
