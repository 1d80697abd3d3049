// The parallel search: decomposition on the calling thread, then the workers on the runner's
// launch, each a runner that owns its allocator.
#include "runner/parallel_search.h"

#include <algorithm>
#include <optional>

#include "runner/runner.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/platform.h"

namespace varnel::runner {
namespace {

struct SolutionKeeper {
  WorkerResult* result;
  std::int32_t keep;
  StopRequest* firstOnly;     // first-solution mode: the request whose winner's solution stands
  OrderedSolutions* ordered;  // when set, every solution goes there instead
  std::int32_t worker;
};

void keepSolution(const SearchSpace& space, void* context) {
  auto* keeper = static_cast<SolutionKeeper*>(context);
  if (keeper->ordered != nullptr) {
    // Once enough were handed on, a counting search pays one relaxed load per solution.
    if (!keeper->ordered->full()) keeper->ordered->found(keeper->worker, solutionValues(space));
    return;
  }
  if (keeper->firstOnly != nullptr) {
    keeper->result->won = keeper->firstOnly->request(StopReason::kFirstSolution);
  }
  if (static_cast<std::int32_t>(keeper->result->solutions.size()) >= keeper->keep) return;
  keeper->result->solutions.push_back(solutionValues(space));
}

void subproblemStarted(std::int32_t k, void* context) {
  auto* keeper = static_cast<SolutionKeeper*>(context);
  keeper->ordered->started(keeper->worker, k);
}

void subproblemEnded(std::int32_t k, void* context) {
  auto* keeper = static_cast<SolutionKeeper*>(context);
  keeper->ordered->ended(keeper->worker, k);
}

// One worker: its own solver and space over the shared instance, in its own allocator.
class SubproblemRunner final : public AllocatorRunner {
 public:
  SubproblemRunner(std::uint64_t budget, const CspInstance& instance,
                   const InstanceSupportMasks* masks, AllDifferentLevel allDifferent,
                   const Decomposition& decomposition, SubproblemCursor& cursor,
                   const SearchOptions& options, std::int32_t index, std::int32_t keep,
                   WorkerResult& result, SubproblemRecord* records, OrderedSolutions* ordered)
      : AllocatorRunner(budget),
        instance_(instance),
        masks_(masks),
        allDifferent_(allDifferent),
        decomposition_(decomposition),
        cursor_(cursor),
        options_(options),
        index_(index),
        keeper_{&result, keep, options.allSolutions ? nullptr : options.stop, ordered, index},
        records_(records) {
    if (keep > 0 || ordered != nullptr) {
      options_.onSolution = keepSolution;
      options_.onSolutionContext = &keeper_;
    }
    if (ordered != nullptr) listener_ = {subproblemStarted, subproblemEnded, &keeper_};
  }

  unsigned run() override {
    WorkerResult& result = *keeper_.result;
    const std::int64_t start = platform::counterNow();
    Solver* solver = newPooled<Solver>();
    SearchSpace* space = newPooled<SearchSpace>(*solver, instance_, masks_, allDifferent_);
    {
      // The worker's weights and conflicts, learnt over all the subproblems it takes.
      std::optional<Branching> learnt;
      if (!options_.branching.plain())
        options_.learnt = &learnt.emplace(options_.branching, *space);
      result.stats = searchSubproblems(*space, decomposition_, cursor_, options_, index_, records_,
                                       keeper_.ordered != nullptr ? &listener_ : nullptr);
      options_.learnt = nullptr;
    }
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
  SubproblemListener listener_;
};

void add(SearchStatistics& total, const SearchStatistics& s) {
  total.nodes += s.nodes;
  total.failures += s.failures;
  total.solutions += s.solutions;
  total.restarts += s.restarts;
  total.nogoods += s.nogoods;
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
  if (options.progress != nullptr) {
    options.progress->nodes.fetch_add(decomposition->nodes(), std::memory_order_relaxed);
    options.progress->failures.fetch_add(decomposition->failures(), std::memory_order_relaxed);
  }
  if (options.subproblemCount != nullptr) {
    options.subproblemCount->store(result.subproblems, std::memory_order_relaxed);
  }
  SearchOptions search;
  search.allSolutions = options.allSolutions;
  search.stop = stop;
  search.progress = options.progress;
  search.branching = options.branching;
  if (options.nodeLimit != 0) {
    const std::uint64_t used = decomposition->nodes();
    budget.giveBack(options.nodeLimit > used ? options.nodeLimit - used : 0);
    search.nodeBudget = &budget;
  }
  const bool inOrder = options.allSolutions && options.solutionSink != nullptr;
  const std::int32_t keep = inOrder ? 0 : options.allSolutions ? options.keepSolutions : 1;
  OrderedSolutions ordered(n, result.subproblems, options.sinkLimit, options.solutionSink,
                           options.solutionSinkContext, stop);
  result.budget = perThreadBudget(n, options.splitMem);
  SubproblemCursor cursor;
  ThreadRunner** runners = newRunnerTable(n);
  for (std::int32_t k = 0; k < n; ++k) {
    runners[k] = newRunner<SubproblemRunner>(result.budget, instance, options.masks,
                                             options.allDifferent, *decomposition, cursor, search,
                                             k, keep, result.workers[static_cast<std::size_t>(k)],
                                             result.records.data(), inOrder ? &ordered : nullptr);
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

}  // namespace varnel::runner
