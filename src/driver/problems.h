// The three problems the driver can run, one per source file.
#pragma once

#include <cstdint>

#include "runner/runner.h"

namespace varnel::driver {

// Problem 0's worker: times the lookup burst of its own empty Collection of capacity 10000.
class HashLookupRunner final : public runner::AllocatorRunner {
 public:
  using AllocatorRunner::AllocatorRunner;

  // Builds the collection, time = its timedLookups(), destroys it; returns 0.
  unsigned run() override;
};

// Problem 0: every worker, then the main thread alone, times lookups in its own Collection.
void runHashLookupProblem(std::int32_t numThreads, bool splitMem);

// Problem 1: every worker, then the main thread alone, reduces a shared random table's domains.
void runTableProblem(std::int32_t numThreads, bool splitMem, std::int32_t arity,
                     std::int32_t numTuples, std::int32_t upper);

// Problem 2: micro-benchmarks of the data structures on the main thread; n sizes the tests.
void runDataStructureSuite(std::int32_t n);

// Exit code of a problem that this build does not provide.
inline constexpr int kExitNotAvailable = 2;

// Says on standard error that problem `pb` is not available in this build and exits with 2.
[[noreturn]] void exitProblemNotAvailable(int pb);

}  // namespace varnel::driver
