// varnel-solve: builds or reads one instance, then solves it by depth-first search on the main
// thread, or on N workers at once and then on the main thread alone, and prints the counts, the
// time and the nodes per second (with workers, also the driver's scalability lines).
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <system_error>

#include "driver/report.h"
#include "driver/runner.h"
#include "solve/solve_options.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/byte_count.h"
#include "varnel/memory/memory_arena.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/clock.h"
#include "varnel/platform/platform.h"
#include "varnel/platform/standard_output.h"
#include "varnel/search/dfs.h"
#include "varnel/search/instance_io.h"
#include "varnel/search/rb_instance.h"
#include "varnel/search/search_bytes.h"
#include "varnel/table/next_random.h"
#include "varnel/table/table_bytes.h"
#include "varnel/table/tuple_table.h"
#include "varnel/version.h"

namespace varnel::solve {
namespace {

constexpr int kExitUsage = 2;

struct SolveRun {
  SearchStatistics stats;
  std::int64_t ticks = 0;  // counter units from building the space to its release
};

// Builds a solver and a space over the shared instance (Compact-Table over the shared `masks`,
// or GAC-4R without) in the calling thread's pools, searches, and releases both; the time covers
// all of it.
SolveRun solveOnce(const CspInstance& instance, const InstanceSupportMasks* masks,
                   const SearchOptions& options) {
  SolveRun run;
  const std::int64_t start = platform::counterNow();
  Solver* solver = newPooled<Solver>();
  SearchSpace* space = newPooled<SearchSpace>(*solver, instance, masks);
  run.stats = depthFirstSearch(*space, options);
  deletePooled(space);
  deletePooled(solver);
  run.ticks = platform::counterNow() - start;
  return run;
}

// One worker: the same search over the shared instance, in its own allocator.
class SolveRunner final : public driver::AllocatorRunner {
 public:
  SolveRunner(std::uint64_t budget, const CspInstance* instance, const InstanceSupportMasks* masks,
              const SearchOptions& options)
      : AllocatorRunner(budget), instance_(instance), masks_(masks), options_(options) {}
  unsigned run() override {
    result = solveOnce(*instance_, masks_, options_);
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
  SearchOptions options_;
};

[[noreturn]] void exitUsage(const std::string& message) {
  std::cout.flush();
  std::cerr << "Error: " << message << std::endl;
  std::exit(kExitUsage);
}

// Refuses a request that cannot fit, from its counts, before anything large is built: the
// instance, `spaces` search spaces at once (the workers, or the main thread's one) and, with
// --split-mem, each worker's space against its budget.
class MemoryCheck {
 public:
  explicit MemoryCheck(const SolveOptions& o)
      : spaces_(o.threads > 0 ? static_cast<std::uint64_t>(o.threads) : 1),
        budget_(o.splitMem ? roundUpToWord(driver::perThreadBudget(o.threads, true)) : 0),
        physical_(platform::totalPhysicalMemory()) {}
  // The "no more memory" line, or empty when the run fits.
  std::string refusal(const InstanceShape& shape, const ByteCount& buildScratch) const {
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

CspInstance* readInstanceFile(const std::string& path, const MemoryCheck& check) {
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
  std::cout << "instance: file " << printableText(path, 0) << std::endl;
  if (read.droppedTuples > 0) {
    std::cout << "dropped tuples: " << read.droppedTuples
              << " (a value outside its variable's domain)" << std::endl;
  }
  return read.instance;
}

CspInstance* buildInstance(const SolveOptions& o) {
  const MemoryCheck check(o);
  if (!o.instanceFile.empty()) return readInstanceFile(o.instanceFile, check);
  if (o.fromTable) {
    std::cout << "instance: problem 1 table arity=" << o.tableArity
              << " numTuples=" << o.tableTuples << " upper=" << o.tableUpper << std::endl;
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
  std::cout << "instance: model RB vars=" << o.rb.vars << " domain=" << o.rb.domain
            << " arity=" << o.rb.arity << " constraints=" << o.rb.constraints
            << " tightness=" << tightnessText(o.rb.tightness) << " seed=" << o.rb.seed << std::endl;
  const InstanceShape shape = rbShape(o.rb);
  check.exitIfRefused(
      shape, rbScratchBytes(o.rb, Measure::resident) + instanceBytes(shape, Measure::resident));
  return onScratchAllocator([&] { return generateRbInstance(o.rb); });
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
    return finishStandardOutput(0);
  }
  if (o.version) {
    std::cout << "varnel-solve " << VARNEL_VERSION << std::endl;
    return finishStandardOutput(0);
  }
  CspInstance* instance = buildInstance(o);
  std::cout << "variables: " << instance->varCount()
            << " constraints: " << instance->constraintCount()
            << " tuples: " << instance->totalTuples() << std::endl;
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
    std::cout << "written: " << printableText(o.writeInstanceFile, 0) << std::endl;
  }
  SearchOptions search;
  search.allSolutions = o.allSolutions;
  search.nodeLimit = o.nodeLimit;
  std::cout << "search: " << (o.allSolutions ? "all solutions" : "first solution")
            << " node limit: " << o.nodeLimit << std::endl;
  // Compact-Table's support masks are instance data: built once here, before any worker, in the
  // main thread's pools, and only read by every search.
  InstanceSupportMasks* masks = nullptr;
  if (o.compactTable) {
    masks = newPooled<InstanceSupportMasks>(*instance);
    std::cout << "propagator: ct support masks: " << masks->bytes() << " bytes" << std::endl;
  }
  const std::int64_t frequency = platform::counterFrequency();

  if (o.threads == 0) {
    const SolveRun run = solveOnce(*instance, masks, search);
    printRun(run, frequency);
    std::cout << "memory: " << memoryConsumption(currentAllocator()) << " bytes" << std::endl;
    if (masks != nullptr) deletePooled(masks);
    deletePooled(instance);
    return finishStandardOutput(0);
  }

  const std::int32_t n = o.threads;
  driver::printThreadCount(n);
  const std::uint64_t budget = driver::perThreadBudget(n, o.splitMem);
  std::cout << "memThread: " << budget << std::endl;
  driver::ThreadRunner** runners = driver::newRunnerTable(n);
  for (std::int32_t k = 0; k < n; ++k) {
    runners[k] = driver::newRunner<SolveRunner>(budget, instance, masks, search);
  }
  const driver::LaunchInterval interval = driver::runThreads(runners, n);
  // The reference run, alone, after every worker has ended.
  const SolveRun mainRun = solveOnce(*instance, masks, search);
  printRun(mainRun, frequency);
  bool agree = true;
  auto* times = new (std::nothrow) std::int64_t[static_cast<std::size_t>(n)];
  if (times == nullptr) driver::detail::exitRunnerMemoryRefused(8 * std::uint64_t(n));
  for (std::int32_t k = 0; k < n; ++k) {
    const auto* runner = static_cast<SolveRunner*>(runners[k]);
    agree = agree && sameCounts(runner->result.stats, mainRun.stats);
    times[k] = runner->time;
  }
  std::cout << "workers agree: " << (agree ? "yes" : "no") << std::endl;
  std::cout << "worker memory:";
  for (std::int32_t k = 0; k < n; ++k) {
    std::cout << " " << static_cast<SolveRunner*>(runners[k])->memory;
  }
  std::cout << " bytes" << std::endl;
  driver::printScalabilityReport(o.splitMem, elapsedMilliseconds(0, mainRun.ticks, frequency),
                                 elapsedMilliseconds(interval.start, interval.end, frequency),
                                 times, n);
  delete[] times;
  driver::deleteRunners(runners, n);
  if (masks != nullptr) deletePooled(masks);
  deletePooled(instance);
  return finishStandardOutput(agree ? 0 : 4);
}

}  // namespace varnel::solve

int main(int argc, char** argv) { return varnel::solve::main(argc, argv); }
