// Parsing varnel-solve's options: "--name value" or "--name=value", every number checked whole
// by one rule: plain decimal digits, no sign, no blanks, no base prefix; a decimal option also
// takes one fraction and an exponent (0.25, 1e9).
#include "solve/solve_options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "varnel/search/model/instance_io.h"

namespace varnel::solve {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits, then for a decimal an optional fraction and exponent: the whole of `text`.
bool isNumberText(std::string_view text, bool decimal) {
  std::size_t k = 0;
  const auto digits = [&]() {
    const std::size_t from = k;
    while (k < text.size() && isDigit(text[k])) ++k;
    return k - from;
  };
  std::size_t whole = digits();
  if (!decimal) return whole > 0 && k == text.size();
  if (k < text.size() && text[k] == '.') {
    ++k;
    whole += digits();
  }
  if (whole == 0) return false;
  if (k < text.size() && (text[k] == 'e' || text[k] == 'E')) {
    ++k;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
    if (digits() == 0) return false;
  }
  return k == text.size();
}

bool parseInt(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t* out) {
  if (!isNumberText(text, false)) return false;
  std::int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || value < low || value > high) {
    return false;
  }
  *out = value;
  return true;
}

bool parseDouble(const std::string& text, double* out) {
  if (!isNumberText(text, true)) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) return false;
  *out = value;
  return true;
}

}  // namespace

const char* variableOrderName(VariableOrder order) {
  switch (order) {
    case VariableOrder::kDom:
      return "dom";
    case VariableOrder::kDomWdeg:
      return "dom/wdeg";
    case VariableOrder::kDomDdeg:
      return "dom/ddeg";
    case VariableOrder::kLex:
      return "lex";
  }
  return "dom";
}

const char* valueOrderName(ValueOrder order) {
  switch (order) {
    case ValueOrder::kMin:
      return "min";
    case ValueOrder::kMax:
      return "max";
    case ValueOrder::kRandom:
      return "random";
  }
  return "min";
}

const char* restartPolicyName(RestartPolicy policy) {
  switch (policy) {
    case RestartPolicy::kNone:
      return "none";
    case RestartPolicy::kLuby:
      return "luby";
    case RestartPolicy::kGeometric:
      return "geometric";
  }
  return "none";
}

BranchingOptions defaultBranching(bool allSolutions) {
  BranchingOptions b;
  if (allSolutions) return b;  // counting: the smallest domain, no restarts
  b.variables = VariableOrder::kDomWdeg;
  b.restarts = RestartPolicy::kLuby;
  b.restartBase = 100;
  return b;
}

BranchingOptions branchingFor(const SolveOptions& o) {
  BranchingOptions b = defaultBranching(o.allSolutions);
  if (o.variables) b.variables = *o.variables;
  if (o.values) b.values = *o.values;
  if (o.searchSeed) {
    b.randomTies = true;
    b.seed = *o.searchSeed;
  }
  if (o.lastConflict) b.lastConflict = *o.lastConflict;
  if (o.restarts) b.restarts = *o.restarts;
  if (o.restartBase) b.restartBase = *o.restartBase;
  if (o.allSolutions) b.restarts = RestartPolicy::kNone;
  return b;
}

std::string branchingText(const BranchingOptions& b) {
  std::string text = std::string("var ") + variableOrderName(b.variables) +
                     (b.randomTies ? " ties random seed " + std::to_string(b.seed) : "") + " val " +
                     valueOrderName(b.values) + " last-conflict " + std::to_string(b.lastConflict) +
                     " restarts " + restartPolicyName(b.restarts);
  if (b.restarts != RestartPolicy::kNone) text += " base " + std::to_string(b.restartBase);
  return text;
}

const char* solveUsage() {
  return R"(usage: varnel-solve [options]

Depth-first search over table constraints (allowed or forbidden tuples, `*` matching any value)
and allDifferent; every table kept generalised-arc-consistent (see --propagator), allDifferent
as --alldiff says. Binary branching: left x = a value, right x != that value; which variable
and which value are chosen by --var and --val (see the search options below).

The instance (model RB, drawn from the library's generator; the same options give the same one):
  --vars N            variables, 1 to 10000000 (default 30)
  --domain D          values per variable, 0 .. D-1; D from 1 to 16777216 (default 10)
  --arity K           variables per constraint, distinct; 1 to 24 and at most --vars, with
                      D^K at most 16777216 (default 2)
  --constraints M     constraints, 0 to 10000000 (default 120)
  --tightness P       fraction of the D^K tuples each table forbids, 0 to 1 (default 0.5)
  --seed S            generator state before the first draw, 0 to 4294967295 (default 1)
  --planted           every table keeps the tuple of a hidden random assignment, so the
                      instance has a solution
  --table A,T,U       instead: problem 1's table (arity A from 1 to 64, T tuples from 1 to
                      100000000, values 0 .. U-1 with U from 1 to 32768) as one constraint
                      over A variables
  --instance FILE     instead: read the instance from FILE (format and limits in
                      docs/search.md); a file starting with '<', or named .lzma or .xz, is
                      read as XCSP3 (subset in docs/xcsp3.md)
  --max-intension-tuples N  with an XCSP3 file: an intension constraint is enumerated into a
                      table of at most N candidate tuples, 1 to 2000000000 (default 1000000);
                      beyond, the file is refused
  --max-model-mb N    with an XCSP3 file: the model it makes may need N MiB beyond 64 bytes
                      for each byte of its XML, 1 to 1000000 (default 32); beyond, the file
                      is refused
  --write-instance FILE  write the instance to FILE before solving
  The six model options apply to the generated instance only: with --table or --instance
  they are refused. A file name may not be empty.

The search:
  --all               count every solution (default: stop at the first)
  --node-limit N      stop after N nodes, 0 to 9223372036854775807 (default 0: no limit); with
                      --parallel the decomposition's nodes count against it, and the
                      decomposition itself is never cut short by it (it may pass N alone)
  --propagator P      ct (Compact-Table, the default) or gac4r (GAC-4 with resets; positive
                      tables without `*` only)
  --alldiff L         gac (Regin's matching, the default) or fc (an assigned variable's value
                      leaves the others) for allDifferent over one list
  --var V             the branching variable: dom (smallest domain), dom/wdeg (smallest
                      domain over the weights of its constraints, a weight growing by one at
                      each wipe-out the constraint causes), dom/ddeg (over the number of its
                      constraints with another unassigned variable) or lex (lowest index).
                      Default: dom/wdeg for a first solution, dom with --all
  --val V             the value tried first: min (default), max or random
  --search-seed S     ties of --var drawn at random from seed S, 0 to 18446744073709551615,
                      which also seeds --val random (default: ties by lowest index, seed 1)
  --last-conflict K   branch first on the last K variables whose decisions failed while they
                      are unassigned, 0 to 1000 (default 0: off; on the planted RB family of
                      docs/search.md it made the default slower)
  --restarts R        none, luby or geometric (x1.5): restart after that many failures times
                      --restart-base, keeping what was refuted as nogoods; the cutoff grows, so
                      the search stays complete. Default: luby for a first solution; with --all
                      restarts are off (and refused)
  --restart-base N    failures of the first run, 1 to 1000000000 (default 100)
  --var dom --val min --last-conflict 0 --restarts none is the original tree, node for node
  the one Gecode's size-min walks.
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
                      (the instance plus its decisions as unary tables) and DIR/manifest.txt
                      (the count and the instance's digest, which tools/solve-subproblems
                      checks), and exit without searching; their --all solution counts add up
                      to the whole search's. DIR must be new or empty; --all is accepted and
                      changes nothing written; an interrupt stops the writing and leaves no
                      manifest
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
  --progress [S]      every S seconds (default 1, 0.01 to 1e6) a progress line on standard
                      error: elapsed time, nodes, failures, solutions, nodes per second and,
                      with --parallel, subproblems done of the total and an estimate of the
                      time left; rewritten in place on a terminal, one line per report
                      otherwise. On by default when standard error is a terminal (not with
                      --threads, whose copies each walk the whole tree)
  --no-progress       no progress line, even on a terminal
  --output FORMAT     text (the default), json (as --json) or xcsp3: the competitions'
                      convention, "s SATISFIABLE|UNSATISFIABLE|UNKNOWN", one "v <instantiation>"
                      line with the first solution, and every other line as a "c" comment
  --help              this text
  --version           the version

Numbers are written in decimal digits alone: no sign, no blank, no base prefix; options taking
seconds or a fraction also take a decimal point and an exponent (0.25, 1e9). An option may be
given once.

Before building anything, the instance and every worker's search space are counted from the
options (or the file's counts as they are read): a run above physical memory or above a smaller
limit the process is under (ulimit -v or -d, the control group's memory limit, a Windows job's
limit; the message names it), or a worker's space above its --split-mem budget, is refused at
once. The --split-mem budgets still divide physical memory.

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
    if (std::find(o.given.begin(), o.given.end(), name) != o.given.end()) {
      *error = "option " + name + " is given twice";
      return false;
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
        {"--split-mem", &SolveOptions::splitMem}, {"--json", &SolveOptions::json},
        {"--planted", &SolveOptions::planted}};
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
    } else if (name == "--var") {
      if (!next()) return false;
      const std::pair<const char*, VariableOrder> orders[] = {{"dom", VariableOrder::kDom},
                                                              {"dom/wdeg", VariableOrder::kDomWdeg},
                                                              {"dom/ddeg", VariableOrder::kDomDdeg},
                                                              {"lex", VariableOrder::kLex}};
      for (const auto& [text, order] : orders) {
        if (value == text) o.variables = order;
      }
      if (!o.variables) {
        *error = "option --var expects dom, dom/wdeg, dom/ddeg or lex, not '" +
                 printableText(value) + "'";
        return false;
      }
    } else if (name == "--val") {
      if (!next()) return false;
      const std::pair<const char*, ValueOrder> orders[] = {
          {"min", ValueOrder::kMin}, {"max", ValueOrder::kMax}, {"random", ValueOrder::kRandom}};
      for (const auto& [text, order] : orders) {
        if (value == text) o.values = order;
      }
      if (!o.values) {
        *error = "option --val expects min, max or random, not '" + printableText(value) + "'";
        return false;
      }
    } else if (name == "--search-seed") {
      if (!next()) return false;
      std::uint64_t seed = 0;
      const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), seed);
      if (ec != std::errc() || ptr != value.data() + value.size()) {
        *error = "option --search-seed expects an integer from 0 to 18446744073709551615, not '" +
                 printableText(value) + "'";
        return false;
      }
      o.searchSeed = seed;
    } else if (name == "--last-conflict") {
      if (!integer(0, 1000, &n)) return false;
      o.lastConflict = static_cast<std::int32_t>(n);
    } else if (name == "--restarts") {
      if (!next()) return false;
      const std::pair<const char*, RestartPolicy> policies[] = {
          {"none", RestartPolicy::kNone},
          {"luby", RestartPolicy::kLuby},
          {"geometric", RestartPolicy::kGeometric}};
      for (const auto& [text, policy] : policies) {
        if (value == text) o.restarts = policy;
      }
      if (!o.restarts) {
        *error =
            "option --restarts expects none, luby or geometric, not '" + printableText(value) + "'";
        return false;
      }
    } else if (name == "--restart-base") {
      if (!integer(1, 1000000000, &n)) return false;
      o.restartBase = static_cast<std::uint64_t>(n);
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
    } else if (name == "--progress") {
      // The seconds are optional: taken from the next argument only when it is a number.
      if (!hasValue && a + 1 < argc && isNumberText(argv[a + 1], true)) {
        value = argv[++a];
        hasValue = true;
      }
      o.progress = 1;
      if (hasValue &&
          (!parseDouble(value, &o.progress) || !(o.progress >= 0.01) || !(o.progress <= 1e6))) {
        *error = "option --progress expects seconds from 0.01 to 1e6, not '" +
                 printableText(value) + "'";
        return false;
      }
    } else if (name == "--no-progress") {
      if (!flag()) return false;
      o.progress = 0;
    } else if (name == "--output") {
      if (!next()) return false;
      if (value != "text" && value != "json" && value != "xcsp3") {
        *error = "option --output expects text, json or xcsp3, not '" + printableText(value) + "'";
        return false;
      }
      o.json = o.json || value == "json";
      o.competitionOutput = value == "xcsp3";
    } else if (name == "--max-intension-tuples") {
      if (!integer(1, 2000000000, &n)) return false;
      o.maxIntensionTuples = n;
    } else if (name == "--max-model-mb") {
      if (!integer(1, 1000000, &n)) return false;
      o.maxModelMb = n;
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
  if (o.json && o.competitionOutput) {
    *error = "--json and --output xcsp3 name two different reports";
    return false;
  }
  if (o.competitionOutput && o.threads != 0) {
    // The driver's scalability lines are no competition lines.
    *error =
        "--output xcsp3 answers one search: --threads (N copies and their timings) does not "
        "apply";
    return false;
  }
  for (const char* xcsp3Only : {"--max-intension-tuples", "--max-model-mb"}) {
    if (o.instanceFile.empty() &&
        std::find(o.given.begin(), o.given.end(), xcsp3Only) != o.given.end()) {
      *error = std::string(xcsp3Only) + " applies to an XCSP3 file read with --instance";
      return false;
    }
  }
  o.rb.planted = o.planted;
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
      (o.nodeLimit != 0 || o.timeLimit > 0 || o.printSolutions != 0 || o.threads != 0 ||
       o.splitMem || !o.subproblemStatsFile.empty())) {
    *error =
        "--write-subproblems searches nothing: --node-limit, --time-limit, "
        "--print-solutions, --threads, --split-mem and --subproblem-stats do not apply";
    return false;
  }
  if (o.allSolutions && ((o.restarts && *o.restarts != RestartPolicy::kNone) || o.restartBase)) {
    *error =
        "--restarts and --restart-base apply to first-solution mode: --all counts without "
        "restarts";
    return false;
  }
  if (o.restartBase && o.restarts && *o.restarts == RestartPolicy::kNone) {
    *error = "--restart-base applies to --restarts luby or geometric";
    return false;
  }
  if (!o.writeSubproblemsDir.empty() &&
      (o.variables || o.values || o.searchSeed || o.lastConflict || o.restarts || o.restartBase)) {
    *error =
        "--write-subproblems splits on the smallest domain: --var, --val, --search-seed, "
        "--last-conflict, --restarts and --restart-base apply to a search";
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
  if (o.progress > 0 &&
      std::find(o.given.begin(), o.given.end(), "--no-progress") != o.given.end()) {
    *error = "--progress and --no-progress exclude each other";
    return false;
  }
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
         {"--vars", "--domain", "--arity", "--constraints", "--tightness", "--seed", "--planted"}) {
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
    *error = (given("--arity") ? "--arity " : "the default --arity ") + std::to_string(p.arity) +
             " is above --vars " + std::to_string(p.vars) +
             (given("--arity") ? "" : " (give --arity 1)");
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
