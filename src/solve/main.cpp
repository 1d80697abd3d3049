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
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "runner/parallel_search.h"
#include "runner/report.h"
#include "runner/runner.h"
#include "solve/progress_line.h"
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
#include "varnel/search/model/xcsp3_reader.h"
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

// What the competitions' lines need, gathered as the run reports: the search's end and the
// first solution.
struct Verdict {
  bool searched = false;
  bool complete = false;
  std::int64_t solutions = 0;
  std::vector<std::int64_t> first;
};
Verdict verdict;

// The request every search of the run polls: the time limit's alarm and the interrupt handler
// set it, and with --parallel the first solution. Static, because a signal handler may store
// into it until the process ends.
StopRequest stopRequest;
// What the searches have done so far, for the progress line; the parallel search's subproblem
// count once its decomposition is made.
SearchProgress searchProgress;
std::atomic<std::int32_t> subproblemTotal{0};

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

// All-solutions mode: the first `limit` solutions, each checked against the instance and printed
// as soon as it is found, so that a long listing holds no memory and a stop stops it.
// All-solutions mode: the first `shown` solutions, and at least the first one (the
// competitions' v line), each checked against the instance and handed on as soon as it is found.
struct SolutionStream {
  SolutionStream(SolveOutput* out, const CspInstance* instance, const Xcsp3Model* model,
                 const SolveOptions* options)
      : out(out),
        instance(instance),
        model(model),
        options(options),
        shown(static_cast<std::uint64_t>(options->printSolutions)),
        limit(shown > 0 ? shown : 1) {}
  SolveOutput* out;
  const CspInstance* instance;
  const Xcsp3Model* model;
  const SolveOptions* options;
  std::uint64_t shown;  // printed
  std::uint64_t limit;  // checked
  std::uint64_t delivered = 0;

  static void print(const std::vector<std::int64_t>& values, void* context);
  static void printFound(const SearchSpace& space, void* context) {
    auto* self = static_cast<SolutionStream*>(context);
    if (self->delivered < self->limit) print(runner::solutionValues(space), context);
  }
};

SolveRun solveOnce(const CspInstance& instance, const InstanceSupportMasks* masks,
                   AllDifferentLevel allDifferent, SearchOptions options, std::size_t keep,
                   SolutionStream* stream = nullptr) {
  SolveRun run;
  SolutionKeeper keeper{&run, keep};
  if (stream != nullptr) {
    options.onSolution = SolutionStream::printFound;
    options.onSolutionContext = stream;
  } else if (keep > 0) {
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
        limit_(platform::processMemoryLimit()),
        compactTable_(o.compactTable) {}
  // The "no more memory" line, or empty when the run fits.
  std::string refusal(InstanceShape shape, const ByteCount& buildScratch) const {
    shape.compactTable = compactTable_;
    return searchMemoryRefusal(shape, buildScratch, spaces_, budget_, physical_, limit_.bytes,
                               limit_.what);
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
  platform::MemoryLimit limit_;  // resource limits, control group: the smallest
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

// The competitions' answer line for a file that this build cannot search, before the error.
void printUnsupported(SolveOutput& out) {
  if (out.competition()) out.verbatim("s UNSUPPORTED");
}

// An XCSP3 file (plain, .lzma or .xz): the instance, and in `model` its names and its own
// constraints for the output. A file outside the subset is refused naming the element and line.
CspInstance* readXcsp3File(std::ifstream& file, const std::string& path, const SolveOptions& o,
                           const MemoryCheck& check, SolveOutput& out,
                           std::unique_ptr<Xcsp3Model>* model) {
  Xcsp3ReadOptions options;
  options.maxIntensionTuples = o.maxIntensionTuples;
  options.modelAllowance = static_cast<std::uint64_t>(o.maxModelMb) << 20;
  options.compactTable = o.compactTable;
  options.check = [&](const InstanceShape& shape) { return check.refusal(shape, 0); };
  const std::int64_t start = platform::counterNow();
  Xcsp3ReadResult read = readXcsp3(file, options);
  const std::int64_t readMs =
      elapsedMilliseconds(start, platform::counterNow(), platform::counterFrequency());
  if (read.outOfMemory) MemoryCheck::exitRefused(read.error);
  if (read.instance == nullptr) {
    if (read.unsupported) printUnsupported(out);
    exitUsage(printableText(path, 0) + ":" + std::to_string(read.line) + ": " + read.error);
  }
  const std::string what = "file " + printableText(path, 0);
  out.field("instance", what, "instance", json::string(what));
  out.field("format", "xcsp3", "format", json::string("xcsp3"));
  out.field("read time", std::to_string(readMs) + " ms", "read_time_ms", json::number(readMs));
  if (read.droppedTuples > 0) {
    out.text("dropped tuples: " + std::to_string(read.droppedTuples) +
             " (a value outside its variable's domain)");
  }
  out.member("dropped_tuples", json::number(read.droppedTuples));
  *model = std::move(read.model);
  return read.instance;
}

CspInstance* readInstanceFile(const std::string& path, const SolveOptions& o,
                              const MemoryCheck& check, SolveOutput& out,
                              std::unique_ptr<Xcsp3Model>* model) {
  std::error_code status;
  if (std::filesystem::is_directory(path, status)) {
    exitUsage(cannotOpen(path, std::make_error_code(std::errc::is_a_directory)));
  }
  // Binary: the reader takes LF and CRLF itself, and a text-mode stream on Windows would stop
  // at a Ctrl-Z byte.
  std::ifstream file(path, std::ios::binary);
  if (!file) exitUsage(cannotOpen(path, std::error_code(errno, std::generic_category())));
  // The first bytes tell the formats apart: XML (or xz data, or a .lzma/.xz name) is XCSP3.
  char head[512];
  const auto got = static_cast<std::size_t>(file.rdbuf()->sgetn(head, sizeof head));
  file.rdbuf()->pubseekpos(0, std::ios::in);
  if (looksLikeXcsp3(std::string_view(head, got), path)) {
    return readXcsp3File(file, path, o, check, out, model);
  }
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

CspInstance* buildInstance(const SolveOptions& o, SolveOutput& out,
                           std::unique_ptr<Xcsp3Model>* model) {
  const MemoryCheck check(o);
  if (!o.instanceFile.empty()) return readInstanceFile(o.instanceFile, o, check, out, model);
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
      " tightness=" + tightnessText(o.rb.tightness) + " seed=" + std::to_string(o.rb.seed) +
      (o.rb.planted ? " planted" : "");
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
  if (s.restarts > 0) {
    out.text("restarts: " + std::to_string(s.restarts) + " nogoods: " + std::to_string(s.nogoods));
  }
  out.member("restarts", json::number(s.restarts));
  out.member("nogoods", json::number(s.nogoods));
  out.field("complete", s.complete ? "yes" : "no", "complete", json::boolean(s.complete));
  out.field("stopped", stopReasonName(s.stopped), "stopped",
            json::string(stopReasonName(s.stopped)));
  out.field("time", std::to_string(ms) + " ms", "time_ms", json::number(ms));
  out.field("nodes per second", decimal(rate), "nodes_per_second", json::number(rate));
  verdict.searched = true;
  verdict.complete = s.complete;
  verdict.solutions = s.solutions;
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

// A solution as printed: with the file's names (`x[0]=3`) when it gave them.
std::string solutionText(const std::vector<std::int64_t>& values, const Xcsp3Model* model) {
  if (model == nullptr) return valuesText(values);
  std::string text;
  for (std::size_t x = 0; x < values.size(); ++x) {
    const auto var = static_cast<std::int32_t>(x);
    text += (x > 0 ? " " : "") + model->variableName(var) + "=" + model->valueText(var, values[x]);
  }
  return text;
}

// A solution that a constraint forbids is a fault of the search: it is reported on standard
// error and ends the program before anything wrong is shown. An XCSP3 file's solutions are
// checked against the file's own constraints, not only the tables they were turned into.
void checkSolution(const CspInstance& instance, const Xcsp3Model* model, const SolveOptions& o,
                   const std::vector<std::int64_t>& values, std::uint64_t number) {
  const std::int64_t line = model != nullptr ? model->firstViolatedLine(values.data()) : 0;
  if (line > 0) {
    std::cout.flush();
    std::cerr << "Error: solution " << number << " violates the constraint of line " << line
              << " of " << printableText(o.instanceFile, 0)
              << ": a fault of the search, nothing is printed for it" << std::endl;
    std::exit(kExitBadSolution);
  }
  const std::int32_t violated = instance.firstViolatedConstraint(values.data());
  if (violated < 0) return;
  std::cout.flush();
  std::cerr << "Error: solution " << number << " (" << valuesText(values)
            << ") is not allowed by constraint " << violated
            << ": a fault of the search, nothing is printed for it" << std::endl;
  std::exit(kExitBadSolution);
}

void SolutionStream::print(const std::vector<std::int64_t>& values, void* context) {
  auto* self = static_cast<SolutionStream*>(context);
  checkSolution(*self->instance, self->model, *self->options, values, ++self->delivered);
  if (verdict.first.empty()) verdict.first = values;
  if (self->delivered > self->shown) return;
  // The competitions' v line carries the first solution.
  if (!self->out->competition()) {
    self->out->text("solution: " + solutionText(values, self->model), false);
  }
  self->out->arrayItem(valuesJson(values));
}

// First-solution mode: checks the solution found, if any, and prints it (`solution`, null in
// JSON when there is none). All-solutions mode printed its solutions as it found them.
void printSolutions(SolveOutput& out, const CspInstance& instance, const SolveOptions& o,
                    const std::vector<std::vector<std::int64_t>>& solutions,
                    const Xcsp3Model* model) {
  if (o.allSolutions) return;
  for (std::size_t k = 0; k < solutions.size(); ++k) {
    checkSolution(instance, model, o, solutions[k], k + 1);
  }
  if (!solutions.empty()) verdict.first = solutions[0];
  for (const auto& values : solutions) {
    if (!out.competition()) out.text("solution: " + solutionText(values, model));
  }
  out.member("solution", solutions.empty() ? "null" : valuesJson(solutions[0]));
}

// A stream that keeps only the length and the FNV-1a digest of what is written to it: the
// instance's identity in a decomposition's files, without holding its text.
class DigestBuffer final : public std::streambuf {
 public:
  std::uint64_t digest() const { return digest_; }
  std::uint64_t bytes() const { return bytes_; }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) add(static_cast<char>(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize n) override {
    for (std::streamsize k = 0; k < n; ++k) add(text[k]);
    return n;
  }

 private:
  void add(char c) {
    digest_ = (digest_ ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    ++bytes_;
  }
  std::uint64_t digest_ = 14695981039346656037ull;
  std::uint64_t bytes_ = 0;
};

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// "cannot write 'FILE': why", the reason the failed call left in errno.
[[noreturn]] void exitCannotWrite(const std::string& path, int reason) {
  exitUsage("cannot write '" + printableText(path, 0) +
            "': " + std::error_code(reason, std::generic_category()).message());
}

// Decomposes, writes subproblem k as DIR/sub-<k+1>.txt, numbered from 1 with at least five
// digits (names that sort, and a Slurm array's task id), then DIR/manifest.txt, and searches
// nothing. The folder must be new or empty, so that two decompositions never mix; each file and
// the manifest name the decomposition by the instance's digest and the count, which
// tools/solve-subproblems checks before adding anything up. The manifest comes last: a folder
// without one (an interrupted run) is no decomposition.
int writeSubproblems(const CspInstance& instance, const InstanceSupportMasks* masks,
                     const SolveOptions& o, SolveOutput& out) {
  const std::string& dir = o.writeSubproblemsDir;
  const std::string shown = printableText(dir, 0);
  std::error_code failure;
  if (std::filesystem::exists(dir, failure) && !std::filesystem::is_empty(dir, failure)) {
    exitUsage("--write-subproblems: '" + shown +
              "' already holds files: name a new or empty folder, so that two decompositions "
              "never mix");
  }
  std::filesystem::create_directories(dir, failure);
  if (failure) exitUsage("cannot create directory '" + shown + "': " + failure.message());
  DigestBuffer digestBuffer;
  std::ostream digestStream(&digestBuffer);
  writeInstance(digestStream, instance, "");
  const std::string digest = hex(digestBuffer.digest());

  Solver* solver = newPooled<Solver>();
  SearchSpace* space = newPooled<SearchSpace>(*solver, instance, masks, o.allDifferent);
  const std::int32_t target =
      o.subproblems > 0 ? o.subproblems
                        : runner::kSubproblemsPerWorker * (o.parallel > 0 ? o.parallel : 1);
  auto* decomposition = newPooled<Decomposition>(*space, target, &stopRequest);
  const std::int32_t count = decomposition->count();
  // Each file holds the instance and a unary table per decision (a few lines more): refuse at
  // once what the file system cannot hold rather than fill it.
  const std::filesystem::space_info room = std::filesystem::space(dir, failure);
  const std::uint64_t need = std::uint64_t(count) * (digestBuffer.bytes() + 256);
  if (!failure && !decomposition->stopped() && need > room.available) {
    exitUsage("--write-subproblems: " + std::to_string(count) + " subproblem files need about " +
              std::to_string(need) + " bytes, above the " + std::to_string(room.available) +
              " bytes free for '" + shown + "'");
  }
  const int digits = count < 100000 ? 5 : 7;
  std::int32_t written = 0;
  for (std::int32_t k = 0; k < count && !stopRequest.requested(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "sub-%0*d.txt", digits, k + 1);
    const std::string path = (std::filesystem::path(dir) / name).string();
    CspInstance* sub = subproblemInstance(instance, *decomposition, k);
    std::ofstream file(path, std::ios::binary);
    if (!file) exitCannotWrite(path, errno);
    writeInstance(file, *sub,
                  "subproblem " + std::to_string(k + 1) + " of " + std::to_string(count) +
                      " of decomposition " + digest +
                      ": the instance and its decisions as unary tables");
    file.flush();
    const int reason = errno;
    deletePooled(sub);
    if (!file) exitCannotWrite(path, reason);
    ++written;
  }
  const bool stopped = stopRequest.requested();
  if (!stopped) {
    const std::string path = (std::filesystem::path(dir) / "manifest.txt").string();
    std::ofstream manifest(path, std::ios::binary);
    manifest << "# varnel-solve --write-subproblems: the files of one decomposition\n"
             << "decomposition " << digest << "\n"
             << "subproblems " << count << "\n"
             << "decomposition-nodes " << decomposition->nodes() << "\n"
             << "decomposition-failures " << decomposition->failures() << "\n";
    manifest.flush();
    if (!manifest) exitCannotWrite(path, errno);
  }
  out.field("subproblems", std::to_string(count), "subproblems", json::number(count));
  out.text("decomposition nodes: " + std::to_string(decomposition->nodes()) +
           " failures: " + std::to_string(decomposition->failures()));
  out.member("decomposition_nodes", json::number(decomposition->nodes()));
  out.member("decomposition_failures", json::number(decomposition->failures()));
  out.field("decomposition", digest, "decomposition", json::string(digest));
  if (stopped) {
    // Not a decomposition: the folder holds part of one and no manifest.
    out.field("stopped",
              stopReasonName(stopRequest.reason()) + std::string(" after ") +
                  std::to_string(written) + " files, no manifest",
              "stopped", json::string(stopReasonName(stopRequest.reason())));
  }
  out.field("written", dir, "written_subproblems", json::string(dir));
  deletePooled(decomposition);
  deletePooled(space);
  deletePooled(solver);
  return 0;
}

// The parallel search's lines: workers, subproblems, the one-thread lines, then each worker.
int solveParallel(const CspInstance& instance, const InstanceSupportMasks* masks,
                  const SolveOptions& o, std::int64_t frequency, SolveOutput& out,
                  const Xcsp3Model* model, ProgressLine& progress) {
  runner::ParallelSearchOptions p;
  p.masks = masks;
  p.allDifferent = o.allDifferent;
  p.allSolutions = o.allSolutions;
  p.nodeLimit = o.nodeLimit;
  p.stop = &stopRequest;
  p.workers = o.parallel;
  p.subproblems = o.subproblems;
  p.splitMem = o.splitMem;
  p.branching = branchingFor(o);
  SolutionStream stream(&out, &instance, model, &o);
  if (o.allSolutions) {
    p.solutionSink = SolutionStream::print;
    p.solutionSinkContext = &stream;
    p.sinkLimit = stream.limit;
    if (stream.shown > 0) out.beginArray("printed_solutions");
  }
  p.progress = &searchProgress;
  p.subproblemCount = &subproblemTotal;
  // Opened before the search, so that a path that cannot be written costs no search.
  std::ofstream csv;
  if (!o.subproblemStatsFile.empty()) {
    csv.open(o.subproblemStatsFile, std::ios::binary);
    if (!csv) exitCannotWrite(o.subproblemStatsFile, errno);
  }
  const runner::ParallelSearchResult r = runner::parallelSearch(instance, p);
  progress.stop();
  if (stream.shown > 0 && o.allSolutions) out.endArray();
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
  }
  printSolutions(out, instance, o, solutions, model);
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
    csv << "# decomposition_seconds=" << static_cast<double>(r.decompositionTicks) / frequency
        << " workers=" << o.parallel << " subproblems=" << r.subproblems << "\n";
    csv << "subproblem,worker,nodes,seconds\n";
    for (std::size_t k = 0; k < r.records.size(); ++k) {
      const SubproblemRecord& rec = r.records[k];
      csv << k + 1 << ',' << rec.worker << ',' << rec.nodes << ','
          << static_cast<double>(rec.ticks) / frequency << "\n";
    }
    csv.flush();
    if (!csv) exitCannotWrite(o.subproblemStatsFile, errno);
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
                SolveOutput& out, const Xcsp3Model* model) {
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
  SolutionStream stream(&out, &instance, model, &o);
  const bool listed = o.allSolutions && stream.shown > 0;
  if (listed) out.beginArray("printed_solutions");
  const SolveRun mainRun =
      solveOnce(instance, masks, o.allDifferent, search, 1, o.allSolutions ? &stream : nullptr);
  if (listed) out.endArray();
  printRun(out, mainRun.stats, mainRun.ticks, frequency);
  printSolutions(out, instance, o, mainRun.solutions, model);
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
  // Each copy's own counts: a stopped run ends each one wherever it was.
  std::vector<std::string> copyItems;
  for (std::int32_t k = 0; k < n; ++k) {
    const SearchStatistics& s = static_cast<SolveRunner*>(runners[k])->result.stats;
    out.text("worker " + std::to_string(k) + ": solutions " + std::to_string(s.solutions) +
             " failures " + std::to_string(s.failures) + " nodes " + std::to_string(s.nodes));
    copyItems.push_back(json::object({{"worker", json::number(k)},
                                      {"solutions", json::number(s.solutions)},
                                      {"failures", json::number(s.failures)},
                                      {"nodes", json::number(s.nodes)}}));
  }
  out.member("worker_results", json::array(copyItems));
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
    // null where a time is below the clock's resolution, as the text says.
    const bool measured = mainMs > 0 && f.mean > 0;
    out.member("ratio", measured ? json::number(f.ratio) : "null");
    out.member("power", measured ? json::number(f.power) : "null");
  } else {
    runner::printScalabilityReport(o.splitMem, mainMs, elapsedMs, times.data(), n);
  }
  runner::deleteRunners(runners, n);
  return !compared || agree ? 0 : kExitDisagree;
}

// A domain emptied at load, which the reader leaves as an empty unary table: the instance is
// unsatisfiable whatever its other constraints say, so the domains and that table alone give
// the same answer. Null when there is none.
CspInstance* provenUnsatisfiable(const CspInstance& instance) {
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
    if (instance.isTable(c) && instance.kind(c) == ConstraintKind::kSupports &&
        instance.tupleCount(c) == 0) {
      auto* failed = newPooled<CspInstance>(instance.varCount());
      for (std::int32_t x = 0; x < instance.varCount(); ++x) {
        failed->setDomain(x, instance.values(x), instance.domainSize(x));
      }
      failed->addTable(ConstraintKind::kSupports, instance.scope(c), instance.arity(c), nullptr, 0);
      return failed;
    }
  }
  return nullptr;
}

// --output xcsp3: the answer and the first solution, every variable in declaration order.
void printCompetitionLines(SolveOutput& out, const CspInstance& instance, const Xcsp3Model* model) {
  if (!verdict.searched) {
    out.verbatim("s UNKNOWN");
    return;
  }
  if (verdict.solutions == 0) {
    out.verbatim(verdict.complete ? "s UNSATISFIABLE" : "s UNKNOWN");
    return;
  }
  out.verbatim("s SATISFIABLE");
  std::string names, values;
  for (std::int32_t x = 0; x < instance.varCount(); ++x) {
    const std::int64_t v = verdict.first[static_cast<std::size_t>(x)];
    names += " " + (model != nullptr ? model->variableName(x) : "x" + std::to_string(x));
    values += " " + (model != nullptr ? model->valueText(x, v) : std::to_string(v));
  }
  out.verbatim("v <instantiation> <list>" + names + " </list> <values>" + values +
               " </values> </instantiation>");
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t programStart = platform::counterNow();
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
  SolveOutput out(o.json, o.competitionOutput);
  out.member("program", json::string("varnel-solve"));
  out.member("version", json::string(VARNEL_VERSION));
  std::unique_ptr<Xcsp3Model> model;
  CspInstance* instance = buildInstance(o, out, &model);
  out.text("variables: " + std::to_string(instance->varCount()) +
           " constraints: " + std::to_string(instance->constraintCount()) +
           " tuples: " + std::to_string(instance->totalTuples()));
  out.member("variables", json::number(instance->varCount()));
  out.member("constraints", json::number(instance->constraintCount()));
  out.member("tuples", json::number(instance->totalTuples()));
  if (CspInstance* failed = provenUnsatisfiable(*instance)) {
    out.text("unsatisfiable at load: a domain is left without a value; searched: " +
             std::to_string(failed->constraintCount()) + " constraint");
    deletePooled(instance);
    instance = failed;
  }
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
    exitUsage(
        "--propagator gac4r reads positive tables without '*' and allDifferent; use ct "
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
    code = writeSubproblems(*instance, masks, o, out);
  } else {
    SearchOptions search;
    search.allSolutions = o.allSolutions;
    search.nodeLimit = o.nodeLimit;
    search.stop = &stopRequest;
    // Copies of the search (--threads) each walk the whole tree: their counts would not add up.
    if (o.threads == 0) search.progress = &searchProgress;
    search.branching = branchingFor(o);
    const char* mode = o.allSolutions ? "all solutions" : "first solution";
    out.text(std::string("search: ") + mode + " node limit: " + std::to_string(o.nodeLimit));
    out.member("search", json::string(mode));
    out.field("branching", branchingText(search.branching), "branching",
              json::string(branchingText(search.branching)));
    out.member("node_limit", json::number(o.nodeLimit));
    if (o.timeLimit > 0) out.text("time limit: " + decimal(o.timeLimit) + " s");
    out.member("time_limit", json::number(o.timeLimit));
    out.text(masks != nullptr
                 ? "propagator: ct support masks: " + std::to_string(masks->bytes()) + " bytes"
                 : std::string("propagator: gac4r"));
    out.member("propagator", json::string(masks != nullptr ? "ct" : "gac4r"));
    out.member("support_masks", json::number(masks != nullptr ? masks->bytes() : 0));
    const std::int64_t frequency = platform::counterFrequency();
    const bool terminal = platform::standardErrorIsTerminal();
    const double period = o.progress >= 0 ? o.progress : terminal ? 1.0 : 0.0;
    ProgressLine progress(period, terminal, programStart, &searchProgress,
                          o.parallel > 0 ? &subproblemTotal : nullptr);
    if (period > 0 && o.threads == 0 && !progress.start()) {
      std::cerr << "Error: the system refused the thread of the progress line" << std::endl;
      return kExitThreadRefused;
    }
    if (o.parallel > 0) {
      code = solveParallel(*instance, masks, o, frequency, out, model.get(), progress);
    } else if (o.threads > 0) {
      code = solveCopies(*instance, masks, o, search, frequency, out, model.get());
    } else {
      SolutionStream stream(&out, instance, model.get(), &o);
      const bool listed = o.allSolutions && stream.shown > 0;
      if (listed) out.beginArray("printed_solutions");
      const SolveRun run = solveOnce(*instance, masks, o.allDifferent, search, 1,
                                     o.allSolutions ? &stream : nullptr);
      progress.stop();
      if (listed) out.endArray();
      printRun(out, run.stats, run.ticks, frequency);
      const std::uint64_t memory = memoryConsumption(currentAllocator());
      out.field("memory", std::to_string(memory) + " bytes", "memory", json::number(memory));
      printSolutions(out, *instance, o, run.solutions, model.get());
    }
  }
  if (o.timeLimit > 0) platform::cancelAlarm(alarm);
  if (out.competition()) printCompetitionLines(out, *instance, model.get());
  out.finish();
  if (masks != nullptr) deletePooled(masks);
  deletePooled(instance);
  // An interrupt ends the program with the code a shell gives a process that its signal killed.
  const int interrupted = platform::interruptExitCode();
  return finishStandardOutput(interrupted != 0 ? interrupted : code);
}

}  // namespace varnel::solve

int main(int argc, char** argv) { return varnel::solve::main(argc, argv); }
