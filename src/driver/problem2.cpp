// Problem 2: data-structure micro-benchmark suite.
#include "driver/problems.h"

namespace varnel::driver {

void runDataStructureSuite(std::int32_t) { exitProblemNotAvailable(2); }

}  // namespace varnel::driver
