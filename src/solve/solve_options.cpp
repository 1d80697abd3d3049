// Parsing varnel-solve's options: "--name value" or "--name=value", every number checked whole.
#include "solve/solve_options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "varnel/search/model/instance_io.h"

namespace varnel::solve {
namespace {

bool parseInt(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t* out) {
  std::int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || value < low || value > high) {
    return false;
  }
  *out = value;
  return true;
}

bool parseDouble(const std::string& text, double* out) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) return false;
  *out = value;
  return true;
}

}  // namespace

const char* solveUsage() {
  return R"(usage: varnel-solve [options]

Depth-first search over table constraints (allowed or forbidden tuples, `*` matching any value)
and allDifferent; every table kept generalised-arc-consistent (see --propagator), allDifferent
as --alldiff says. Branching: the variable with the smallest domain (lowest index on ties),
left x = its smallest value, right x != that value.

The instance (model RB, drawn from the library's generator; the same options give the same one):
  --vars N            variables, 1 to 10000000 (default 30)
  --domain D          values per variable, 0 .. D-1; D from 1 to 16777216 (default 10)
  --arity K           variables per constraint, distinct; 1 to 24 and at most --vars, with
                      D^K at most 16777216 (default 2)
  --constraints M     constraints, 0 to 10000000 (default 120)
  --tightness P       fraction of the D^K tuples each table forbids, 0 to 1 (default 0.5)
  --seed S            generator state before the first draw, 0 to 4294967295 (default 1)
  --table A,T,U       instead: problem 1's table (arity A from 1 to 64, T tuples from 1 to
                      100000000, values 0 .. U-1 with U from 1 to 32768) as one constraint
                      over A variables
  --instance FILE     instead: read the instance from FILE (format and limits in
                      docs/search.md)
  --write-instance FILE  write the instance to FILE before solving
  The six model options apply to the generated instance only: with --table or --instance
  they are refused. A file name may not be empty.

The search:
  --all               count every solution (default: stop at the first)
  --node-limit N      stop after N nodes, 0 to 9223372036854775807 (default 0: no limit)
  --propagator P      ct (Compact-Table, the default) or gac4r (GAC-4 with resets; positive
                      tables without `*` only)
  --alldiff L         gac (Regin's matching, the default) or fc (an assigned variable's value
                      leaves the others) for allDifferent over one list
  --threads N         N workers, 1 to 4096, solve the same instance at once, each in its own
                      allocator, then the main thread alone; prints per-thread times, ratio
                      and power
  --split-mem         with --threads or --parallel: each worker confined to its share of
                      physical memory
  --parallel N        one search on N workers, 1 to 4096: the tree is split into subproblems
                      that the workers take in turn; prints workers: and subproblems:
  --subproblems K     with --parallel or --write-subproblems: split into at least K
                      subproblems, 1 to 1000000 (default 30 per worker), the nodes with the
                      largest product of domain sizes first
  --write-subproblems DIR  write each subproblem as an instance file DIR/sub-00001.txt ...
                      (the instance plus its decisions as unary tables) and exit without
                      searching; their --all solution counts add up to the whole search's
  --subproblem-stats FILE  with --parallel: each subproblem's worker, nodes and seconds (CSV)
  --print-solutions N with --all: print the first N solutions, 0 to 2147483647 (in the
                      one-thread search's order, with --parallel too); the first solution is
                      always printed
  --time-limit S      S seconds of wall clock from the program's start (decimal, above 0, up
                      to 1e9): then the decomposition and every search stop at their next
                      node (building the instance is not interrupted); complete: no,
                      stopped: time limit
  --json              one JSON object on standard output with every field of the report, and
                      nothing else there (schema in docs/search.md)
  --help              this text
  --version           the version

Before building anything, the instance and every worker's search space are counted from the
options (or the file's counts as they are read): a run above physical memory, or a worker's
space above its --split-mem budget, is refused at once.

Every run ends with complete: yes|no and stopped: exhausted, first solution, node limit, time
limit or interrupted. SIGINT or SIGTERM (Ctrl-C or Ctrl-Break on Windows) stops the search at
its next node and prints every line; a second one ends the program at once.

Exit codes: 0 solved (or stopped by a limit), 1 out of memory, or refused before the start
("Error: no more memory: N bytes needed ..."), 2 a bad option or a malformed instance file
(the message names the line), 3 a worker thread refused, 4 the workers counted differently
from the main thread (a fault: every run of one instance walks one tree), 5 the report could
not be written to standard output, 6 a solution failed the check against every table (a
fault), 130 interrupted (SIGINT, Ctrl-C, Ctrl-Break), 143 terminated (SIGTERM, the console
closed).
)";
}

bool parseSolveOptions(int argc, const char* const* argv, SolveOptions* options,
                       std::string* error) {
  SolveOptions& o = *options;
  for (int a = 1; a < argc; ++a) {
    std::string name = argv[a];
    std::string value;
    bool hasValue = false;
    const std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      hasValue = true;
    }
    o.given.push_back(name);
    auto flag = [&]() {
      if (hasValue) *error = "option " + name + " takes no value";
      return !hasValue;
    };
    auto next = [&]() {
      if (hasValue) return true;
      if (a + 1 >= argc) {
        *error = "option " + name + " needs a value";
        return false;
      }
      value = argv[++a];
      return true;
    };
    auto integer = [&](std::int64_t low, std::int64_t high, std::int64_t* out) {
      if (!next()) return false;
      if (!parseInt(value, low, high, out)) {
        *error = "option " + name + " expects an integer from " + std::to_string(low) + " to " +
                 std::to_string(high) + ", not '" + printableText(value) + "'";
        return false;
      }
      return true;
    };
    // Options without a value: each sets one switch.
    static constexpr std::pair<const char*, bool SolveOptions::*> kSwitches[] = {
        {"--help", &SolveOptions::help},          {"-h", &SolveOptions::help},
        {"--version", &SolveOptions::version},    {"--all", &SolveOptions::allSolutions},
        {"--split-mem", &SolveOptions::splitMem}, {"--json", &SolveOptions::json}};
    bool SolveOptions::*matched = nullptr;
    for (const auto& [switchName, field] : kSwitches) {
      if (name == switchName) matched = field;
    }
    std::int64_t n = 0;
    if (matched != nullptr) {
      if (!flag()) return false;
      o.*matched = true;
    } else if (name == "--vars") {
      if (!integer(1, 10000000, &n)) return false;
      o.rb.vars = static_cast<std::int32_t>(n);
    } else if (name == "--domain") {
      if (!integer(1, 16777216, &n)) return false;
      o.rb.domain = static_cast<std::int32_t>(n);
    } else if (name == "--arity") {
      if (!integer(1, 24, &n)) return false;
      o.rb.arity = static_cast<std::int32_t>(n);
    } else if (name == "--constraints") {
      if (!integer(0, 10000000, &n)) return false;
      o.rb.constraints = static_cast<std::int32_t>(n);
    } else if (name == "--tightness") {
      if (!next()) return false;
      if (!parseDouble(value, &o.rb.tightness) || !(o.rb.tightness >= 0) ||
          !(o.rb.tightness <= 1)) {
        *error =
            "option --tightness expects a number from 0 to 1, not '" + printableText(value) + "'";
        return false;
      }
    } else if (name == "--seed") {
      if (!integer(0, UINT32_MAX, &n)) return false;
      o.rb.seed = static_cast<std::uint32_t>(n);
    } else if (name == "--node-limit") {
      if (!integer(0, INT64_MAX, &n)) return false;
      o.nodeLimit = static_cast<std::uint64_t>(n);
    } else if (name == "--threads") {
      if (!integer(1, 4096, &n)) return false;
      o.threads = static_cast<std::int32_t>(n);
    } else if (name == "--propagator") {
      if (!next()) return false;
      if (value != "ct" && value != "gac4r") {
        *error = "option --propagator expects ct or gac4r, not '" + printableText(value) + "'";
        return false;
      }
      o.compactTable = value == "ct";
    } else if (name == "--alldiff") {
      if (!next()) return false;
      if (value != "fc" && value != "gac") {
        *error = "option --alldiff expects fc or gac, not '" + printableText(value) + "'";
        return false;
      }
      o.allDifferent =
          value == "gac" ? AllDifferentLevel::kMatching : AllDifferentLevel::kForwardChecking;
    } else if (name == "--parallel") {
      if (!integer(1, 4096, &n)) return false;
      o.parallel = static_cast<std::int32_t>(n);
    } else if (name == "--subproblems") {
      if (!integer(1, 1000000, &n)) return false;
      o.subproblems = static_cast<std::int32_t>(n);
    } else if (name == "--write-subproblems") {
      if (!next()) return false;
      o.writeSubproblemsDir = value;
    } else if (name == "--subproblem-stats") {
      if (!next()) return false;
      o.subproblemStatsFile = value;
    } else if (name == "--print-solutions") {
      if (!integer(0, INT32_MAX, &n)) return false;
      o.printSolutions = static_cast<std::int32_t>(n);
    } else if (name == "--time-limit") {
      if (!next()) return false;
      // Up to about 31 years: far beyond any run, and exact in a double to the nanosecond.
      if (!parseDouble(value, &o.timeLimit) || !(o.timeLimit > 0) || !(o.timeLimit <= 1e9)) {
        *error = "option --time-limit expects seconds above 0, up to 1e9, not '" +
                 printableText(value) + "'";
        return false;
      }
    } else if (name == "--instance") {
      if (!next()) return false;
      o.instanceFile = value;
    } else if (name == "--write-instance") {
      if (!next()) return false;
      o.writeInstanceFile = value;
    } else if (name == "--table") {
      if (!next()) return false;
      const std::size_t c1 = value.find(',');
      const std::size_t c2 = c1 == std::string::npos ? c1 : value.find(',', c1 + 1);
      std::int64_t arity = 0, tuples = 0, upper = 0;
      if (c2 == std::string::npos || !parseInt(value.substr(0, c1), 1, 64, &arity) ||
          !parseInt(value.substr(c1 + 1, c2 - c1 - 1), 1, 100000000, &tuples) ||
          !parseInt(value.substr(c2 + 1), 1, 32768, &upper)) {
        *error = "option --table expects ARITY,TUPLES,UPPER (1-64, 1-100000000, 1-32768), not '" +
                 printableText(value) + "'";
        return false;
      }
      o.fromTable = true;
      o.tableArity = static_cast<std::int32_t>(arity);
      o.tableTuples = static_cast<std::int32_t>(tuples);
      o.tableUpper = static_cast<std::int32_t>(upper);
    } else {
      *error = "unknown option '" + printableText(name) + "' (see --help)";
      return false;
    }
  }
  if (!o.instanceFile.empty() && o.fromTable) {
    *error = "--instance and --table name two different instances";
    return false;
  }
  if (o.splitMem && o.threads == 0 && o.parallel == 0) {
    *error = "--split-mem applies to the workers of --threads or --parallel";
    return false;
  }
  if (o.parallel != 0 && o.threads != 0) {
    *error =
        "--parallel (one search on N workers) and --threads (N copies of it) exclude each other";
    return false;
  }
  if (o.subproblems != 0 && o.parallel == 0 && o.writeSubproblemsDir.empty()) {
    *error = "--subproblems applies to --parallel or --write-subproblems";
    return false;
  }
  if (!o.writeSubproblemsDir.empty() &&
      (o.allSolutions || o.nodeLimit != 0 || o.timeLimit > 0 || o.printSolutions != 0 ||
       o.threads != 0 || o.splitMem || !o.subproblemStatsFile.empty())) {
    *error =
        "--write-subproblems searches nothing: --all, --node-limit, --time-limit, "
        "--print-solutions, --threads, --split-mem and --subproblem-stats do not apply";
    return false;
  }
  if (o.printSolutions != 0 && !o.allSolutions) {
    *error = "--print-solutions applies to --all (the first solution is always printed)";
    return false;
  }
  if (!o.subproblemStatsFile.empty() && o.parallel == 0) {
    *error = "--subproblem-stats applies to --parallel";
    return false;
  }
  if (!validateSolveOptions(o, error)) return false;
  if (o.instanceFile.empty() && !o.fromTable) {
    const std::string problem = rbParameterProblem(o.rb);
    if (!problem.empty()) {
      *error = "model RB: " + problem;
      return false;
    }
  }
  return true;
}

bool validateSolveOptions(const SolveOptions& o, std::string* error) {
  const auto given = [&](const char* name) {
    return std::find(o.given.begin(), o.given.end(), name) != o.given.end();
  };
  const std::pair<const char*, const std::string*> files[] = {
      {"--instance", &o.instanceFile},
      {"--write-instance", &o.writeInstanceFile},
      {"--write-subproblems", &o.writeSubproblemsDir},
      {"--subproblem-stats", &o.subproblemStatsFile}};
  for (const auto& [name, file] : files) {
    if (given(name) && file->empty()) {
      *error = std::string("option ") + name + " needs a file name, not an empty one";
      return false;
    }
  }
  if (o.fromTable || !o.instanceFile.empty()) {
    for (const char* name :
         {"--vars", "--domain", "--arity", "--constraints", "--tightness", "--seed"}) {
      if (given(name)) {
        *error = std::string("option ") + name + " shapes the generated instance; " +
                 (o.fromTable ? "--table" : "--instance") + " gives another one";
        return false;
      }
    }
    return true;
  }
  const RbParameters& p = o.rb;
  if (p.arity > p.vars) {
    *error = "--arity " + std::to_string(p.arity) + " is above --vars " + std::to_string(p.vars);
    return false;
  }
  // d^k exactly while it stays within 64 bits, which covers every value near the limit.
  std::uint64_t span = 1;
  bool exact = true;
  for (std::int32_t i = 0; i < p.arity && exact; ++i) {
    exact = span <= UINT64_MAX / static_cast<std::uint64_t>(p.domain);
    span *= exact ? static_cast<std::uint64_t>(p.domain) : 1;
  }
  if (!exact || span > static_cast<std::uint64_t>(kLargestTableSpan)) {
    *error =
        "--domain^--arity = " +
        (exact ? std::to_string(span) : std::to_string(p.domain) + "^" + std::to_string(p.arity)) +
        " is above " + std::to_string(kLargestTableSpan);
    return false;
  }
  return true;
}

std::string tightnessText(double tightness) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, tightness);
  return ec == std::errc() ? std::string(text, end) : std::to_string(tightness);
}

}  // namespace varnel::solve
