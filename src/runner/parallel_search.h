// One search on N workers: the calling thread decomposes the instance's search tree into
// subproblems (varnel/search/decomposition.h), then N workers, each in its own allocator (with
// its own budget when asked) and its own search space over the shared read-only instance, take
// subproblems from a shared cursor until none is left or the search is stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "runner/ordered_solutions.h"
#include "varnel/search/decomposition.h"
#include "varnel/search/dfs.h"
#include "varnel/search/model/csp_instance.h"
#include "varnel/search/propagators/all_different.h"
#include "varnel/search/propagators/compact_table_rev.h"

namespace varnel::runner {

// Subproblems per worker when none are asked for: enough to keep every worker busy to the end
// even when subproblems differ in size by orders of magnitude (Régin et al. found 30 right).
inline constexpr std::int32_t kSubproblemsPerWorker = 30;

struct ParallelSearchOptions {
  bool allSolutions = false;
  std::uint64_t nodeLimit = 0;     // over the decomposition and every worker together; 0: none
  StopRequest* stop = nullptr;     // shared with whoever else may stop the search; may be null
  std::int32_t workers = 1;        // >= 1
  std::int32_t subproblems = 0;    // at least this many; 0: kSubproblemsPerWorker x workers
  bool splitMem = false;           // each worker confined to its share of physical memory
  std::int32_t keepSolutions = 0;  // solutions each worker keeps (values, in variable order)
  // The instance's support masks: every space runs Compact-Table; null: GAC-4R.
  const InstanceSupportMasks* masks = nullptr;
  // When set, the decomposition's counts and every worker's are added to it as they go, and
  // subproblemCount is stored once the decomposition is made (progress lines).
  SearchProgress* progress = nullptr;
  std::atomic<std::int32_t>* subproblemCount = nullptr;
  // All-solutions mode: when set, the first `sinkLimit` solutions are handed to it as they are
  // found, in the one-thread search's order (OrderedSolutions), instead of kept by the workers.
  OrderedSolutions::Sink solutionSink = nullptr;
  void* solutionSinkContext = nullptr;
  std::uint64_t sinkLimit = 0;
  // Every subproblem's search branches so (the decomposition keeps the smallest domain).
  BranchingOptions branching;
  // How the single-list allDifferent constraints filter.
  AllDifferentLevel allDifferent = kDefaultAllDifferentLevel;
};

struct WorkerResult {
  SearchStatistics stats;
  std::int64_t ticks = 0;        // building its space, its subproblems and the release
  std::uint64_t memory = 0;      // its allocator's pools at the end: their peak
  std::int32_t subproblems = 0;  // subproblems it searched
  std::vector<std::vector<std::int64_t>> solutions;  // the first keepSolutions it found
  bool won = false;              // first-solution mode: its solution stopped the others
  std::uint64_t heldBlocks = 0;  // blocks its pools had not got back once its space was gone
};

struct ParallelSearchResult {
  SearchStatistics stats;  // the decomposition's and every worker's counts added up
  std::int32_t subproblems = 0;
  std::uint64_t decompositionNodes = 0;  // nodes the decomposition propagated, in stats.nodes
  std::uint64_t budget = 0;              // each worker's allocator budget; 0: none
  std::int64_t decompositionTicks = 0;
  std::int64_t ticks = 0;    // decomposition, launch, every worker, join: wall clock
  std::int32_t winner = -1;  // first-solution mode: the worker whose solution stands
  std::vector<WorkerResult> workers;
  std::vector<SubproblemRecord> records;  // one per subproblem
};

// Runs the search; the calling thread's pools hold the decomposition while the workers run.
// A worker the system refuses ends the process as runThreads does.
ParallelSearchResult parallelSearch(const CspInstance& instance,
                                    const ParallelSearchOptions& options);

// The values (not the indices) of a space whose every variable is assigned, in variable order.
std::vector<std::int64_t> solutionValues(const SearchSpace& space);

}  // namespace varnel::runner
