// Problem 0: hash-lookup scalability run. Every worker, then the main thread alone, times the
// lookup burst of its own empty Collection; the report compares the two.
#include <new>

#include "driver/problems.h"
#include "runner/report.h"
#include "runner/runner.h"
#include "varnel/containers/collection.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/clock.h"
#include "varnel/platform/platform.h"

namespace varnel::driver {

using namespace runner;

// Capacity of each worker's collection.
constexpr std::int32_t kLookupCapacity = 10000;

unsigned HashLookupRunner::run() {
  Collection* collection = newPooled<Collection>(kLookupCapacity);
  time = collection->timedLookups();
  deletePooled(collection);
  return 0;
}

void runHashLookupProblem(std::int32_t numThreads, bool splitMem) {
  printThreadCount(numThreads);
  const std::uint64_t budget = perThreadBudget(numThreads, splitMem);

  ThreadRunner** runners = newRunnerTable(numThreads);
  const std::int64_t frequency = platform::counterFrequency();
  for (std::int32_t i = 0; i < numThreads; ++i) runners[i] = newRunner<HashLookupRunner>(budget);
  const LaunchInterval interval = runThreads(runners, numThreads);

  // The baseline runs after every worker has been joined, in the main thread's own allocator,
  // which never has a budget.
  Collection* collection = newPooled<Collection>(kLookupCapacity);
  const std::int64_t mainTime = collection->timedLookups();

  auto* threadTimes = new (std::nothrow) std::int64_t[static_cast<std::size_t>(numThreads)];
  if (threadTimes == nullptr)
    runner::detail::exitRunnerMemoryRefused(8 * std::uint64_t(numThreads));
  for (std::int32_t i = 0; i < numThreads; ++i) threadTimes[i] = runners[i]->time;
  printScalabilityReport(splitMem, mainTime,
                         elapsedMilliseconds(interval.start, interval.end, frequency), threadTimes,
                         numThreads);
  delete[] threadTimes;

  deleteRunners(runners, numThreads);
  deletePooled(collection);
}

}  // namespace varnel::driver
