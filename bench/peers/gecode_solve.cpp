// The search against Gecode: the same instance (generated or read by the library), one
// `extensional` per table (negative for conflicts, short tuples expanded), `distinct` per
// allDifferent (the lists form decomposed into pairs of lists that differ somewhere), branch(x,
// INT_VAR_SIZE_MIN(), INT_VAL_MIN()) and Gecode's depth-first search. Both sides keep every table
// generalised-arc-consistent and branch alike, so their trees are the same: same solutions,
// failures and nodes.
//
//   gecode_solve [varnel-solve's instance and search options] [--threads N]
//       [--strategy size-min|afc|chb|action] [--restarts luby|geometric [--restart-base N]]
//       Gecode alone, varnel-solve's lines; --threads N runs Gecode's own parallel search
//       (Search::Options::threads), whose failure and node counts then vary from run to run;
//       --strategy picks the variable (smallest domain, or the largest AFC, CHB or action over
//       domain size; value min always) and --restarts Gecode's restart-based search with that
//       cutoff (scaled by --restart-base, default 100) and its nogoods
//   gecode_solve --check [instances-per-size]   Gecode and varnel with each propagator (ct and
//       gac4r) in-process on small random instances of three sizes, varnel's one-thread search
//       and its parallel search on 1 to 4 workers, then the same instances turned into conflicts,
//       short tuples and allDifferent (--alldiff fc against distinct by value, gac against
//       distinct by domain); exits 1 at the first disagreement
//   gecode_solve --check-xcsp3 [documents]   generated XCSP3 documents (xcsp3_generator.h, 200
//       by default) read by varnel's reader, written as text and read back, counted by brute
//       force over the generator's meaning and over the file's constraints, and searched by
//       varnel and Gecode as in --check's mixed instances; exits 1 at the first disagreement
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gecode/int.hh>
#include <gecode/search.hh>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runner/parallel_search.h"
#include "solve/solve_options.h"
#include "solve/solve_output.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/dfs.h"
#include "varnel/search/model/instance_io.h"
#include "varnel/search/model/rb_instance.h"
#include "varnel/search/model/xcsp3_reader.h"
#include "varnel/table/next_random.h"
#include "varnel/table/tuple_table.h"
#include "xcsp3_generator.h"

namespace {

using varnel::CspInstance;

// Gecode's variable choices for --strategy; every one takes the smallest value first.
enum class GecodeStrategy { kSizeMin, kAfc, kChb, kAction };

void postBranching(Gecode::Home home, const Gecode::IntVarArgs& x, GecodeStrategy strategy) {
  switch (strategy) {
    case GecodeStrategy::kSizeMin:
      Gecode::branch(home, x, Gecode::INT_VAR_SIZE_MIN(), Gecode::INT_VAL_MIN());
      break;
    case GecodeStrategy::kAfc:
      Gecode::branch(home, x, Gecode::INT_VAR_AFC_SIZE_MAX(0.99), Gecode::INT_VAL_MIN());
      break;
    case GecodeStrategy::kChb:
      Gecode::branch(home, x, Gecode::INT_VAR_CHB_SIZE_MAX(), Gecode::INT_VAL_MIN());
      break;
    case GecodeStrategy::kAction:
      Gecode::branch(home, x, Gecode::INT_VAR_ACTION_SIZE_MAX(0.99), Gecode::INT_VAL_MIN());
      break;
  }
}

// allDifferent c over `vars` (its scope's variables): distinct at `level` for one list; for
// several lists, each pair of lists differs at some position (a clause over reified
// disequalities, which propagates as varnel's lists do).
void postAllDifferent(Gecode::Space& home, const CspInstance& instance, std::int32_t c,
                      const Gecode::IntVarArgs& vars, Gecode::IntPropLevel level) {
  const std::int32_t lists = instance.listLength(c) == 1 ? 1 : instance.listCount(c);
  if (lists == 1) {
    // distinct refuses a variable named twice: such a list can never hold (varnel fails it).
    if (Gecode::same(vars)) return home.fail();
    Gecode::distinct(home, vars, level);
    return;
  }
  const std::int32_t length = instance.listLength(c);
  for (std::int32_t a = 0; a < lists; ++a) {
    for (std::int32_t b = a + 1; b < lists; ++b) {
      Gecode::BoolVarArgs differ(length);
      for (std::int32_t i = 0; i < length; ++i) {
        differ[i] = Gecode::BoolVar(home, 0, 1);
        Gecode::rel(home, vars[a * length + i], Gecode::IRT_NQ, vars[b * length + i], differ[i]);
      }
      Gecode::rel(home, Gecode::BOT_OR, differ, 1);
    }
  }
}

// Constraint c of `instance` over `vars`: a table as an extensional (`table`, its tuples
// expanded), or an allDifferent.
void postConstraint(Gecode::Space& home, const CspInstance& instance, std::int32_t c,
                    const Gecode::IntVarArgs& vars, const Gecode::TupleSet& table,
                    Gecode::IntPropLevel allDifferent) {
  if (!instance.isTable(c)) {
    postAllDifferent(home, instance, c, vars, allDifferent);
    return;
  }
  Gecode::extensional(home, vars, table, instance.kind(c) == varnel::ConstraintKind::kSupports);
}

class CspSpace : public Gecode::Space {
 public:
  CspSpace(const CspInstance& instance, const std::vector<Gecode::TupleSet>& tables,
           GecodeStrategy strategy = GecodeStrategy::kSizeMin,
           Gecode::IntPropLevel allDifferent = Gecode::IPL_VAL)
      : x_(*this, instance.varCount()) {
    for (std::int32_t v = 0; v < instance.varCount(); ++v) {
      Gecode::IntArgs values(instance.domainSize(v));
      for (std::int32_t k = 0; k < instance.domainSize(v); ++k) {
        values[k] = static_cast<int>(instance.value(v, k));
      }
      x_[v] = Gecode::IntVar(*this, Gecode::IntSet(values));
    }
    for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
      Gecode::IntVarArgs scope(instance.arity(c));
      for (std::int32_t i = 0; i < instance.arity(c); ++i) scope[i] = x_[instance.scope(c)[i]];
      postConstraint(*this, instance, c, scope, tables[static_cast<std::size_t>(c)], allDifferent);
    }
    postBranching(*this, x_, strategy);
  }
  CspSpace(CspSpace& other) : Gecode::Space(other) { x_.update(*this, other.x_); }
  Gecode::Space* copy() override { return new CspSpace(*this); }
  // Whether Gecode's own propagators accept every variable fixed to `values`: an independent
  // check of a solution found by varnel.
  bool accepts(const std::vector<std::int64_t>& values) {
    for (int v = 0; v < x_.size(); ++v) {
      Gecode::rel(*this, x_[v], Gecode::IRT_EQ, static_cast<int>(values[std::size_t(v)]));
    }
    return status() != Gecode::SS_FAILED;
  }

 private:
  Gecode::IntVarArray x_;
};

struct Counts {
  std::uint64_t solutions = 0;
  std::uint64_t failures = 0;
  std::uint64_t nodes = 0;
  double seconds = 0;
  std::vector<std::int64_t> solution;  // varnel, first-solution mode: the one it reports
};

void keepFirst(const varnel::SearchSpace& space, void* context) {
  *static_cast<std::vector<std::int64_t>*>(context) = varnel::runner::solutionValues(space);
}

// Adds tuple `given` of table c (value indices or kStar) to `set`, each star expanded into
// every value of its variable.
void addExpanded(const CspInstance& instance, std::int32_t c, const std::int32_t* given,
                 Gecode::TupleSet& set) {
  const std::int32_t arity = instance.arity(c);
  const std::int32_t* scope = instance.scope(c);
  std::vector<std::int32_t> at(static_cast<std::size_t>(arity));
  for (std::int32_t i = 0; i < arity; ++i) at[i] = given[i] == varnel::kStar ? 0 : given[i];
  Gecode::IntArgs row(arity);
  while (true) {
    for (std::int32_t i = 0; i < arity; ++i)
      row[i] = static_cast<int>(instance.value(scope[i], at[i]));
    set.add(row);
    std::int32_t i = arity - 1;
    for (; i >= 0; --i) {
      if (given[i] != varnel::kStar) continue;
      if (++at[i] < instance.domainSize(scope[i])) break;
      at[i] = 0;
    }
    if (i < 0) return;
  }
}

// One TupleSet per constraint (an empty one for an allDifferent).
std::vector<Gecode::TupleSet> gecodeTables(const CspInstance& instance) {
  std::vector<Gecode::TupleSet> tables;
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
    const std::int32_t arity = instance.arity(c);
    Gecode::TupleSet set(arity);
    const std::int32_t* rows = instance.tuples(c);
    for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
      addExpanded(instance, c, rows + std::int64_t(t) * arity, set);
    }
    set.finalize();
    tables.push_back(set);
  }
  return tables;
}

// Takes the engine's solutions (the first, or all) and its statistics into `counts`.
template <class Engine>
void drain(Engine& engine, bool all, Counts& counts) {
  while (CspSpace* solution = engine.next()) {
    ++counts.solutions;
    delete solution;
    if (!all) break;
  }
  counts.failures = engine.statistics().fail;
  counts.nodes = engine.statistics().node;
}

Counts solveWithGecode(const CspInstance& instance, bool all, std::uint64_t nodeLimit,
                       unsigned threads = 1, Gecode::IntPropLevel allDifferent = Gecode::IPL_VAL) {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<Gecode::TupleSet> tables = gecodeTables(instance);
  auto* root = new CspSpace(instance, tables, GecodeStrategy::kSizeMin, allDifferent);
  Gecode::Search::Options options;
  options.threads = threads;
  if (nodeLimit != 0) options.stop = Gecode::Search::Stop::node(nodeLimit);
  Counts counts;
  {
    Gecode::DFS<CspSpace> engine(root, options);
    delete root;
    drain(engine, all, counts);
  }
  counts.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return counts;
}

// --strategy and --restarts: Gecode's branching of that name, under its restart-based search
// (nogoods from restarts on, Gecode's default limit) when a cutoff is given, otherwise its
// depth-first search. First solution or all, as varnel-solve.
Counts solveWithGecodeStrategy(const CspInstance& instance, bool all, std::uint64_t nodeLimit,
                               GecodeStrategy strategy, varnel::RestartPolicy restarts,
                               std::uint64_t restartBase) {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<Gecode::TupleSet> tables = gecodeTables(instance);
  auto* root = new CspSpace(instance, tables, strategy);
  Gecode::Search::Options options;
  if (nodeLimit != 0) options.stop = Gecode::Search::Stop::node(nodeLimit);
  if (restarts == varnel::RestartPolicy::kLuby) {
    options.cutoff = Gecode::Search::Cutoff::luby(restartBase);
  } else if (restarts == varnel::RestartPolicy::kGeometric) {
    options.cutoff = Gecode::Search::Cutoff::geometric(restartBase, 1.5);
  }
  options.nogoods_limit = Gecode::Search::Config::nogoods_limit;
  Counts counts;
  if (options.cutoff != nullptr) {
    Gecode::RBS<CspSpace, Gecode::DFS> engine(root, options);
    delete root;
    drain(engine, all, counts);
  } else {
    Gecode::DFS<CspSpace> engine(root, options);
    delete root;
    drain(engine, all, counts);
  }
  counts.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return counts;
}

// Compact-Table when `masks` is given, GAC-4R otherwise. workers 0: the one-thread search;
// otherwise the parallel search on that many workers.
Counts solveWithVarnel(const CspInstance& instance, const varnel::InstanceSupportMasks* masks,
                       bool all, std::int32_t workers = 0,
                       const varnel::BranchingOptions& branching = {},
                       varnel::AllDifferentLevel level = varnel::kDefaultAllDifferentLevel) {
  varnel::SearchStatistics s;
  Counts counts;
  if (workers == 0) {
    varnel::Solver* solver = varnel::newPooled<varnel::Solver>();
    auto* space = varnel::newPooled<varnel::SearchSpace>(*solver, instance, masks, level);
    varnel::SearchOptions options;
    options.allSolutions = all;
    options.branching = branching;
    if (!all) {
      options.onSolution = keepFirst;
      options.onSolutionContext = &counts.solution;
    }
    s = varnel::depthFirstSearch(*space, options);
    varnel::deletePooled(space);
    varnel::deletePooled(solver);
  } else {
    varnel::runner::ParallelSearchOptions options;
    options.allSolutions = all;
    options.workers = workers;
    options.masks = masks;
    options.branching = branching;
    options.allDifferent = level;
    const varnel::runner::ParallelSearchResult r =
        varnel::runner::parallelSearch(instance, options);
    s = r.stats;
    if (r.winner >= 0) counts.solution = r.workers[std::size_t(r.winner)].solutions[0];
  }
  counts.solutions = s.solutions;
  counts.failures = s.failures;
  counts.nodes = s.nodes;
  return counts;
}

// Peak resident memory of this process (VmHWM), in bytes; 0 where unreadable.
std::uint64_t peakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
  }
  return 0;
}

// The tree Gecode's size-min walks: --var dom --val min --last-conflict 0 --restarts none.
varnel::BranchingOptions originalTree() {
  varnel::BranchingOptions b;
  b.variables = varnel::VariableOrder::kDom;
  b.values = varnel::ValueOrder::kMin;
  b.lastConflict = 0;
  b.restarts = varnel::RestartPolicy::kNone;
  return b;
}

// Another tree, restarting every two failures (Luby), whose answers must still be Gecode's.
varnel::BranchingOptions restartingTree() {
  varnel::BranchingOptions b;
  b.variables = varnel::VariableOrder::kDomWdeg;
  b.lastConflict = 1;
  b.restarts = varnel::RestartPolicy::kLuby;
  b.restartBase = 2;
  return b;
}

// `base` made into an instance of every kind: every third table forbids a third of its tuples,
// every third has some entries starred, odd variables' values shift by one; then an
// allDifferent over three variables and two over two lists of two, one naming a variable in
// both lists at one place.
CspInstance* mixedVariant(const CspInstance& base, std::uint32_t seed) {
  std::uint64_t state = seed * 2654435761u + 1;
  auto next = [&state] {
    return (state = state * 6364136223846793005u + 1442695040888963407u) >> 33;
  };
  auto* mixed = varnel::newPooled<CspInstance>(base.varCount());
  for (std::int32_t x = 0; x < base.varCount(); ++x) {
    std::vector<std::int64_t> values(base.values(x), base.values(x) + base.domainSize(x));
    for (auto& v : values) v += x % 2;
    mixed->setDomain(x, values.data(), base.domainSize(x));
  }
  for (std::int32_t c = 0; c < base.constraintCount(); ++c) {
    std::vector<std::int32_t> rows(
        base.tuples(c), base.tuples(c) + std::int64_t(base.arity(c)) * base.tupleCount(c));
    if (c % 3 == 1) {
      for (auto& v : rows) v = next() % 5 == 0 ? varnel::kStar : v;
    }
    mixed->addTable(
        c % 3 == 0 ? varnel::ConstraintKind::kConflicts : varnel::ConstraintKind::kSupports,
        base.scope(c), base.arity(c), rows.data(),
        c % 3 == 0 ? base.tupleCount(c) / 3 : base.tupleCount(c));
  }
  const std::int32_t n = base.varCount();
  const std::int32_t first = static_cast<std::int32_t>(next() % static_cast<std::uint64_t>(n - 4));
  const std::int32_t three[] = {first, first + 1, first + 2};
  mixed->addAllDifferent(three, 3, 1);
  const std::int32_t lists[] = {first + 3, first + 4, first, first + 3};
  mixed->addAllDifferent(lists, 2, 2);
  const std::int32_t sharing[] = {first + 1, first + 2, first + 1, first + 4};
  mixed->addAllDifferent(sharing, 2, 2);
  return mixed;
}

// Varnel with Compact-Table and each allDifferent level against Gecode with distinct at the
// matching level, all solutions and the first, one line each starting with `label`: false at
// the first disagreement, or when a first solution varnel reports fails `accepted`. The
// all-solutions count goes to *solutions.
bool agreeWithGecode(const CspInstance& instance, std::uint32_t seed, const char* label,
                     const std::function<bool(const std::vector<std::int64_t>&)>& accepted,
                     int* compared, std::uint64_t* solutions) {
  auto* masks = varnel::newPooled<varnel::InstanceSupportMasks>(instance);
  bool agree = true;
  const struct {
    varnel::AllDifferentLevel ours;
    Gecode::IntPropLevel theirs;
    const char* name;
  } levels[] = {{varnel::AllDifferentLevel::kForwardChecking, Gecode::IPL_VAL, "fc"},
                {varnel::AllDifferentLevel::kMatching, Gecode::IPL_DOM, "gac"}};
  for (const auto& level : levels) {
    for (const bool all : {true, false}) {
      const Counts ours = solveWithVarnel(instance, masks, all, 0, originalTree(), level.ours);
      const Counts theirs = solveWithGecode(instance, all, 0, 1, level.theirs);
      const Counts split =
          solveWithVarnel(instance, masks, all, 1 + (seed % 4), originalTree(), level.ours);
      auto u = [](std::uint64_t n) { return static_cast<unsigned long long>(n); };
      std::printf(
          "  %s --alldiff %s %s: solutions %llu/%llu failures %llu/%llu nodes %llu/%llu "
          "(ct/gecode), %u workers: solutions %llu\n",
          label, level.name, all ? "all" : "first", u(ours.solutions), u(theirs.solutions),
          u(ours.failures), u(theirs.failures), u(ours.nodes), u(theirs.nodes), 1 + (seed % 4),
          u(split.solutions));
      const bool rootFailed = ours.nodes == 1 && ours.failures == 1 && theirs.nodes == 0;
      agree = agree && ours.solutions == theirs.solutions && ours.failures == theirs.failures &&
              (ours.nodes == theirs.nodes || rootFailed) && split.solutions == ours.solutions;
      if (!all && ours.solutions > 0) agree = agree && accepted(ours.solution);
      if (all) *solutions = ours.solutions;
      ++*compared;
    }
  }
  varnel::deletePooled(masks);
  return agree;
}

// The mixed variant of `base` through agreeWithGecode.
bool checkMixed(const CspInstance& base, std::uint32_t seed, int* compared) {
  CspInstance* instance = mixedVariant(base, seed);
  std::uint64_t solutions = 0;
  const bool agree = agreeWithGecode(
      *instance, seed, "mixed",
      [&](const std::vector<std::int64_t>& values) {
        return instance->firstViolatedConstraint(values.data()) < 0;
      },
      compared, &solutions);
  varnel::deletePooled(instance);
  return agree;
}

// Both sides on `perSize` instances of each of three sizes, all solutions and the first one.
int check(int perSize) {
  struct Size {
    std::int32_t vars, domain, arity, constraints;
    double lowTightness, highTightness;
  };
  const Size sizes[] = {
      {8, 4, 2, 14, 0.2, 0.5}, {12, 5, 2, 30, 0.25, 0.45}, {9, 4, 3, 10, 0.3, 0.7}};
  int compared = 0;
  int mixedCompared = 0;
  int checkedSolutions = 0;
  for (const Size& size : sizes) {
    for (int k = 0; k < perSize; ++k) {
      varnel::RbParameters p;
      p.vars = size.vars;
      p.domain = size.domain;
      p.arity = size.arity;
      p.constraints = size.constraints;
      p.tightness = size.lowTightness +
                    (size.highTightness - size.lowTightness) * k / std::max(perSize - 1, 1);
      p.seed = static_cast<std::uint32_t>(1000 + k);
      CspInstance* instance = varnel::generateRbInstance(p);
      auto* masks = varnel::newPooled<varnel::InstanceSupportMasks>(*instance);
      for (const bool all : {true, false}) {
        const Counts ct = solveWithVarnel(*instance, masks, all, 0, originalTree());
        const Counts gac4r = solveWithVarnel(*instance, nullptr, all, 0, originalTree());
        const Counts theirs = solveWithGecode(*instance, all, 0);
        auto u = [](std::uint64_t n) { return static_cast<unsigned long long>(n); };
        std::printf(
            "check vars=%d domain=%d arity=%d constraints=%d tightness=%.3f seed=%u %s: "
            "solutions %llu/%llu/%llu failures %llu/%llu/%llu nodes %llu/%llu/%llu "
            "(ct/gac4r/gecode)\n",
            p.vars, p.domain, p.arity, p.constraints, p.tightness, p.seed, all ? "all" : "first",
            u(ct.solutions), u(gac4r.solutions), u(theirs.solutions), u(ct.failures),
            u(gac4r.failures), u(theirs.failures), u(ct.nodes), u(gac4r.nodes), u(theirs.nodes));
        // Gecode does not count a root that fails in the engine's first propagation as a node;
        // varnel counts it, like every node whose propagation ran.
        auto same = [](const Counts& ours, const Counts& other, bool gecode) {
          const bool rootFailed =
              gecode && ours.nodes == 1 && ours.failures == 1 && other.nodes == 0;
          return ours.solutions == other.solutions && ours.failures == other.failures &&
                 (ours.nodes == other.nodes || rootFailed);
        };
        bool agree = same(ct, gac4r, false) && same(ct, theirs, true);
        // Every first solution varnel would print, fixed in a fresh Gecode space: Gecode's
        // propagators must accept it.
        const std::vector<Gecode::TupleSet> tables = gecodeTables(*instance);
        auto accepted = [&](const Counts& c) {
          if (all || c.solutions == 0) return true;
          CspSpace space(*instance, tables);
          ++checkedSolutions;
          return c.solution.size() == std::size_t(instance->varCount()) &&
                 space.accepts(c.solution);
        };
        agree = agree && accepted(ct) && accepted(gac4r);
        // The parallel search walks the same tree in pieces: in all-solutions mode every count
        // is the same; in first-solution mode, whether there is a solution.
        for (std::int32_t workers = 1; workers <= 4; ++workers) {
          const Counts split = solveWithVarnel(*instance, masks, all, workers, originalTree());
          std::printf("  %d workers: solutions %llu failures %llu nodes %llu\n", workers,
                      u(split.solutions), u(split.failures), u(split.nodes));
          agree = agree && accepted(split) && split.solutions == ct.solutions &&
                  (!all || (split.failures == ct.failures && split.nodes == ct.nodes));
        }
        // dom/wdeg, last conflict and restarts every few failures (one thread and 2 workers):
        // the same solution count in both modes, and a first solution Gecode accepts.
        for (const std::int32_t workers : {0, 2}) {
          const Counts restarted =
              solveWithVarnel(*instance, masks, all, workers, restartingTree());
          std::printf("  restarting%s: solutions %llu failures %llu nodes %llu\n",
                      workers == 0 ? "" : " on 2 workers", u(restarted.solutions),
                      u(restarted.failures), u(restarted.nodes));
          agree = agree && restarted.solutions == theirs.solutions && accepted(restarted);
        }
        if (!agree) {
          std::fprintf(stderr, "gecode_solve: the counts differ on the instance above\n");
          varnel::deletePooled(masks);
          varnel::deletePooled(instance);
          return 1;
        }
        ++compared;
      }
      if (!checkMixed(*instance, p.seed, &mixedCompared)) {
        std::fprintf(stderr, "gecode_solve: the counts differ on the mixed instance above\n");
        varnel::deletePooled(masks);
        varnel::deletePooled(instance);
        return 1;
      }
      varnel::deletePooled(masks);
      varnel::deletePooled(instance);
    }
  }
  std::printf(
      "identical solution, failure and node counts (ct, gac4r, Gecode) on %d searches (%d "
      "instances), and on 1 to 4 workers; the same solution counts with dom/wdeg, last conflict "
      "and restarts; %d first solutions (one thread, 1 to 4 workers, restarting) accepted by "
      "Gecode\n",
      compared, compared / 2, checkedSolutions);
  std::printf(
      "identical counts (ct with --alldiff fc and gac, Gecode with distinct by value and by "
      "domain) on %d searches over conflicts, short tuples and allDifferent\n",
      mixedCompared);
  return 0;
}

// --check-xcsp3: `count` generated XCSP3 documents (xcsp3_generator.h), each read by varnel's
// reader, written as text and read back, then counted four ways that must agree: by brute
// force over the generator's own meaning and over the file's constraints the reader keeps
// (firstViolatedLine), by varnel's search on the instance read from the XML and on the one read
// back from text (the same tree, node for node), and by Gecode on the text (node for node, as
// checkMixed). A first solution must satisfy the file and the generator.
int checkXcsp3(int count) {
  if (!varnel::xcsp3Available()) {
    std::printf("skipped: this build reads no XCSP3 (built without expat and liblzma)\n");
    return 0;
  }
  auto u = [](std::uint64_t n) { return static_cast<unsigned long long>(n); };
  std::map<std::string, int> constructs;
  int compared = 0, satisfiable = 0;
  std::uint64_t dropped = 0;
  for (int k = 1; k <= count; ++k) {
    const auto seed = static_cast<std::uint32_t>(k);
    const varnel::xcsp3gen::GeneratedXcsp3 generated = varnel::xcsp3gen::generateXcsp3(seed);
    const auto fault = [&](const std::string& what) {
      std::fflush(stdout);
      std::fprintf(stderr, "gecode_solve: generated document %u: %s\n%s", seed, what.c_str(),
                   generated.xml.c_str());
      return 1;
    };
    std::istringstream xml(generated.xml);
    varnel::Xcsp3ReadResult read = varnel::readXcsp3(xml, varnel::Xcsp3ReadOptions());
    if (read.instance == nullptr) {
      return fault("refused at line " + std::to_string(read.line) + ": " + read.error);
    }
    dropped += static_cast<std::uint64_t>(read.droppedTuples);
    std::ostringstream written;
    varnel::writeInstance(written, *read.instance, "generated XCSP3 document");
    std::istringstream text(written.str());
    varnel::InstanceReadResult back = varnel::readInstance(text);
    if (back.instance == nullptr) {
      varnel::deletePooled(read.instance);
      return fault("its text does not read back: line " + std::to_string(back.line) + ": " +
                   back.error + "\n" + written.str());
    }
    // Brute force: the generator's meaning against the file's constraints, assignment by
    // assignment over the declared domains.
    std::uint64_t meant = 0, byFile = 0, assignments = 0;
    std::string firstDifference;
    generated.forEachAssignment([&](const varnel::xcsp3gen::Assignment& values) {
      const int violated = generated.firstViolated(values);
      const std::int64_t line = read.model->firstViolatedLine(values.data());
      ++assignments;
      meant += violated < 0;
      byFile += line == 0;
      if ((violated < 0) != (line == 0) && firstDifference.empty()) {
        std::ostringstream why;
        why << "the assignment";
        for (std::size_t x = 0; x < values.size(); ++x) {
          why << ' ' << generated.names[x] << '=' << values[x];
        }
        why << " is " << (violated < 0 ? "allowed" : "violated") << " by the generator"
            << (violated < 0 ? "" : " (" + generated.constraints[std::size_t(violated)].what + ")")
            << " but " << (line == 0 ? "allowed" : "violated at line " + std::to_string(line))
            << " by the file's constraints as read";
        firstDifference = why.str();
      }
    });
    auto* masks = varnel::newPooled<varnel::InstanceSupportMasks>(*read.instance);
    const Counts fromXml = solveWithVarnel(*read.instance, masks, true, 0, originalTree());
    varnel::deletePooled(masks);
    std::printf(
        "xcsp3 seed=%u variables=%d constraints=%d assignments=%llu: solutions %llu/%llu/%llu "
        "(generator/file's constraints/search on the XML's instance)\n",
        seed, read.instance->varCount(), read.instance->constraintCount(), u(assignments), u(meant),
        u(byFile), u(fromXml.solutions));
    std::uint64_t solutions = 0;
    const bool agree = firstDifference.empty() && meant == byFile && fromXml.solutions == meant &&
                       agreeWithGecode(
                           *back.instance, seed, "xcsp3",
                           [&](const std::vector<std::int64_t>& values) {
                             return read.model->firstViolatedLine(values.data()) == 0 &&
                                    generated.firstViolated(values) < 0;
                           },
                           &compared, &solutions) &&
                       solutions == meant;
    // The text instance is the XML's one: the same tree node for node.
    auto* backMasks = varnel::newPooled<varnel::InstanceSupportMasks>(*back.instance);
    const Counts fromText = solveWithVarnel(*back.instance, backMasks, true, 0, originalTree());
    varnel::deletePooled(backMasks);
    const bool sameTree = fromText.nodes == fromXml.nodes && fromText.failures == fromXml.failures;
    varnel::deletePooled(back.instance);
    varnel::deletePooled(read.instance);
    if (!agree || !sameTree) {
      return fault(firstDifference.empty() ? std::string("the counts differ (lines above)")
                                           : firstDifference);
    }
    satisfiable += meant > 0;
    for (const auto& [name, times] : generated.constructs) constructs[name] += times > 0;
  }
  std::printf(
      "xcsp3: %d generated documents (%d satisfiable, %d not), each read, written as text and "
      "read back: the same solution counts by brute force over the generator's meaning and over "
      "the file's own constraints, by the search on both instances (the same trees) and by "
      "Gecode; identical counts (ct with --alldiff fc and gac, Gecode with distinct by value and "
      "by domain) on %d searches; %llu table rows outside their domains dropped\n",
      count, satisfiable, count - satisfiable, compared, u(dropped));
  std::printf("documents using each construct:");
  for (const auto& [name, documents] : constructs) std::printf(" %s: %d;", name.c_str(), documents);
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--check-xcsp3") {
    return checkXcsp3(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 200);
  }
  if (argc >= 2 && std::string(argv[1]) == "--check") {
    return check(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 20);
  }
  // --strategy is gecode_solve's own; every other option is varnel-solve's.
  GecodeStrategy strategy = GecodeStrategy::kSizeMin;
  std::vector<char*> args(argv, argv + argc);
  for (std::size_t a = 1; a < args.size(); ++a) {
    if (std::string(args[a]) != "--strategy") continue;
    const std::string name = a + 1 < args.size() ? args[a + 1] : "";
    const std::pair<const char*, GecodeStrategy> names[] = {{"size-min", GecodeStrategy::kSizeMin},
                                                            {"afc", GecodeStrategy::kAfc},
                                                            {"chb", GecodeStrategy::kChb},
                                                            {"action", GecodeStrategy::kAction}};
    bool known = false;
    for (const auto& [text, s] : names) {
      if (name == text) {
        strategy = s;
        known = true;
      }
    }
    if (!known) {
      std::cerr << "Error: --strategy expects size-min, afc, chb or action" << std::endl;
      return 2;
    }
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(a),
               args.begin() + static_cast<std::ptrdiff_t>(a) + 2);
    --a;
  }
  argc = static_cast<int>(args.size());
  argv = args.data();
  varnel::solve::SolveOptions o;
  std::string error;
  if (!varnel::solve::parseSolveOptions(argc, argv, &o, &error) || o.splitMem || o.parallel != 0 ||
      o.timeLimit > 0 || o.printSolutions != 0 || !o.writeSubproblemsDir.empty() ||
      !o.writeInstanceFile.empty()) {
    std::cerr << "Error: "
              << (error.empty() ? "gecode_solve takes the instance options, --all, --node-limit, "
                                  "--json and --threads N (Gecode's parallel search)"
                                : error)
              << std::endl;
    return 2;
  }
  if (o.help) {
    std::cout
        << "gecode_solve takes varnel-solve's instance and search options, or --check [N], or\n"
           "--check-xcsp3 [N];\n"
           "--strategy size-min|afc|chb|action (value min) and --restarts luby|geometric\n"
           "[--restart-base N] (Gecode's restart-based search with nogoods) choose its search\n";
    return 0;
  }
  CspInstance* instance = nullptr;
  if (!o.instanceFile.empty()) {
    std::ifstream file(o.instanceFile);
    varnel::InstanceReadResult read = varnel::readInstance(file);
    if (read.instance == nullptr) {
      std::cerr << "Error: " << o.instanceFile << ":" << read.line << ": " << read.error
                << std::endl;
      return 2;
    }
    instance = read.instance;
  } else if (o.fromTable) {
    varnel::detail::randomState = 1;
    auto* table = varnel::newPooled<varnel::TupleTable>(o.tableArity, o.tableTuples, o.tableUpper);
    table->fillRandom(o.tableUpper);
    instance = varnel::instanceFromTable(*table);
    varnel::deletePooled(table);
  } else {
    instance = varnel::generateRbInstance(o.rb);
  }
  const unsigned threads = o.threads > 0 ? static_cast<unsigned>(o.threads) : 1;
  const varnel::RestartPolicy restarts = o.restarts.value_or(varnel::RestartPolicy::kNone);
  const bool ownStrategy =
      strategy != GecodeStrategy::kSizeMin || restarts != varnel::RestartPolicy::kNone;
  if (ownStrategy && threads > 1) {
    std::cerr << "Error: --strategy and --restarts run on one thread" << std::endl;
    return 2;
  }
  const Counts c = ownStrategy
                       ? solveWithGecodeStrategy(*instance, o.allSolutions, o.nodeLimit, strategy,
                                                 restarts, o.restartBase.value_or(100))
                       : solveWithGecode(*instance, o.allSolutions, o.nodeLimit, threads,
                                         o.allDifferent == varnel::AllDifferentLevel::kMatching
                                             ? Gecode::IPL_DOM
                                             : Gecode::IPL_VAL);
  // The same fields as varnel-solve's, as text lines or one JSON object (--json).
  namespace json = varnel::solve::json;
  varnel::solve::SolveOutput out(o.json);
  const auto ms = static_cast<std::int64_t>(c.seconds * 1000);
  const double rate = c.seconds > 0 ? c.nodes / c.seconds : 0.0;
  const std::uint64_t peak = peakResidentBytes();
  out.field("peer", "gecode", "peer", json::string("gecode"));
  out.field("threads", std::to_string(threads), "threads", json::number(std::int64_t{threads}));
  out.field("solutions", std::to_string(c.solutions), "solutions", json::number(c.solutions));
  out.field("failures", std::to_string(c.failures), "failures", json::number(c.failures));
  out.field("nodes", std::to_string(c.nodes), "nodes", json::number(c.nodes));
  out.field("time", std::to_string(ms) + " ms", "time_ms", json::number(ms));
  std::ostringstream rateText;
  rateText << rate;
  out.field("nodes per second", rateText.str(), "nodes_per_second", json::number(rate));
  out.field("peak resident memory", std::to_string(peak) + " bytes", "peak_resident_memory",
            json::number(peak));
  out.finish();
  varnel::deletePooled(instance);
  return 0;
}
