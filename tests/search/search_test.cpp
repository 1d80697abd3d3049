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
// tables large enough for resets.
RbParameters smallInstance(std::uint32_t seed, std::int32_t extraVars = 3) {
  RbParameters p;
  p.arity = 2 + static_cast<std::int32_t>(seed % 2);
  p.vars = 5 + static_cast<std::int32_t>(seed % (extraVars + 1));
  p.domain = p.arity == 2 ? 6 : 4;
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

TEST_P(DepthFirstSearch, FindsEverySolutionOnceAndLeavesTheRootAsItWas) {
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
