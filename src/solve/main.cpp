// varnel-solve: builds or reads one instance, then solves it by depth-first search on the main
// thread, or on N workers at once and then on the main thread alone, and prints the counts, the
// time and the nodes per second (with workers, also the driver's scalability lines).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>

#include "runner/parallel_search.h"
#include "runner/report.h"
#include "runner/runner.h"
#include "solve/solve_options.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/clock.h"
#include "varnel/platform/platform.h"
#include "varnel/search/decomposition.h"
#include "varnel/search/dfs.h"
#include "varnel/search/instance_io.h"
#include "varnel/search/rb_instance.h"
#include "varnel/table/next_random.h"
#include "varnel/table/tuple_table.h"
#include "varnel/version.h"

namespace varnel::solve {
namespace {

constexpr int kExitUsage = 2;

struct SolveRun {
  SearchStatistics stats;
  std::int64_t ticks = 0;  // counter units from building the space to its release
};

// Builds a solver and a space over the shared instance in the calling thread's pools, searches,
// and releases both; the time covers all of it.
SolveRun solveOnce(const CspInstance& instance, const SearchOptions& options) {
  SolveRun run;
  const std::int64_t start = platform::counterNow();
  Solver* solver = newPooled<Solver>();
  SearchSpace* space = newPooled<SearchSpace>(*solver, instance);
  run.stats = depthFirstSearch(*space, options);
  deletePooled(space);
  deletePooled(solver);
  run.ticks = platform::counterNow() - start;
  return run;
}

// One worker: the same search over the shared instance, in its own allocator.
class SolveRunner final : public runner::AllocatorRunner {
 public:
  SolveRunner(std::uint64_t budget, const CspInstance* instance, const SearchOptions& options)
      : AllocatorRunner(budget), instance_(instance), options_(options) {}
  unsigned run() override {
    result = solveOnce(*instance_, options_);
    time = elapsedMilliseconds(0, result.ticks, platform::counterFrequency());
    return 0;
  }
  SolveRun result;

 private:
  const CspInstance* instance_;
  SearchOptions options_;
};

[[noreturn]] void exitUsage(const std::string& message) {
  std::cout.flush();
  std::cerr << "Error: " << message << std::endl;
  std::exit(kExitUsage);
}

CspInstance* buildInstance(const SolveOptions& o) {
  if (!o.instanceFile.empty()) {
    std::ifstream file(o.instanceFile);
    if (!file) exitUsage("cannot open instance file " + o.instanceFile);
    InstanceReadResult read = readInstance(file);
    if (read.instance == nullptr) {
      exitUsage(o.instanceFile + ":" + std::to_string(read.line) + ": " + read.error);
    }
    std::cout << "instance: file " << o.instanceFile << std::endl;
    if (read.droppedTuples > 0) {
      std::cout << "dropped tuples: " << read.droppedTuples
                << " (a value outside its variable's domain)" << std::endl;
    }
    return read.instance;
  }
  if (o.fromTable) {
    // Problem 1's table: the first draws of the thread's generator.
    detail::randomState = 1;
    auto* table = newPooled<TupleTable>(o.tableArity, o.tableTuples, o.tableUpper);
    table->fillRandom(o.tableUpper);
    CspInstance* instance = instanceFromTable(*table);
    deletePooled(table);
    std::cout << "instance: problem 1 table arity=" << o.tableArity
              << " numTuples=" << o.tableTuples << " upper=" << o.tableUpper << std::endl;
    return instance;
  }
  std::cout << "instance: model RB vars=" << o.rb.vars << " domain=" << o.rb.domain
            << " arity=" << o.rb.arity << " constraints=" << o.rb.constraints
            << " tightness=" << o.rb.tightness << " seed=" << o.rb.seed << std::endl;
  return generateRbInstance(o.rb);
}

void printRun(const SolveRun& run, std::int64_t frequency) {
  const SearchStatistics& s = run.stats;
  const double seconds = static_cast<double>(run.ticks) / static_cast<double>(frequency);
  std::cout << "solutions: " << s.solutions << std::endl;
  std::cout << "failures: " << s.failures << std::endl;
  std::cout << "nodes: " << s.nodes << std::endl;
  std::cout << "depth: " << s.maxDepth << std::endl;
  std::cout << "complete: " << (s.complete ? "yes" : "no") << std::endl;
  std::cout << "time: " << elapsedMilliseconds(0, run.ticks, frequency) << " ms" << std::endl;
  std::cout << "nodes per second: " << (seconds > 0 ? static_cast<double>(s.nodes) / seconds : 0.0)
            << std::endl;
}

// Decomposes, writes subproblem k as DIR/sub-<k+1>.txt, numbered from 1 with at least five
// digits (names that sort, and a Slurm array's task id), and searches nothing.
void writeSubproblems(const CspInstance& instance, const SolveOptions& o) {
  std::error_code failure;
  std::filesystem::create_directories(o.writeSubproblemsDir, failure);
  if (failure) {
    exitUsage("cannot create directory " + o.writeSubproblemsDir + ": " + failure.message());
  }
  Solver* solver = newPooled<Solver>();
  SearchSpace* space = newPooled<SearchSpace>(*solver, instance);
  const std::int32_t target =
      o.subproblems > 0 ? o.subproblems
                        : runner::kSubproblemsPerWorker * (o.parallel > 0 ? o.parallel : 1);
  auto* decomposition = newPooled<Decomposition>(*space, target, nullptr);
  const int digits = decomposition->count() < 100000 ? 5 : 7;
  for (std::int32_t k = 0; k < decomposition->count(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "sub-%0*d.txt", digits, k + 1);
    const std::string path = (std::filesystem::path(o.writeSubproblemsDir) / name).string();
    CspInstance* sub = subproblemInstance(instance, *decomposition, k);
    std::ofstream file(path);
    writeInstance(file, *sub,
                  "subproblem " + std::to_string(k + 1) + " of " +
                      std::to_string(decomposition->count()) +
                      ": the instance and its decisions as unary tables");
    file.flush();
    deletePooled(sub);
    if (!file) exitUsage("cannot write subproblem file " + path);
  }
  std::cout << "subproblems: " << decomposition->count() << std::endl;
  std::cout << "decomposition nodes: " << decomposition->nodes()
            << " failures: " << decomposition->failures() << std::endl;
  std::cout << "written: " << o.writeSubproblemsDir << std::endl;
  deletePooled(decomposition);
  deletePooled(space);
  deletePooled(solver);
}

// The parallel search's lines: the one-thread lines, then workers, subproblems and each worker.
int solveParallel(const CspInstance& instance, const SolveOptions& o, std::int64_t frequency) {
  runner::ParallelSearchOptions p;
  p.allSolutions = o.allSolutions;
  p.nodeLimit = o.nodeLimit;
  p.workers = o.parallel;
  p.subproblems = o.subproblems;
  p.splitMem = o.splitMem;
  const runner::ParallelSearchResult r = runner::parallelSearch(instance, p);
  std::cout << "workers: " << o.parallel << std::endl;
  std::cout << "subproblems: " << r.subproblems << std::endl;
  std::cout << "memThread: " << r.budget << std::endl;
  std::cout << "decomposition: " << elapsedMilliseconds(0, r.decompositionTicks, frequency) << " ms"
            << std::endl;
  printRun(SolveRun{r.stats, r.ticks}, frequency);
  std::cout << "memory: " << memoryConsumption(currentAllocator()) << " bytes" << std::endl;
  for (std::size_t k = 0; k < r.workers.size(); ++k) {
    const runner::WorkerResult& w = r.workers[k];
    std::cout << "worker " << k << ": subproblems " << w.subproblems << " nodes " << w.stats.nodes
              << " time " << elapsedMilliseconds(0, w.ticks, frequency) << " ms memory " << w.memory
              << " bytes" << std::endl;
  }
  if (!o.subproblemStatsFile.empty()) {
    std::ofstream csv(o.subproblemStatsFile);
    csv << "# decomposition_seconds=" << static_cast<double>(r.decompositionTicks) / frequency
        << " workers=" << o.parallel << " subproblems=" << r.subproblems << "\n";
    csv << "subproblem,worker,nodes,seconds\n";
    for (std::size_t k = 0; k < r.records.size(); ++k) {
      const SubproblemRecord& rec = r.records[k];
      csv << k + 1 << ',' << rec.worker << ',' << rec.nodes << ','
          << static_cast<double>(rec.ticks) / frequency << "\n";
    }
    csv.flush();
    if (!csv) exitUsage("cannot write subproblem statistics file " + o.subproblemStatsFile);
  }
  return 0;
}

bool sameCounts(const SearchStatistics& a, const SearchStatistics& b) {
  return a.solutions == b.solutions && a.failures == b.failures && a.nodes == b.nodes;
}

}  // namespace

int main(int argc, char** argv) {
  SolveOptions o;
  std::string error;
  if (!parseSolveOptions(argc, argv, &o, &error)) exitUsage(error);
  if (o.help) {
    std::cout << solveUsage();
    return 0;
  }
  if (o.version) {
    std::cout << "varnel-solve " << VARNEL_VERSION << std::endl;
    return 0;
  }
  CspInstance* instance = buildInstance(o);
  std::cout << "variables: " << instance->varCount()
            << " constraints: " << instance->constraintCount()
            << " tuples: " << instance->totalTuples() << std::endl;
  if (!o.writeInstanceFile.empty()) {
    std::ofstream file(o.writeInstanceFile);
    writeInstance(file, *instance, "written by varnel-solve");
    file.flush();
    if (!file) exitUsage("cannot write instance file " + o.writeInstanceFile);
    std::cout << "written: " << o.writeInstanceFile << std::endl;
  }
  if (!o.writeSubproblemsDir.empty()) {
    writeSubproblems(*instance, o);
    deletePooled(instance);
    return 0;
  }
  SearchOptions search;
  search.allSolutions = o.allSolutions;
  search.nodeLimit = o.nodeLimit;
  std::cout << "search: " << (o.allSolutions ? "all solutions" : "first solution")
            << " node limit: " << o.nodeLimit << std::endl;
  const std::int64_t frequency = platform::counterFrequency();

  if (o.parallel > 0) {
    const int code = solveParallel(*instance, o, frequency);
    deletePooled(instance);
    return code;
  }
  if (o.threads == 0) {
    const SolveRun run = solveOnce(*instance, search);
    printRun(run, frequency);
    std::cout << "memory: " << memoryConsumption(currentAllocator()) << " bytes" << std::endl;
    deletePooled(instance);
    return 0;
  }

  const std::int32_t n = o.threads;
  runner::printThreadCount(n);
  const std::uint64_t budget = runner::perThreadBudget(n, o.splitMem);
  std::cout << "memThread: " << budget << std::endl;
  runner::ThreadRunner** runners = runner::newRunnerTable(n);
  for (std::int32_t k = 0; k < n; ++k) {
    runners[k] = runner::newRunner<SolveRunner>(budget, instance, search);
  }
  const runner::LaunchInterval interval = runner::runThreads(runners, n);
  // The reference run, alone, after every worker has ended.
  const SolveRun mainRun = solveOnce(*instance, search);
  printRun(mainRun, frequency);
  bool agree = true;
  auto* times = new (std::nothrow) std::int64_t[static_cast<std::size_t>(n)];
  if (times == nullptr) runner::detail::exitRunnerMemoryRefused(8 * std::uint64_t(n));
  for (std::int32_t k = 0; k < n; ++k) {
    const auto* runner = static_cast<SolveRunner*>(runners[k]);
    agree = agree && sameCounts(runner->result.stats, mainRun.stats);
    times[k] = runner->time;
  }
  std::cout << "workers agree: " << (agree ? "yes" : "no") << std::endl;
  runner::printScalabilityReport(o.splitMem, elapsedMilliseconds(0, mainRun.ticks, frequency),
                                 elapsedMilliseconds(interval.start, interval.end, frequency),
                                 times, n);
  delete[] times;
  runner::deleteRunners(runners, n);
  deletePooled(instance);
  return agree ? 0 : 4;
}

}  // namespace varnel::solve

int main(int argc, char** argv) { return varnel::solve::main(argc, argv); }
