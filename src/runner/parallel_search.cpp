// The parallel search: decomposition on the calling thread, then the workers on the runner's
// launch, each a runner that owns its allocator.
#include "runner/parallel_search.h"

#include <algorithm>
#include <tuple>

#include "runner/runner.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/platform.h"

namespace varnel::runner {
namespace {

struct SolutionKeeper {
  WorkerResult* result;
  std::int32_t keep;
  StopRequest* firstOnly;  // first-solution mode: the request whose winner's solution stands
};

void keepSolution(const SearchSpace& space, void* context) {
  auto* keeper = static_cast<SolutionKeeper*>(context);
  if (keeper->firstOnly != nullptr) {
    keeper->result->won = keeper->firstOnly->request(StopReason::kFirstSolution);
  }
  if (static_cast<std::int32_t>(keeper->result->solutions.size()) >= keeper->keep) return;
  keeper->result->solutions.push_back(solutionValues(space));
}

// One worker: its own solver and space over the shared instance, in its own allocator.
class SubproblemRunner final : public AllocatorRunner {
 public:
  SubproblemRunner(std::uint64_t budget, const CspInstance& instance,
                   const InstanceSupportMasks* masks, AllDifferentLevel allDifferent,
                   const Decomposition& decomposition,
                   SubproblemCursor& cursor, const SearchOptions& options, std::int32_t index,
                   std::int32_t keep, WorkerResult& result, SubproblemRecord* records)
      : AllocatorRunner(budget),
        instance_(instance),
        masks_(masks),
        allDifferent_(allDifferent),
        decomposition_(decomposition),
        cursor_(cursor),
        options_(options),
        index_(index),
        keeper_{&result, keep, options.allSolutions ? nullptr : options.stop},
        records_(records) {
    if (keep > 0) {
      options_.onSolution = keepSolution;
      options_.onSolutionContext = &keeper_;
    }
  }

  unsigned run() override {
    WorkerResult& result = *keeper_.result;
    const std::int64_t start = platform::counterNow();
    Solver* solver = newPooled<Solver>();
    SearchSpace* space = newPooled<SearchSpace>(*solver, instance_, masks_, allDifferent_);
    result.stats = searchSubproblems(*space, decomposition_, cursor_, options_, index_, records_);
    deletePooled(space);
    deletePooled(solver);
    result.ticks = platform::counterNow() - start;
    result.memory = memoryConsumption(currentAllocator());
    for (const SizeClassPool* pool : currentAllocator()->pools) {
      result.heldBlocks += std::uint64_t(pool->chunkCount) * pool->blocksPerChunk - pool->freeCount;
    }
    time = result.ticks * 1000 / platform::counterFrequency();
    return 0;
  }

 private:
  const CspInstance& instance_;
  const InstanceSupportMasks* masks_;
  AllDifferentLevel allDifferent_;
  const Decomposition& decomposition_;
  SubproblemCursor& cursor_;
  SearchOptions options_;
  std::int32_t index_;
  SolutionKeeper keeper_;
  SubproblemRecord* records_;
};

void add(SearchStatistics& total, const SearchStatistics& s) {
  total.nodes += s.nodes;
  total.failures += s.failures;
  total.solutions += s.solutions;
  if (s.maxDepth > total.maxDepth) total.maxDepth = s.maxDepth;
}

}  // namespace

std::vector<std::int64_t> solutionValues(const SearchSpace& space) {
  std::vector<std::int64_t> values(static_cast<std::size_t>(space.varCount()));
  for (std::int32_t x = 0; x < space.varCount(); ++x) {
    values[static_cast<std::size_t>(x)] = space.instance().value(x, space.var(x).at(0));
  }
  return values;
}

ParallelSearchResult parallelSearch(const CspInstance& instance,
                                    const ParallelSearchOptions& options) {
  ParallelSearchResult result;
  const std::int32_t n = options.workers;
  const std::int64_t start = platform::counterNow();
  StopRequest ownStop;
  StopRequest* stop = options.stop != nullptr ? options.stop : &ownStop;
  Solver* solver = newPooled<Solver>();
  SearchSpace* space =
      newPooled<SearchSpace>(*solver, instance, options.masks, options.allDifferent);
  const std::int32_t target =
      options.subproblems > 0 ? options.subproblems : kSubproblemsPerWorker * n;
  Decomposition* decomposition = newPooled<Decomposition>(*space, target, stop);
  result.decompositionTicks = platform::counterNow() - start;
  result.subproblems = decomposition->count();
  result.stats.nodes = decomposition->nodes();
  result.decompositionNodes = decomposition->nodes();
  result.stats.failures = decomposition->failures();
  result.stats.maxDepth = decomposition->maxDepth();
  result.records.resize(static_cast<std::size_t>(result.subproblems));
  result.workers.resize(static_cast<std::size_t>(n));

  // The decomposition's nodes count against the limit first; it never stops for it.
  NodeBudget budget(0);
  SearchOptions search;
  search.allSolutions = options.allSolutions;
  search.stop = stop;
  if (options.nodeLimit != 0) {
    const std::uint64_t used = decomposition->nodes();
    budget.giveBack(options.nodeLimit > used ? options.nodeLimit - used : 0);
    search.nodeBudget = &budget;
  }
  const std::int32_t keep = options.allSolutions ? options.keepSolutions : 1;
  result.budget = perThreadBudget(n, options.splitMem);
  SubproblemCursor cursor;
  ThreadRunner** runners = newRunnerTable(n);
  for (std::int32_t k = 0; k < n; ++k) {
    runners[k] = newRunner<SubproblemRunner>(
        result.budget, instance, options.masks, options.allDifferent, *decomposition, cursor, search, k, keep,
        result.workers[static_cast<std::size_t>(k)], result.records.data());
  }
  if (!decomposition->stopped()) runThreads(runners, n);
  deleteRunners(runners, n);

  bool complete = !decomposition->stopped();
  StopReason workerReason = StopReason::kNone;
  for (std::int32_t k = 0; k < n; ++k) {
    WorkerResult& w = result.workers[static_cast<std::size_t>(k)];
    add(result.stats, w.stats);
    complete = complete && w.stats.complete;
    if (workerReason == StopReason::kNone) workerReason = w.stats.stopped;
    if (w.won) result.winner = k;
  }
  for (const SubproblemRecord& r : result.records) {
    if (r.worker >= 0) ++result.workers[static_cast<std::size_t>(r.worker)].subproblems;
  }
  // First-solution mode: the worker that set the request first found the reported solution;
  // any other that found one at the same moment counted it too, but only one is reported.
  if (!options.allSolutions && result.stats.solutions > 1) result.stats.solutions = 1;
  result.stats.complete = complete;
  result.stats.stopped = complete            ? StopReason::kNone
                         : stop->requested() ? stop->reason()
                                             : workerReason;
  deletePooled(decomposition);
  deletePooled(space);
  deletePooled(solver);
  result.ticks = platform::counterNow() - start;
  return result;
}

std::vector<std::vector<std::int64_t>> solutionsInSearchOrder(const ParallelSearchResult& result,
                                                              std::size_t limit) {
  // (subproblem, rank in it, worker, index in the worker's kept solutions)
  std::vector<std::tuple<std::int32_t, std::uint64_t, std::size_t, std::size_t>> order;
  std::vector<std::size_t> next(result.workers.size(), 0);
  for (std::size_t k = 0; k < result.records.size(); ++k) {
    const SubproblemRecord& r = result.records[k];
    if (r.worker < 0) continue;
    const auto w = static_cast<std::size_t>(r.worker);
    for (std::uint64_t j = 0; j < r.solutions && next[w] < result.workers[w].solutions.size();
         ++j) {
      order.emplace_back(static_cast<std::int32_t>(k), j, w, next[w]++);
    }
  }
  std::sort(order.begin(), order.end());
  std::vector<std::vector<std::int64_t>> solutions;
  for (const auto& [k, j, w, i] : order) {
    if (solutions.size() == limit) break;
    solutions.push_back(result.workers[w].solutions[i]);
  }
  return solutions;
}

}  // namespace varnel::runner
