// Problem 1: table-constraint scalability run.
#include "driver/problems.h"

namespace varnel::driver {

void runTableProblem(std::int32_t, bool, std::int32_t, std::int32_t, std::int32_t) {
  exitProblemNotAvailable(1);
}

}  // namespace varnel::driver
