// varnel-solve's command line: named options, each checked, with the usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "varnel/search/branching.h"
#include "varnel/search/model/rb_instance.h"
#include "varnel/search/propagators/all_different.h"

namespace varnel::solve {

struct SolveOptions {
  RbParameters rb;                // the generated instance, unless instanceFile is set
  std::string instanceFile;       // --instance
  std::string writeInstanceFile;  // --write-instance
  bool fromTable = false;         // --table: problem 1's table as the instance
  std::int32_t tableArity = 10;
  std::int32_t tableTuples = 500;
  std::int32_t tableUpper = 10;
  bool allSolutions = false;    // --all
  std::uint64_t nodeLimit = 0;  // --node-limit, 0: none
  std::int32_t threads = 0;     // --threads: workers besides the main thread's run
  bool splitMem = false;        // --split-mem
  bool compactTable = true;     // --propagator ct (default) or gac4r
  AllDifferentLevel allDifferent = kDefaultAllDifferentLevel;  // --alldiff fc or gac
  std::int32_t parallel = 0;        // --parallel: workers sharing one search; 0: the main thread
  std::int32_t subproblems = 0;     // --subproblems: at least this many; 0: 30 per worker
  std::string writeSubproblemsDir;  // --write-subproblems: write them there, do not search
  std::string subproblemStatsFile;  // --subproblem-stats: per-subproblem nodes and time, CSV
  std::int32_t printSolutions = 0;  // --print-solutions: with --all, print the first N
  double timeLimit = 0;             // --time-limit: wall-clock seconds; 0: none
  bool json = false;                // --json: one JSON object instead of the text lines
  // --progress [S] / --no-progress: seconds between progress reports on standard error; 0: none;
  // -1 (neither given): 1 when standard error is a terminal, else none.
  double progress = -1;
  bool competitionOutput = false;             // --output xcsp3: s, v and c lines only
  std::int64_t maxIntensionTuples = 1000000;  // --max-intension-tuples: XCSP3 intension bound
  std::int64_t maxModelMb = 32;  // --max-model-mb: what an XCSP3 file may make beyond its size
  bool planted = false;          // --planted: copied into rb.planted once parsed
  // The branching; each unset one takes the default of the mode (defaultBranching).
  std::optional<VariableOrder> variables;    // --var
  std::optional<ValueOrder> values;          // --val
  std::optional<std::uint64_t> searchSeed;   // --search-seed: random ties and values
  std::optional<std::int32_t> lastConflict;  // --last-conflict
  std::optional<RestartPolicy> restarts;     // --restarts
  std::optional<std::uint64_t> restartBase;  // --restart-base
  bool help = false;
  bool version = false;            // --version
  std::vector<std::string> given;  // every option named on the command line, in order
};

// Reads argv[1..argc-1]. On a mistake returns false with the message for standard error in
// `error`.
bool parseSolveOptions(int argc, const char* const* argv, SolveOptions* options,
                       std::string* error);

// The checks that need the whole command line, made once parsing is done: file names that are
// not empty, no instance option that the chosen source would ignore, and the model's ranges
// named by option and value. On a mistake returns false with the message in `error`.
bool validateSolveOptions(const SolveOptions& options, std::string* error);

// "--tightness" as written on the instance line: the shortest text that reads back as the same
// double, so that the line reruns the very same instance.
std::string tightnessText(double tightness);

// The branching a run searches with: the options given, the mode's defaults for the others.
BranchingOptions branchingFor(const SolveOptions& options);
// The defaults: first-solution mode's (chosen by measurement, docs/search.md) or --all's.
BranchingOptions defaultBranching(bool allSolutions);
// "var dom/wdeg val min last-conflict 1 restarts luby 100" for the report.
std::string branchingText(const BranchingOptions& branching);
const char* variableOrderName(VariableOrder order);
const char* valueOrderName(ValueOrder order);
const char* restartPolicyName(RestartPolicy policy);

// The --help text.
const char* solveUsage();

}  // namespace varnel::solve
