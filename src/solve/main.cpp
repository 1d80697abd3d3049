// varnel-solve: builds or reads one instance, then solves it by depth-first search on the main
// thread, as one search split over N workers (--parallel), or on N workers at once and then on
// the main thread alone (--threads), and prints the counts, the time, the nodes per second and
// the solutions, as text lines or one JSON object. A time limit and the user's interrupts stop
// the search at its next node through one shared stop request.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "runner/parallel_search.h"
#include "runner/report.h"
#include "runner/runner.h"
#include "solve/solve_options.h"
#include "solve/solve_output.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/byte_count.h"
#include "varnel/memory/memory_arena.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/clock.h"
#include "varnel/platform/platform.h"
#include "varnel/platform/standard_output.h"
#include "varnel/search/decomposition.h"
#include "varnel/search/dfs.h"
#include "varnel/search/model/instance_io.h"
#include "varnel/search/model/rb_instance.h"
#include "varnel/search/search_bytes.h"
#include "varnel/table/next_random.h"
#include "varnel/table/table_bytes.h"
#include "varnel/table/tuple_table.h"
#include "varnel/version.h"

namespace varnel::solve {
namespace {

constexpr int kExitUsage = 2;
constexpr int kExitThreadRefused = 3;
constexpr int kExitDisagree = 4;
constexpr int kExitBadSolution = 6;

// The request every search of the run polls: the time limit's alarm and the interrupt handler
// set it, and with --parallel the first solution. Static, because a signal handler may store
// into it until the process ends.
StopRequest stopRequest;

void requestTimeLimitStop(void*) { stopRequest.request(StopReason::kTimeLimit); }

const char* stopReasonName(StopReason reason) {
  switch (reason) {
    case StopReason::kNone:
      return "exhausted";
    case StopReason::kFirstSolution:
      return "first solution";
    case StopReason::kNodeLimit:
      return "node limit";
    case StopReason::kTimeLimit:
      return "time limit";
    case StopReason::kInterrupted:
      return "interrupted";
  }
  return "exhausted";
}

struct SolveRun {
  SearchStatistics stats;
  std::int64_t ticks = 0;  // counter units from building the space to its release
  std::vector<std::vector<std::int64_t>> solutions;  // the first ones found, values
};

// Builds a solver and a space over the shared instance (Compact-Table over the shared `masks`,
// or GAC-4R without) in the calling thread's pools, searches, and releases both; the time covers
// all of it. Keeps the first `keep` solutions.
struct SolutionKeeper {
  SolveRun* run;
  std::size_t keep;
};

void keepSolution(const SearchSpace& space, void* context) {
  auto* keeper = static_cast<SolutionKeeper*>(context);
  if (keeper->run->solutions.size() < keeper->keep) {
    keeper->run->solutions.push_back(runner::solutionValues(space));
  }
}

SolveRun solveOnce(const CspInstance& instance, const InstanceSupportMasks* masks,
                   AllDifferentLevel allDifferent, SearchOptions options, std::size_t keep) {
  SolveRun run;
  SolutionKeeper keeper{&run, keep};
  if (keep > 0) {
    options.onSolution = keepSolution;
    options.onSolutionContext = &keeper;
  }
  const std::int64_t start = platform::counterNow();
  Solver* solver = newPooled<Solver>();
  SearchSpace* space = newPooled<SearchSpace>(*solver, instance, masks, allDifferent);
  run.stats = depthFirstSearch(*space, options);
  deletePooled(space);
  deletePooled(solver);
  run.ticks = platform::counterNow() - start;
  return run;
}

// One worker: the same search over the shared instance, in its own allocator.
class SolveRunner final : public runner::AllocatorRunner {
 public:
  SolveRunner(std::uint64_t budget, const CspInstance* instance, const InstanceSupportMasks* masks,
              AllDifferentLevel allDifferent, const SearchOptions& options)
      : AllocatorRunner(budget),
        instance_(instance),
        masks_(masks),
        allDifferent_(allDifferent),
        options_(options) {}
  unsigned run() override {
    result = solveOnce(*instance_, masks_, allDifferent_, options_, 0);
    // The worker's own pools, which never shrink: its peak, without the shared instance and masks.
    memory = memoryConsumption(currentAllocator());
    time = elapsedMilliseconds(0, result.ticks, platform::counterFrequency());
    return 0;
  }
  SolveRun result;
  std::uint64_t memory = 0;

 private:
  const CspInstance* instance_;
  const InstanceSupportMasks* masks_;
  AllDifferentLevel allDifferent_;
  SearchOptions options_;
};

[[noreturn]] void exitUsage(const std::string& message) {
  std::cout.flush();
  std::cerr << "Error: " << message << std::endl;
  std::exit(kExitUsage);
}

std::string decimal(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// Refuses a request that cannot fit, from its counts, before anything large is built: the
// instance, `spaces` search spaces at once (the workers of --threads or --parallel, or the main
// thread's one) and, with --split-mem, each worker's space against its budget.
// The search spaces a run holds at once: one per worker, or the main thread's one.
std::int32_t workerCount(const SolveOptions& o) {
  return o.threads > 0 ? o.threads : o.parallel > 0 ? o.parallel : 1;
}

class MemoryCheck {
 public:
  explicit MemoryCheck(const SolveOptions& o)
      : spaces_(static_cast<std::uint64_t>(workerCount(o))),
        budget_(o.splitMem ? roundUpToWord(runner::perThreadBudget(workerCount(o), true)) : 0),
        physical_(platform::totalPhysicalMemory()),
        compactTable_(o.compactTable) {}
  // The "no more memory" line, or empty when the run fits.
  std::string refusal(InstanceShape shape, const ByteCount& buildScratch) const {
    shape.compactTable = compactTable_;
    return searchMemoryRefusal(shape, buildScratch, spaces_, budget_, physical_);
  }
  void exitIfRefused(const InstanceShape& shape, const ByteCount& buildScratch) const {
    const std::string message = refusal(shape, buildScratch);
    if (!message.empty()) exitRefused(message);
  }
  // The refusal's line on standard error, standard output flushed first, and exit 1.
  [[noreturn]] static void exitRefused(const std::string& message) {
    std::cout.flush();
    std::cerr << message << std::endl;
    std::exit(1);
  }

 private:
  std::uint64_t spaces_;
  std::uint64_t budget_;
  std::uint64_t physical_;
  bool compactTable_;  // the spaces' propagator: Compact-Table, with its shared support masks
};

// Builds an instance in an allocator of its own and keeps a copy of it in the calling thread's
// pools, stored as the file reader stores one: whatever building it took (problem 1's table, the
// generator's codes) is given back, and the pools hold the same whether the instance was
// generated, drawn from a table or read, so `memory:` says the same for all three.
template <class Build>
CspInstance* onScratchAllocator(const Build& build) {
  varnel_allocator* const own = currentAllocator();
  createThreadAllocator(0);  // the thread's slot now names the scratch allocator
  varnel_allocator* const scratch = currentAllocator();
  CspInstance* built = build();
  platform::threadSlotSet(allocatorTlsIndex, own);
  CspInstance* copy = copyInstance(*built);
  platform::threadSlotSet(allocatorTlsIndex, scratch);
  destroyThreadAllocator();  // the built instance with everything else
  platform::threadSlotSet(allocatorTlsIndex, own);
  return copy;
}

// "cannot open 'FILE': why", the reason from the system.
std::string cannotOpen(const std::string& file, const std::error_code& why) {
  return "cannot open '" + printableText(file, 0) + "': " + why.message();
}

CspInstance* readInstanceFile(const std::string& path, const MemoryCheck& check, SolveOutput& out) {
  std::error_code status;
  if (std::filesystem::is_directory(path, status)) {
    exitUsage(cannotOpen(path, std::make_error_code(std::errc::is_a_directory)));
  }
  // Binary: the reader takes LF and CRLF itself, and a text-mode stream on Windows would stop
  // at a Ctrl-Z byte.
  std::ifstream file(path, std::ios::binary);
  if (!file) exitUsage(cannotOpen(path, std::error_code(errno, std::generic_category())));
  InstanceReadResult read =
      readInstance(file, [&](const InstanceShape& shape) { return check.refusal(shape, 0); });
  if (read.outOfMemory) MemoryCheck::exitRefused(read.error);
  if (read.instance == nullptr) {
    exitUsage(printableText(path, 0) + ":" + std::to_string(read.line) + ": " + read.error);
  }
  const std::string what = "file " + printableText(path, 0);
  out.field("instance", what, "instance", json::string(what));
  if (read.droppedTuples > 0) {
    out.text("dropped tuples: " + std::to_string(read.droppedTuples) +
             " (a value outside its variable's domain)");
  }
  out.member("dropped_tuples", json::number(read.droppedTuples));
  return read.instance;
}

CspInstance* buildInstance(const SolveOptions& o, SolveOutput& out) {
  const MemoryCheck check(o);
  if (!o.instanceFile.empty()) return readInstanceFile(o.instanceFile, check, out);
  if (o.fromTable) {
    const std::string what = "problem 1 table arity=" + std::to_string(o.tableArity) +
                             " numTuples=" + std::to_string(o.tableTuples) +
                             " upper=" + std::to_string(o.tableUpper);
    out.field("instance", what, "instance", json::string(what));
    // The table and the rows instanceFromTable copies out of it.
    check.exitIfRefused(tableShape(o.tableArity, o.tableTuples),
                        tableBytes(o.tableArity, o.tableTuples, o.tableUpper, Measure::resident) +
                            ByteCount(static_cast<std::uint64_t>(o.tableArity)) *
                                (4 * static_cast<std::uint64_t>(o.tableTuples)));
    return onScratchAllocator([&] {
      // Problem 1's table: the first draws of the thread's generator.
      detail::randomState = 1;
      auto* table = newPooled<TupleTable>(o.tableArity, o.tableTuples, o.tableUpper);
      table->fillRandom(o.tableUpper);
      CspInstance* instance = instanceFromTable(*table);
      deletePooled(table);
      return instance;
    });
  }
  const std::string what =
      "model RB vars=" + std::to_string(o.rb.vars) + " domain=" + std::to_string(o.rb.domain) +
      " arity=" + std::to_string(o.rb.arity) + " constraints=" + std::to_string(o.rb.constraints) +
      " tightness=" + tightnessText(o.rb.tightness) + " seed=" + std::to_string(o.rb.seed);
  out.field("instance", what, "instance", json::string(what));
  const InstanceShape shape = rbShape(o.rb);
  check.exitIfRefused(
      shape, rbScratchBytes(o.rb, Measure::resident) + instanceBytes(shape, Measure::resident));
  return onScratchAllocator([&] { return generateRbInstance(o.rb); });
}

void printRun(SolveOutput& out, const SearchStatistics& s, std::int64_t ticks,
              std::int64_t frequency) {
  const double seconds = static_cast<double>(ticks) / static_cast<double>(frequency);
  const double rate = seconds > 0 ? static_cast<double>(s.nodes) / seconds : 0.0;
  const std::int64_t ms = elapsedMilliseconds(0, ticks, frequency);
  out.field("solutions", std::to_string(s.solutions), "solutions", json::number(s.solutions));
  out.field("failures", std::to_string(s.failures), "failures", json::number(s.failures));
  out.field("nodes", std::to_string(s.nodes), "nodes", json::number(s.nodes));
  out.field("depth", std::to_string(s.maxDepth), "depth", json::number(s.maxDepth));
  out.field("complete", s.complete ? "yes" : "no", "complete", json::boolean(s.complete));
  out.field("stopped", stopReasonName(s.stopped), "stopped",
            json::string(stopReasonName(s.stopped)));
  out.field("time", std::to_string(ms) + " ms", "time_ms", json::number(ms));
  out.field("nodes per second", decimal(rate), "nodes_per_second", json::number(rate));
}

std::string valuesText(const std::vector<std::int64_t>& values) {
  std::string text;
  for (std::size_t x = 0; x < values.size(); ++x) {
    text += (x > 0 ? " " : "") + std::to_string(values[x]);
  }
  return text;
}

std::string valuesJson(const std::vector<std::int64_t>& values) {
  std::vector<std::string> items;
  for (const std::int64_t v : values) items.push_back(json::number(v));
  return json::array(items);
}

// Checks every solution against every table, then prints them: in first-solution mode the one
// (`solution`, null in JSON when there is none), in all-solutions mode the first
// --print-solutions of them. A solution that a table forbids is a fault of the search: it is
// reported on standard error and ends the program before anything wrong is shown.
void printSolutions(SolveOutput& out, const CspInstance& instance, const SolveOptions& o,
                    const std::vector<std::vector<std::int64_t>>& solutions) {
  for (std::size_t k = 0; k < solutions.size(); ++k) {
    const std::int32_t violated = instance.firstViolatedConstraint(solutions[k].data());
    if (violated >= 0) {
      std::cout.flush();
      std::cerr << "Error: solution " << k + 1 << " (" << valuesText(solutions[k])
                << ") is not allowed by table " << violated
                << ": a fault of the search, nothing is printed for it" << std::endl;
      std::exit(kExitBadSolution);
    }
  }
  std::vector<std::string> items;
  for (const auto& values : solutions) {
    out.text("solution: " + valuesText(values));
    items.push_back(valuesJson(values));
  }
  if (!o.allSolutions) {
    out.member("solution", items.empty() ? "null" : items[0]);
  } else if (o.printSolutions > 0) {
    out.member("printed_solutions", json::array(items));
  }
}

// Decomposes, writes subproblem k as DIR/sub-<k+1>.txt, numbered from 1 with at least five
// digits (names that sort, and a Slurm array's task id), and searches nothing.
void writeSubproblems(const CspInstance& instance, const InstanceSupportMasks* masks,
                      const SolveOptions& o, SolveOutput& out) {
  std::error_code failure;
  std::filesystem::create_directories(o.writeSubproblemsDir, failure);
  if (failure) {
    exitUsage("cannot create directory " + o.writeSubproblemsDir + ": " + failure.message());
  }
  Solver* solver = newPooled<Solver>();
  SearchSpace* space = newPooled<SearchSpace>(*solver, instance, masks, o.allDifferent);
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
  out.field("subproblems", std::to_string(decomposition->count()), "subproblems",
            json::number(decomposition->count()));
  out.text("decomposition nodes: " + std::to_string(decomposition->nodes()) +
           " failures: " + std::to_string(decomposition->failures()));
  out.member("decomposition_nodes", json::number(decomposition->nodes()));
  out.member("decomposition_failures", json::number(decomposition->failures()));
  out.field("written", o.writeSubproblemsDir, "written_subproblems",
            json::string(o.writeSubproblemsDir));
  deletePooled(decomposition);
  deletePooled(space);
  deletePooled(solver);
}

// The parallel search's lines: workers, subproblems, the one-thread lines, then each worker.
int solveParallel(const CspInstance& instance, const InstanceSupportMasks* masks,
                  const SolveOptions& o, std::int64_t frequency, SolveOutput& out) {
  runner::ParallelSearchOptions p;
  p.masks = masks;
  p.allDifferent = o.allDifferent;
  p.allSolutions = o.allSolutions;
  p.nodeLimit = o.nodeLimit;
  p.stop = &stopRequest;
  p.workers = o.parallel;
  p.subproblems = o.subproblems;
  p.splitMem = o.splitMem;
  p.keepSolutions = o.printSolutions;
  const runner::ParallelSearchResult r = runner::parallelSearch(instance, p);
  const std::int64_t decompositionMs = elapsedMilliseconds(0, r.decompositionTicks, frequency);
  out.field("workers", std::to_string(o.parallel), "workers", json::number(o.parallel));
  out.field("subproblems", std::to_string(r.subproblems), "subproblems",
            json::number(r.subproblems));
  out.field("memThread", std::to_string(r.budget), "mem_thread", json::number(r.budget));
  out.field("decomposition", std::to_string(decompositionMs) + " ms", "decomposition_ms",
            json::number(decompositionMs));
  printRun(out, r.stats, r.ticks, frequency);
  const std::uint64_t memory = memoryConsumption(currentAllocator());
  out.field("memory", std::to_string(memory) + " bytes", "memory", json::number(memory));
  std::vector<std::vector<std::int64_t>> solutions;
  if (!o.allSolutions && r.winner >= 0) {
    solutions = r.workers[static_cast<std::size_t>(r.winner)].solutions;
  } else if (o.allSolutions) {
    solutions = runner::solutionsInSearchOrder(r, static_cast<std::size_t>(o.printSolutions));
  }
  printSolutions(out, instance, o, solutions);
  std::vector<std::string> workers;
  for (std::size_t k = 0; k < r.workers.size(); ++k) {
    const runner::WorkerResult& w = r.workers[k];
    const std::int64_t ms = elapsedMilliseconds(0, w.ticks, frequency);
    out.text("worker " + std::to_string(k) + ": subproblems " + std::to_string(w.subproblems) +
             " nodes " + std::to_string(w.stats.nodes) + " time " + std::to_string(ms) +
             " ms memory " + std::to_string(w.memory) + " bytes");
    workers.push_back(json::object({{"worker", json::number(static_cast<std::int64_t>(k))},
                                    {"subproblems", json::number(w.subproblems)},
                                    {"nodes", json::number(w.stats.nodes)},
                                    {"time_ms", json::number(ms)},
                                    {"memory", json::number(w.memory)}}));
  }
  out.member("worker_results", json::array(workers));
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

// True when GAC-4R can run every table of `instance`: supports without stars.
bool gac4rReads(const CspInstance& instance) {
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
    if (instance.isTable(c) &&
        (instance.kind(c) != ConstraintKind::kSupports || instance.hasStars(c))) {
      return false;
    }
  }
  return true;
}

bool sameCounts(const SearchStatistics& a, const SearchStatistics& b) {
  return a.solutions == b.solutions && a.failures == b.failures && a.nodes == b.nodes;
}

// --threads: N copies of the search at once, then the main thread's, and the report block.
int solveCopies(const CspInstance& instance, const InstanceSupportMasks* masks,
                const SolveOptions& o, const SearchOptions& search, std::int64_t frequency,
                SolveOutput& out) {
  const std::int32_t n = o.threads;
  out.text("#threads " + std::to_string(n));  // the driver's line
  out.member("threads", json::number(n));
  const std::uint64_t budget = runner::perThreadBudget(n, o.splitMem);
  out.field("memThread", std::to_string(budget), "mem_thread", json::number(budget));
  runner::ThreadRunner** runners = runner::newRunnerTable(n);
  for (std::int32_t k = 0; k < n; ++k) {
    runners[k] = runner::newRunner<SolveRunner>(budget, &instance, masks, o.allDifferent, search);
  }
  const runner::LaunchInterval interval = runner::runThreads(runners, n);
  // The reference run, alone, after every worker has ended.
  const SolveRun mainRun =
      solveOnce(instance, masks, o.allDifferent, search,
                o.allSolutions ? std::size_t(o.printSolutions) : 1);
  printRun(out, mainRun.stats, mainRun.ticks, frequency);
  printSolutions(out, instance, o, mainRun.solutions);
  // A search stopped from outside (time limit, interrupt) ends wherever each copy was.
  const bool compared = !stopRequest.requested();
  bool agree = true;
  std::vector<std::int64_t> times(static_cast<std::size_t>(n));
  for (std::int32_t k = 0; k < n; ++k) {
    const auto* runner = static_cast<SolveRunner*>(runners[k]);
    agree = agree && sameCounts(runner->result.stats, mainRun.stats);
    times[static_cast<std::size_t>(k)] = runner->time;
  }
  out.field("workers agree",
            !compared ? "not compared (stopped)"
            : agree   ? "yes"
                      : "no",
            "workers_agree", compared ? json::boolean(agree) : "null");
  std::string memoryText;
  std::vector<std::string> memoryItems;
  for (std::int32_t k = 0; k < n; ++k) {
    const std::uint64_t memory = static_cast<SolveRunner*>(runners[k])->memory;
    memoryText += " " + std::to_string(memory);
    memoryItems.push_back(json::number(memory));
  }
  out.text("worker memory:" + memoryText + " bytes");
  out.member("worker_memory", json::array(memoryItems));
  const std::int64_t mainMs = elapsedMilliseconds(0, mainRun.ticks, frequency);
  const std::int64_t elapsedMs = elapsedMilliseconds(interval.start, interval.end, frequency);
  if (out.json()) {
    const runner::ScalabilityFigures f = runner::scalabilityFigures(mainMs, times.data(), n);
    std::vector<std::string> items;
    for (const std::int64_t t : times) items.push_back(json::number(t));
    out.member("split_mem", json::boolean(o.splitMem));
    out.member("main_time_ms", json::number(mainMs));
    out.member("elapsed_time_ms", json::number(elapsedMs));
    out.member("thread_times_ms", json::array(items));
    out.member("thread_mean_ms", json::number(f.mean));
    out.member("ratio", json::number(f.ratio));
    out.member("power", json::number(f.power));
  } else {
    runner::printScalabilityReport(o.splitMem, mainMs, elapsedMs, times.data(), n);
  }
  runner::deleteRunners(runners, n);
  return !compared || agree ? 0 : kExitDisagree;
}

}  // namespace

int main(int argc, char** argv) {
  SolveOptions o;
  std::string error;
  if (!parseSolveOptions(argc, argv, &o, &error)) exitUsage(error);
  if (o.help) {
    std::cout << solveUsage();
    return finishStandardOutput(0);
  }
  if (o.version) {
    std::cout << "varnel-solve " << VARNEL_VERSION << std::endl;
    return finishStandardOutput(0);
  }
  // From here on an interrupt only stops the search; the program prints what it has.
  platform::watchInterrupts(stopRequest.flag(),
                            static_cast<std::uint8_t>(StopReason::kInterrupted));
  platform::Alarm alarm;
  if (o.timeLimit > 0 &&
      !platform::startAlarm(o.timeLimit, requestTimeLimitStop, nullptr, &alarm)) {
    std::cerr << "Error: the system refused the thread of the time limit" << std::endl;
    return kExitThreadRefused;
  }
  SolveOutput out(o.json);
  out.member("program", json::string("varnel-solve"));
  out.member("version", json::string(VARNEL_VERSION));
  CspInstance* instance = buildInstance(o, out);
  out.text("variables: " + std::to_string(instance->varCount()) +
           " constraints: " + std::to_string(instance->constraintCount()) +
           " tuples: " + std::to_string(instance->totalTuples()));
  out.member("variables", json::number(instance->varCount()));
  out.member("constraints", json::number(instance->constraintCount()));
  out.member("tuples", json::number(instance->totalTuples()));
  if (!o.writeInstanceFile.empty()) {
    std::ofstream file(o.writeInstanceFile, std::ios::binary);
    if (!file) {
      exitUsage("cannot write '" + printableText(o.writeInstanceFile, 0) +
                "': " + std::error_code(errno, std::generic_category()).message());
    }
    writeInstance(file, *instance, "written by varnel-solve");
    file.flush();
    if (!file) {
      exitUsage("cannot write '" + printableText(o.writeInstanceFile, 0) +
                "': " + std::error_code(errno, std::generic_category()).message());
    }
    const std::string written = printableText(o.writeInstanceFile, 0);
    out.field("written", written, "written", json::string(written));
  }
  // Compact-Table's support masks are instance data: built once here, before any worker, in the
  // main thread's pools, and only read by every search.
  InstanceSupportMasks* masks = nullptr;
  if (!o.compactTable && !gac4rReads(*instance)) {
    exitUsage("--propagator gac4r reads positive tables without '*' and allDifferent; use ct "
              "for conflicts tables and short tuples");
  }
  if (o.compactTable) {
    if (std::string refusal = InstanceSupportMasks::conflictsRefusal(*instance); !refusal.empty()) {
      exitUsage(refusal);
    }
    masks = newPooled<InstanceSupportMasks>(*instance);
  }
  int code = 0;
  if (!o.writeSubproblemsDir.empty()) {
    writeSubproblems(*instance, masks, o, out);
  } else {
    SearchOptions search;
    search.allSolutions = o.allSolutions;
    search.nodeLimit = o.nodeLimit;
    search.stop = &stopRequest;
    const char* mode = o.allSolutions ? "all solutions" : "first solution";
    out.text(std::string("search: ") + mode + " node limit: " + std::to_string(o.nodeLimit));
    out.member("search", json::string(mode));
    out.member("node_limit", json::number(o.nodeLimit));
    if (o.timeLimit > 0) out.text("time limit: " + decimal(o.timeLimit) + " s");
    out.member("time_limit", json::number(o.timeLimit));
    if (masks != nullptr) {
      out.text("propagator: ct support masks: " + std::to_string(masks->bytes()) + " bytes");
    }
    out.member("propagator", json::string(masks != nullptr ? "ct" : "gac4r"));
    out.member("support_masks", json::number(masks != nullptr ? masks->bytes() : 0));
    const std::int64_t frequency = platform::counterFrequency();
    if (o.parallel > 0) {
      code = solveParallel(*instance, masks, o, frequency, out);
    } else if (o.threads > 0) {
      code = solveCopies(*instance, masks, o, search, frequency, out);
    } else {
      const SolveRun run = solveOnce(*instance, masks, o.allDifferent, search,
                                     o.allSolutions ? std::size_t(o.printSolutions) : 1);
      printRun(out, run.stats, run.ticks, frequency);
      const std::uint64_t memory = memoryConsumption(currentAllocator());
      out.field("memory", std::to_string(memory) + " bytes", "memory", json::number(memory));
      printSolutions(out, *instance, o, run.solutions);
    }
  }
  if (o.timeLimit > 0) platform::cancelAlarm(alarm);
  out.finish();
  if (masks != nullptr) deletePooled(masks);
  deletePooled(instance);
  // An interrupt ends the program with the code a shell gives a process that its signal killed.
  const int interrupted = platform::interruptExitCode();
  return finishStandardOutput(interrupted != 0 ? interrupted : code);
}

}  // namespace varnel::solve

int main(int argc, char** argv) { return varnel::solve::main(argc, argv); }
