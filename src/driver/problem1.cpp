// Problem 1: table-constraint scalability run. The main thread builds one random table; every
// worker, then the main thread alone, reduces the domains of its own constraint over it.
#include <iostream>
#include <new>

#include "driver/problems.h"
#include "runner/report.h"
#include "runner/runner.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/clock.h"
#include "varnel/platform/platform.h"
#include "varnel/table/table_reduction.h"
#include "varnel/table/tuple_table.h"

namespace varnel::driver {

using namespace runner;  // the launch, budgets and report lines both programs share
namespace {

// Problem 1's worker: one timed reduction over the shared table, in the worker's own allocator.
class TableSolveRunner final : public AllocatorRunner {
 public:
  // `tableRef` is the driver's variable holding the table; it outlives every worker.
  TableSolveRunner(std::uint64_t memoryBudget, const TupleTable* const* tableRef,
                   std::int32_t arity)
      : AllocatorRunner(memoryBudget), tableRef_(tableRef), arity_(arity) {}

  // time = runTableReduction over the shared table; returns 0.
  unsigned run() override {
    time = runTableReduction(tableRef_, arity_);
    return 0;
  }

 private:
  const TupleTable* const* tableRef_;
  std::int32_t arity_;
};

}  // namespace

void runTableProblem(std::int32_t numThreads, bool splitMem, std::int32_t arity,
                     std::int32_t numTuples, std::int32_t upper) {
  printThreadCount(numThreads);
  const std::uint64_t memThread = perThreadBudget(numThreads, splitMem);
  std::cout << "physical Memory: " << platform::totalPhysicalMemory() << " memThread: " << memThread
            << std::endl;

  ThreadRunner** runners = newRunnerTable(numThreads);
  const std::int64_t frequency = platform::counterFrequency();

  TupleTable* table = newPooled<TupleTable>(arity, numTuples, upper);
  std::cout << "Creation d'une table ayant:" << std::endl;
  std::cout << "\t" << arity << " variables" << std::endl;
  std::cout << "\t" << upper << " valeur par domaine" << std::endl;
  std::cout << "\t" << numTuples << " tuples" << std::endl;
  table->fillRandom(upper);
  std::cout << "Table creee" << std::endl;
  std::cout << "Memory Consumption: " << memoryConsumption(currentAllocator()) << " bytes"
            << std::endl;

  // The workers only read the table, through this variable, which lives until the end.
  const TupleTable* const sharedTable = table;
  for (std::int32_t k = 0; k < numThreads; ++k) {
    runners[k] = newRunner<TableSolveRunner>(memThread, &sharedTable, arity);
  }
  const LaunchInterval interval = runThreads(runners, numThreads);

  // The reference run, alone, in the main thread's allocator, after every worker has ended.
  const std::int64_t mainTime = runTableReduction(&sharedTable, arity);

  auto* threadTimes = new (std::nothrow) std::int64_t[static_cast<std::size_t>(numThreads)];
  if (threadTimes == nullptr)
    runner::detail::exitRunnerMemoryRefused(8 * std::uint64_t(numThreads));
  for (std::int32_t k = 0; k < numThreads; ++k) threadTimes[k] = runners[k]->time;
  printScalabilityReport(splitMem, mainTime,
                         elapsedMilliseconds(interval.start, interval.end, frequency), threadTimes,
                         numThreads);
  delete[] threadTimes;

  deleteRunners(runners, numThreads);
  deletePooled(table);
}

}  // namespace varnel::driver
