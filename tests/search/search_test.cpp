// The search against brute force, with each propagator (GAC-4R and Compact-Table, and Compact-
// Table with conflicts, short tuples and allDifferent): random search trees on small random
// instances, where every node must be the generalised-arc-consistent
// closure computed from scratch and every pop must give back the state copied at its push;
// depth-first search against an enumeration of every assignment; and the blocks a search takes
// all coming back.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runner/parallel_search.h"
#include "search/search_oracle.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/dfs.h"
#include "varnel/search/model/rb_instance.h"

namespace varnel::testing {
namespace {

// Small instances: binary and ternary tables, tightness from loose to failing at the root, some
// tables large enough for resets, and one ternary seed in four with tables of more than 64
// tuples (Compact-Table runs tables of one word apart from the others).
RbParameters smallInstance(std::uint32_t seed, std::int32_t extraVars = 3) {
  RbParameters p;
  p.arity = 2 + static_cast<std::int32_t>(seed % 2);
  p.vars = 5 + static_cast<std::int32_t>(seed % (extraVars + 1));
  p.domain = p.arity == 2 ? 6 : (seed % 4 == 3 ? 5 : 4);
  p.constraints = p.arity == 2 ? 8 : 5;
  p.tightness = 0.1 + 0.1 * (seed % 9);
  p.seed = seed;
  return p;
}

// The instance a test runs with propagator `p`, in the calling thread's pools.
CspInstance* instanceFor(Propagator p, const RbParameters& rb) {
  CspInstance* instance = generateRbInstance(rb);
  if (p == Propagator::kGac4r || p == Propagator::kCompactTable) return instance;
  CspInstance* mixed = mixedInstance(*instance, rb.seed);
  deletePooled(instance);
  return mixed;
}

struct TreeWalk {
  SearchSpace& space;
  std::mt19937& random;
  std::vector<Decision> decisions;
  AllDifferentLevel level;
  int nodes = 0;

  // Checks the current node, then opens up to two random children.
  void visit(bool consistent, int depth) {
    ++nodes;
    Domains expected;
    ASSERT_EQ(consistent, closure(space.instance(), decisions, &expected, level))
        << "propagation and closure disagree on failure at depth " << depth;
    if (!consistent) return;
    ASSERT_EQ(closureMismatch(space, expected), "") << "at depth " << depth;
    std::vector<std::int32_t> open;
    for (std::int32_t x = 0; x < space.varCount(); ++x) {
      if (space.var(x).size() > 1) open.push_back(x);
    }
    for (int child = 0; child < 2 && !open.empty() && depth < 10; ++child) {
      const std::int32_t x = open[random() % open.size()];
      const Decision d{x,
                       space.var(x).at(static_cast<std::int32_t>(random() % space.var(x).size())),
                       random() % 2 == 0};
      const SpaceCopy atPush(space);
      space.solver().pushRestorationPoint();
      decisions.push_back(d);
      d.assign ? space.assign(d.var, d.value) : space.removeValue(d.var, d.value);
      visit(space.propagate(), depth + 1);
      decisions.pop_back();
      space.solver().popRestorationPoint();
      ASSERT_TRUE(SpaceCopy(space) == atPush) << "a pop at depth " << depth << " did not restore";
    }
  }
};

class SearchModel : public ::testing::TestWithParam<Propagator> {};
class DepthFirstSearch : public ::testing::TestWithParam<Propagator> {};

std::string nameOf(const ::testing::TestParamInfo<Propagator>& info) {
  return propagatorName(info.param);
}

const auto kPropagators = ::testing::Values(Propagator::kGac4r, Propagator::kCompactTable,
                                            Propagator::kMixedForward, Propagator::kMixedMatching);
INSTANTIATE_TEST_SUITE_P(Propagators, SearchModel, kPropagators, nameOf);
INSTANTIATE_TEST_SUITE_P(Propagators, DepthFirstSearch, kPropagators, nameOf);

TEST_P(SearchModel, EveryNodeIsTheClosureAndEveryPopRestoresThePush) {
  std::uint64_t resets = 0;
  int nodes = 0;
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    CspInstance* instance = instanceFor(GetParam(), smallInstance(seed));
    const MasksFor masks(*instance, GetParam());
    Solver solver;
    SearchSpace space(solver, *instance, masks.get(), levelOf(GetParam()));
    std::mt19937 random(seed);
    TreeWalk walk{space, random, {}, levelOf(GetParam())};
    walk.visit(space.post(), 0);
    nodes += walk.nodes;
    for (std::int32_t c = 0; c < space.constraintCount(); ++c) {
      resets += resetsOf(space, c);
    }
    deletePooled(instance);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(resets, 0u) << "no reset happened: the reset path under search went untested";
  EXPECT_GT(nodes, 1000) << "the random trees were too small to test much";
}

// Every assignment of the instance that every constraint allows.
std::set<std::vector<std::int32_t>> allSolutions(const CspInstance& instance) {
  std::set<std::vector<std::int32_t>> found;
  std::vector<std::int32_t> a(instance.varCount(), 0);
  std::vector<std::int64_t> values(instance.varCount(), 0);
  while (true) {
    for (std::int32_t x = 0; x < instance.varCount(); ++x) values[x] = instance.value(x, a[x]);
    if (instance.firstViolatedConstraint(values.data()) < 0) found.insert(a);
    std::int32_t x = 0;
    while (x < instance.varCount() && ++a[x] == instance.domainSize(x)) a[x++] = 0;
    if (x == instance.varCount()) return found;
  }
}

void recordSolution(const SearchSpace& space, void* context) {
  std::vector<std::int32_t> a;
  for (std::int32_t x = 0; x < space.varCount(); ++x) a.push_back(space.var(x).at(0));
  static_cast<std::vector<std::vector<std::int32_t>>*>(context)->push_back(a);
}

// Branchings that restart every one to three failures.
std::vector<BranchingOptions> restartingBranchings() {
  std::vector<BranchingOptions> all(3);
  all[0].variables = VariableOrder::kDomWdeg;
  all[0].lastConflict = 1;
  all[0].restarts = RestartPolicy::kLuby;
  all[0].restartBase = 1;
  all[1].variables = VariableOrder::kLex;
  all[1].values = ValueOrder::kMax;
  all[1].restarts = RestartPolicy::kGeometric;
  all[1].restartBase = 2;
  all[2].variables = VariableOrder::kDomDdeg;
  all[2].values = ValueOrder::kRandom;
  all[2].randomTies = true;
  all[2].seed = 7;
  all[2].lastConflict = 2;
  all[2].restarts = RestartPolicy::kLuby;
  all[2].restartBase = 3;
  return all;
}

std::string branchingName(const BranchingOptions& b) {
  return "var " + std::to_string(int(b.variables)) + " val " + std::to_string(int(b.values)) +
         " lc " + std::to_string(b.lastConflict) + " restarts " + std::to_string(int(b.restarts));
}

TEST_P(DepthFirstSearch, FindsEverySolutionOnceAndLeavesTheRootAsItWas) {
  std::uint64_t restarted = 0;
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    CspInstance* instance = instanceFor(GetParam(), smallInstance(seed, 1));
    const std::set<std::vector<std::int32_t>> expected = allSolutions(*instance);
    const MasksFor masks(*instance, GetParam());
    Solver solver;
    SearchSpace space(solver, *instance, masks.get(), levelOf(GetParam()));
    std::vector<std::vector<std::int32_t>> found;
    SearchOptions all{true, 0, recordSolution, &found};
    const SearchStatistics first = depthFirstSearch(space, all);
    const SpaceCopy root(space);
    EXPECT_EQ(first.solutions, expected.size()) << "seed " << seed;
    EXPECT_EQ(std::set<std::vector<std::int32_t>>(found.begin(), found.end()), expected)
        << "seed " << seed << ": solutions found twice, missed, or not allowed";
    EXPECT_TRUE(first.complete);
    // A second search from the restored root walks the same tree.
    const SearchStatistics again = depthFirstSearch(space, SearchOptions{true, 0});
    EXPECT_EQ(again.nodes, first.nodes) << "seed " << seed;
    EXPECT_EQ(again.failures, first.failures) << "seed " << seed;
    std::vector<std::vector<std::int32_t>> firstFound;
    const SearchStatistics one =
        depthFirstSearch(space, SearchOptions{false, 0, recordSolution, &firstFound});
    EXPECT_EQ(one.solutions, expected.empty() ? 0u : 1u) << "seed " << seed;
    const SearchStatistics limited = depthFirstSearch(space, SearchOptions{true, 3});
    EXPECT_EQ(limited.complete, first.nodes <= 3) << "seed " << seed;
    EXPECT_LE(limited.nodes, 3u) << "seed " << seed;
    EXPECT_TRUE(SpaceCopy(space) == root) << "seed " << seed << ": a stopped search left changes";
    EXPECT_EQ(solver.depth(), 0u);
    // Other branchings, restarting every few failures: the same solutions, each once (the
    // nogoods keep every explored subtree out of the next runs), an unsatisfiable instance
    // still proved so, and the root given back.
    for (const BranchingOptions& b : restartingBranchings()) {
      const std::string where = "seed " + std::to_string(seed) + ", " + branchingName(b);
      found.clear();
      SearchOptions again{true, 0, recordSolution, &found};
      again.branching = b;
      const SearchStatistics s = depthFirstSearch(space, again);
      EXPECT_TRUE(s.complete) << where;
      EXPECT_EQ(std::set<std::vector<std::int32_t>>(found.begin(), found.end()), expected) << where;
      EXPECT_EQ(found.size(), expected.size()) << where << ": a solution found twice";
      found.clear();
      SearchOptions one{false, 0, recordSolution, &found};
      one.branching = b;
      const SearchStatistics f = depthFirstSearch(space, one);
      EXPECT_EQ(f.solutions, expected.empty() ? 0u : 1u) << where;
      EXPECT_EQ(f.complete, expected.empty()) << where << ": an unsatisfiable run did not end";
      if (!found.empty()) EXPECT_EQ(expected.count(found[0]), 1u) << where;
      restarted += s.restarts + f.restarts;
      // Two workers, each learning over the subproblems it takes: the same count, every block
      // back.
      runner::ParallelSearchOptions p;
      p.allSolutions = true;
      p.workers = 2;
      p.subproblems = 1 + static_cast<std::int32_t>(seed) % 7;
      p.branching = b;
      p.masks = masks.get();
      p.allDifferent = levelOf(GetParam());
      const runner::ParallelSearchResult r = runner::parallelSearch(*instance, p);
      EXPECT_EQ(r.stats.solutions, expected.size()) << where << ", 2 workers";
      for (const runner::WorkerResult& w : r.workers) EXPECT_EQ(w.heldBlocks, 0u) << where;
      EXPECT_TRUE(SpaceCopy(space) == root) << where << ": the restarts left changes";
      EXPECT_EQ(solver.depth(), 0u) << where;
    }
    // The same tree split into subproblems (a varying number) and searched by 1 to 4 workers.
    std::set<std::vector<std::int64_t>> values;
    for (const auto& a : expected) {
      std::vector<std::int64_t> v;
      for (std::int32_t x = 0; x < instance->varCount(); ++x) v.push_back(instance->value(x, a[x]));
      values.insert(v);
    }
    const struct {
      bool all;
      std::uint64_t limit;
    } modes[] = {{true, 0}, {false, 0}, {true, 5}};
    for (std::int32_t workers = 1; workers <= 4; ++workers) {
      for (const auto& mode : modes) {
        runner::ParallelSearchOptions p;
        p.masks = masks.get();
        p.allDifferent = levelOf(GetParam());
        p.allSolutions = mode.all;
        p.nodeLimit = mode.limit;
        p.workers = workers;
        p.subproblems = 1 + static_cast<std::int32_t>(seed) % 5 * workers;
        p.keepSolutions = 1 << 20;
        const runner::ParallelSearchResult r = runner::parallelSearch(*instance, p);
        const std::string where = "seed " + std::to_string(seed) + ", " + std::to_string(workers) +
                                  " workers, limit " + std::to_string(mode.limit) +
                                  (mode.all ? ", all" : ", first");
        std::multiset<std::vector<std::int64_t>> kept;
        for (const runner::WorkerResult& w : r.workers) {
          kept.insert(w.solutions.begin(), w.solutions.end());
          EXPECT_EQ(w.heldBlocks, 0u) << where << ": a worker's pools did not get every block back";
        }
        for (const auto& solution : kept) EXPECT_EQ(values.count(solution), 1u) << where;
        if (mode.limit != 0) {
          // The decomposition's walk is never cut short by the limit; the workers stay within it.
          EXPECT_LE(r.stats.nodes, std::max(mode.limit, r.decompositionNodes)) << where;
          EXPECT_EQ(r.stats.complete, r.stats.nodes == first.nodes) << where;
        } else if (mode.all) {
          EXPECT_EQ(r.stats.solutions, expected.size()) << where;
          EXPECT_EQ(r.stats.nodes, first.nodes) << where;
          EXPECT_EQ(r.stats.failures, first.failures) << where;
          EXPECT_EQ(r.stats.maxDepth, first.maxDepth) << where;
          EXPECT_EQ(std::set<std::vector<std::int64_t>>(kept.begin(), kept.end()), values) << where;
          EXPECT_EQ(kept.size(), expected.size()) << where << ": a solution found twice";
        } else {
          EXPECT_EQ(r.stats.solutions, expected.empty() ? 0u : 1u) << where;
          EXPECT_EQ(r.winner >= 0, !expected.empty()) << where;
          // One worker takes the subproblems in the one-thread search's order.
          if (workers == 1 && !firstFound.empty()) {
            std::vector<std::int64_t> v;
            for (std::int32_t x = 0; x < instance->varCount(); ++x) {
              v.push_back(instance->value(x, firstFound[0][x]));
            }
            EXPECT_EQ(r.workers[0].solutions, std::vector<std::vector<std::int64_t>>{v}) << where;
          }
        }
      }
    }
    deletePooled(instance);
  }
  EXPECT_GT(restarted, 40u) << "too few restarts to test the nogoods";
}

// dom/wdeg by hand, from scratch at every node: a constraint's weight is 1 plus the wipe-outs it
// caused; a variable's degree sums the weights of its constraints with another unassigned
// variable; the smallest size / degree wins, the lowest index on ties.
struct WeightedDegreeReference {
  SearchSpace& space;
  std::vector<std::int64_t> weights;
  std::vector<std::pair<std::int32_t, std::int32_t>> decisions;
  std::uint64_t failures = 0;

  std::int32_t choose() const {
    const CspInstance& instance = space.instance();
    std::int32_t best = -1;
    std::int64_t bestSize = 0, bestDegree = 0;
    for (std::int32_t x = 0; x < space.varCount(); ++x) {
      if (space.var(x).size() <= 1) continue;
      std::int64_t degree = 0;
      for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
        bool in = false, other = false;
        for (std::int32_t i = 0; i < instance.arity(c); ++i) {
          const std::int32_t y = instance.scope(c)[i];
          in = in || y == x;
          other = other || (y != x && space.var(y).size() > 1);
        }
        if (in && other) degree += weights[c];
      }
      const std::int64_t size = space.var(x).size();
      // size / degree < bestSize / bestDegree, a degree of 0 standing for infinity.
      const bool better =
          best < 0 || (degree > 0 && (bestDegree == 0 || size * bestDegree < bestSize * degree));
      if (better) {
        best = x;
        bestSize = size;
        bestDegree = degree;
      }
    }
    return best;
  }

  void visit(bool consistent, bool root = false) {
    if (!consistent && root) {
      ++failures;  // post() fails outside the queue's runs: no culprit to weigh
      return;
    }
    if (!consistent) {
      const std::int32_t c = space.queue().failedConstraint();
      ASSERT_GE(c, 0) << "a wipe-out without its constraint";
      // The culprit has no tuple left within the domains.
      const CspInstance& instance = space.instance();
      for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
        bool inside = true;
        for (std::int32_t i = 0; i < instance.arity(c) && inside; ++i) {
          inside = space.var(instance.scope(c)[i])
                       .contains(instance.tuples(c)[std::int64_t(t) * instance.arity(c) + i]);
        }
        ASSERT_FALSE(inside) << "constraint " << c << " still has tuple " << t;
      }
      ++weights[c];
      ++failures;
      return;
    }
    const std::int32_t x = choose();
    if (x < 0) return;
    const std::int32_t v = space.var(x).minValue();
    decisions.emplace_back(x, v);
    space.solver().pushRestorationPoint();
    space.assign(x, v);
    visit(space.propagate());
    space.solver().popRestorationPoint();
    if (::testing::Test::HasFatalFailure()) return;
    space.solver().pushRestorationPoint();
    space.removeValue(x, v);
    visit(space.propagate());
    space.solver().popRestorationPoint();
  }
};

void recordDecision(const SearchSpace&, std::int32_t x, std::int32_t value, void* context) {
  static_cast<std::vector<std::pair<std::int32_t, std::int32_t>>*>(context)->emplace_back(x, value);
}

TEST_P(DepthFirstSearch, DomWdegBranchesAsAPlainWeightCountSays) {
  int differ = 0;
  std::uint64_t failures = 0;
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    // Larger than the enumerated ones: enough failures for the weights to matter.
    RbParameters p = smallInstance(seed);
    p.vars = p.arity == 2 ? 18 : 14;
    p.domain = p.arity == 2 ? 8 : 4;
    p.constraints = p.arity == 2 ? 50 : 22;
    p.tightness = (p.arity == 2 ? 0.47 : 0.42) + 0.01 * (seed % 4);
    CspInstance* instance = generateRbInstance(p);
    const MasksFor masks(*instance, GetParam());
    Solver solver;
    SearchSpace space(solver, *instance, masks.get());
    WeightedDegreeReference reference{
        space, std::vector<std::int64_t>(std::size_t(instance->constraintCount()), 1), {}};
    reference.visit(space.post(), true);
    if (HasFatalFailure()) return;
    std::vector<std::pair<std::int32_t, std::int32_t>> wdeg, dom;
    SearchOptions options{true, 0};
    options.onDecision = recordDecision;
    options.onDecisionContext = &dom;
    const SearchStatistics plain = depthFirstSearch(space, options);
    options.onDecisionContext = &wdeg;
    options.branching.variables = VariableOrder::kDomWdeg;
    const SearchStatistics weighted = depthFirstSearch(space, options);
    EXPECT_EQ(wdeg, reference.decisions) << "seed " << seed;
    EXPECT_EQ(weighted.failures, reference.failures) << "seed " << seed;
    EXPECT_EQ(weighted.solutions, plain.solutions) << "seed " << seed;
    differ += wdeg != dom;
    failures += reference.failures;
    deletePooled(instance);
  }
  EXPECT_GT(differ, 3) << "the weights hardly ever changed a choice: the test proves little";
  EXPECT_GT(failures, 500u) << "too few failures to weigh";
}

TEST_P(DepthFirstSearch, GivesEveryBlockBack) {
  std::string held;
  std::thread worker([&] {
    createThreadAllocator(0);
    CspInstance* instance = instanceFor(GetParam(), smallInstance(7));
    {
      const MasksFor masks(*instance, GetParam());
      Solver solver;
      SearchSpace space(solver, *instance, masks.get(), levelOf(GetParam()));
      depthFirstSearch(space, SearchOptions{true, 0});
      depthFirstSearch(space, SearchOptions{false, 0});
      SearchOptions restarting{true, 0};
      restarting.branching = restartingBranchings()[0];
      depthFirstSearch(space, restarting);
    }
    deletePooled(instance);
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      const SizeClassPool* pool = currentAllocator()->pools[c];
      if (std::uint64_t(pool->chunkCount) * pool->blocksPerChunk != pool->freeCount) {
        held += "class " + std::to_string(c) + " holds blocks; ";
      }
    }
    destroyThreadAllocator();
  });
  worker.join();
  EXPECT_EQ(held, "");
}

}  // namespace
}  // namespace varnel::testing
