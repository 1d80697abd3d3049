// Problem 0: hash-lookup scalability run.
#include "driver/problems.h"

namespace varnel::driver {

void runHashLookupProblem(std::int32_t, bool) { exitProblemNotAvailable(0); }

}  // namespace varnel::driver
