// GAC4RTableCt: construction and filling, the worked example, the reset rule, and propagation
// checked against a brute-force closure on many random tables and removal sequences.
#include "varnel/table/gac4r_table_ct.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "table/closure_oracle.h"
#include "table/table_test_support.h"
#include "varnel/memory/pooled.h"

namespace varnel {
namespace {

using testing::blocksInUse;
using testing::ClosureOracle;
using testing::front;
using testing::tableFromRows;

// A constraint over `table`, filled and pruned as every user starts.
GAC4RTableCt* readyConstraint(const TupleTable& table) {
  GAC4RTableCt* ct = newPooled<GAC4RTableCt>(table);
  ct->initSupports();
  ct->pruneUnsupported();
  return ct;
}

std::vector<std::int32_t> members(const Set& set) {
  std::vector<std::int32_t> out;
  for (const std::int32_t x : set) out.push_back(x);
  return out;
}

TEST(GAC4RTableCt, ConstructionGivesFullDomainsAndEmptyBucketsThenFillingFollowsTheTable) {
  TupleTable* table = tableFromRows({{5, 1, 2}, {6, 1, 3}, {5, 2, 3}, {7, 1, 3}, {5, 1, 2}}, 4);
  auto* ct = newPooled<GAC4RTableCt>(*table);
  ASSERT_EQ(ct->arity(), 3) << "arity";
  EXPECT_EQ(ct->tupleBuffer().length(), 5) << "the tuple buffer holds one entry per tuple";
  EXPECT_EQ(ct->pendingVariables().size(), 0) << "nothing pending after construction";
  for (std::int32_t i = 0; i < 3; ++i) {
    std::vector<std::int32_t> all;
    for (std::int32_t v = 0; v < table->valueCount(i); ++v) all.push_back(v);
    EXPECT_EQ(members(ct->domain(i)), all) << "domain of variable " << i << " not full in order";
    EXPECT_EQ(ct->delta(i).size(), 0) << "deltas of variable " << i;
    for (std::int32_t v = 0; v < table->valueCount(i); ++v) {
      const SupportBucket& b = *ct->supports(i).buckets[v];
      EXPECT_EQ(b.count, 0) << "bucket " << v << " of variable " << i << " before filling";
      EXPECT_EQ(b.capacity, table->valueListSize(i, v))
          << "bucket " << v << " of variable " << i << " sized wrongly";
    }
  }
  ct->initSupports();
  for (std::int32_t i = 0; i < 3; ++i) {
    for (std::int32_t v = 0; v < table->valueCount(i); ++v) {
      const SupportBucket& b = *ct->supports(i).buckets[v];
      const SuccessionInt& list = table->column(i).tuplesOf(v);
      ASSERT_EQ(b.count, b.capacity) << "bucket " << v << " of variable " << i << " not full";
      for (std::int32_t k = 0; k < b.count; ++k) {
        EXPECT_EQ(b.items[k], list[k]) << "bucket " << v << " of variable " << i << " entry " << k
                                       << " differs from the table's list";
        EXPECT_EQ(ct->supports(i).position[b.items[k]], k) << "position of tuple " << b.items[k];
      }
    }
  }
  EXPECT_EQ(ct->audit(), "") << "invariants after filling";
  deletePooled(ct);
  deletePooled(table);
}

TEST(GAC4RTableCt, WorkedExampleWithTwoVariablesAndThreeTuples) {
  TupleTable* table = tableFromRows({{0, 0}, {1, 0}, {1, 1}}, 2);
  GAC4RTableCt* ct = readyConstraint(*table);
  EXPECT_EQ(front(*ct, 0, 1), (std::vector<std::int32_t>{1, 2})) << "bucket 1 of variable 0";
  EXPECT_EQ(front(*ct, 1, 0), (std::vector<std::int32_t>{0, 1})) << "bucket 0 of variable 1";

  ct->removeValue(0, 1);
  EXPECT_EQ(members(ct->pendingVariables()), std::vector<std::int32_t>{0}) << "pending";
  EXPECT_EQ(members(ct->delta(0)), std::vector<std::int32_t>{1}) << "deltas of variable 0";
  EXPECT_EQ(ct->chooseResetVariable(), -1) << "2 tuples to delete is below the threshold";
  ct->propagate();
  EXPECT_EQ(ct->resetCount(), 0u) << "the example propagates incrementally";
  EXPECT_EQ(members(ct->domain(0)), std::vector<std::int32_t>{0}) << "domain of variable 0";
  EXPECT_EQ(members(ct->domain(1)), std::vector<std::int32_t>{0}) << "domain of variable 1";
  EXPECT_EQ(front(*ct, 1, 0), std::vector<std::int32_t>{0}) << "tuple 1 must leave bucket 0";
  EXPECT_EQ(ct->delta(1).size(), 0) << "a value removed by propagation is not pending";
  EXPECT_EQ(ct->pendingVariables().size(), 0) << "nothing pending after propagate";
  EXPECT_EQ(ct->audit(), "") << "invariants after the example";
  deletePooled(ct);
  deletePooled(table);
}

TEST(GAC4RTableCt, RemovingAnAbsentValueRecordsNothing) {
  TupleTable* table = tableFromRows({{0, 0}, {1, 0}, {1, 1}}, 2);
  GAC4RTableCt* ct = readyConstraint(*table);
  ct->removeValue(0, 1);
  ct->propagate();
  ct->removeValue(1, 1);  // already removed by the propagation
  ct->removeValue(0, 1);  // already removed by hand
  EXPECT_EQ(ct->pendingVariables().size(), 0) << "absent values must not make a variable pending";
  EXPECT_EQ(ct->delta(0).size() + ct->delta(1).size(), 0) << "absent values recorded";
  EXPECT_EQ(ct->domain(0).size() + ct->domain(1).size(), 2) << "domains changed";
  ct->propagate();
  EXPECT_EQ(ct->audit(), "") << "an empty propagation broke an invariant";
  deletePooled(ct);
  deletePooled(table);
}

// Variable 0 takes value 1 in `toDelete` tuples and 0 in `remaining` ones; variable 1 numbers
// the tuples. Returns whether removing value 1 of variable 0 resets.
bool resetsWith(int toDelete, int remaining) {
  std::vector<std::vector<std::int64_t>> rows;
  for (int k = 0; k < remaining; ++k) rows.push_back({0, k});
  for (int k = 0; k < toDelete; ++k) rows.push_back({1, remaining + k});
  TupleTable* table = tableFromRows(rows, 2);
  GAC4RTableCt* ct = readyConstraint(*table);
  ct->removeValue(0, 1);
  const bool chosen = ct->chooseResetVariable() == 0;
  ct->propagate();
  const bool reset = ct->resetCount() == 1;
  EXPECT_EQ(chosen, reset) << "chooseResetVariable and propagate disagree";
  EXPECT_EQ(ct->domain(1).size(), remaining) << "the deleted tuples' values must leave";
  EXPECT_EQ(ct->audit(), "") << "invariants after " << toDelete << " vs " << remaining;
  deletePooled(ct);
  deletePooled(table);
  return reset;
}

TEST(GAC4RTableCt, ResetNeedsTenTuplesToDeleteAndNoMoreRemaining) {
  EXPECT_FALSE(resetsWith(9, 1)) << "9 tuples to delete never reset";
  EXPECT_FALSE(resetsWith(9, 9)) << "9 tuples to delete never reset, even against 9";
  EXPECT_TRUE(resetsWith(10, 10)) << "10 to delete against 10 remaining resets";
  EXPECT_FALSE(resetsWith(10, 11)) << "10 to delete against 11 remaining is incremental";
  EXPECT_TRUE(resetsWith(12, 3)) << "more to delete than remain resets";
}

TEST(GAC4RTableCt, TiedPendingVariablesResetFromTheFirstPending) {
  // Variables 0 and 1 each lose value 1 in 10 tuples; the tuples are laid out so that 10 of
  // them stay valid for each.
  std::vector<std::vector<std::int64_t>> rows;
  for (int k = 0; k < 20; ++k) rows.push_back({k < 10 ? 1 : 0, k % 2, k});
  TupleTable* table = tableFromRows(rows, 2);
  for (const std::int32_t firstPending : {0, 1}) {
    GAC4RTableCt* ct = readyConstraint(*table);
    ClosureOracle oracle(*table);
    ct->removeValue(firstPending, 1);
    ct->removeValue(1 - firstPending, 1);
    oracle.remove(firstPending, 1);
    oracle.remove(1 - firstPending, 1);
    oracle.close();
    EXPECT_EQ(ct->chooseResetVariable(), firstPending)
        << "on a tie the variable that became pending first must be chosen";
    ct->propagate();
    EXPECT_EQ(ct->resetCount(), 1u) << "the tie should reset";
    EXPECT_EQ(oracle.mismatch(*ct), "") << "after the tied reset from " << firstPending;
    EXPECT_EQ(ct->audit(), "") << "invariants after the tied reset";
    deletePooled(ct);
  }
  deletePooled(table);
}

TEST(GAC4RTableCt, TupleInvalidOnTwoPendingVariablesLeavesEachBucketOnce) {
  // Tuple 1 holds both removed values; gathered twice, it would pull tuple 0 or 2 out of the
  // front of value 0 of variable 2.
  TupleTable* table = tableFromRows({{0, 0, 0}, {1, 1, 0}, {0, 0, 0}, {0, 1, 1}, {1, 0, 1}}, 2);
  GAC4RTableCt* ct = readyConstraint(*table);
  ct->removeValue(0, 1);
  ct->removeValue(1, 1);
  ct->propagate();
  EXPECT_EQ(front(*ct, 2, 0).size(), 2u) << "value 0 of variable 2 keeps tuples 0 and 2";
  EXPECT_EQ(members(ct->domain(2)), std::vector<std::int32_t>{0}) << "domain of variable 2";
  EXPECT_EQ(ct->audit(), "") << "invariants after two pending variables";
  deletePooled(ct);

  // Every tuple invalid on both variables: gathering each twice would need twice the buffer.
  TupleTable* both = tableFromRows({{0, 0, 0}, {1, 1, 0}, {1, 1, 1}}, 2);
  ct = readyConstraint(*both);
  ct->removeValue(0, 1);
  ct->removeValue(1, 1);
  ct->propagate();
  EXPECT_EQ(members(ct->domain(2)), std::vector<std::int32_t>{0}) << "only tuple 0 remains";
  EXPECT_EQ(front(*ct, 2, 0), std::vector<std::int32_t>{0}) << "front of value 0, variable 2";
  EXPECT_EQ(ct->audit(), "") << "invariants after removing tuples twice pending";
  deletePooled(ct);
  deletePooled(both);
  deletePooled(table);
}

TEST(GAC4RTableCt, RemovingTheLastValueEmptiesEveryDomain) {
  TupleTable* table = tableFromRows({{0, 0, 1}, {1, 0, 0}, {1, 1, 1}}, 2);
  for (const bool severalPending : {false, true}) {
    GAC4RTableCt* ct = readyConstraint(*table);
    ct->removeValue(1, 0);
    if (severalPending) ct->removeValue(2, 0);
    ct->propagate();
    ct->removeValue(1, 1);
    ct->propagate();
    for (std::int32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(ct->domain(i).size(), 0) << "domain of variable " << i << " should be empty";
    }
    EXPECT_EQ(ct->pendingVariables().size(), 0) << "nothing pending after the wipe-out";
    deletePooled(ct);
  }
  deletePooled(table);
}

TEST(GAC4RTableCt, KeepingOneTuplesValueNeverRemovesAValueOfThatTuple) {
  std::mt19937 rng(7);
  std::vector<std::vector<std::int64_t>> rows;
  for (int t = 0; t < 120; ++t) {
    rows.push_back({std::int64_t(rng() % 6), std::int64_t(rng() % 6), std::int64_t(rng() % 6),
                    std::int64_t(rng() % 6)});
  }
  TupleTable* table = tableFromRows(rows, 6);
  for (std::int32_t x = 0; x < 4; ++x) {
    GAC4RTableCt* ct = readyConstraint(*table);
    const std::int32_t* kept = table->tuple(37);
    for (std::int32_t v = 0; v < table->valueCount(x); ++v) {
      if (v == kept[x]) continue;
      ct->removeValue(x, v);
      ct->propagate();
      for (std::int32_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(ct->domain(i).contains(kept[i]))
            << "removing value " << v << " of variable " << x << " removed tuple 37's value "
            << "for variable " << i;
      }
    }
    EXPECT_EQ(ct->domain(x).size(), 1) << "variable " << x << " reduced to tuple 37's value";
    deletePooled(ct);
  }
  deletePooled(table);
}

TEST(GAC4RTableCt, MatchesTheBruteForceClosureOnRandomTablesAndRemovals) {
  std::uint64_t resets = 0, incremental = 0, severalPending = 0, multiReset = 0;
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    std::mt19937 rng(seed);
    const auto draw = [&](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(rng);
    };
    const int arity = draw(2, 6);
    const int numTuples = draw(1, 300);
    const int upper = draw(1, 8);
    std::vector<std::vector<std::int64_t>> rows;
    for (int t = 0; t < numTuples; ++t) {
      if (t > 0 && draw(0, 9) == 0) {
        rows.push_back(rows[draw(0, t - 1)]);  // an identical row
        continue;
      }
      std::vector<std::int64_t> row;
      for (int i = 0; i < arity; ++i) row.push_back(draw(0, upper - 1));
      rows.push_back(row);
    }
    TupleTable* table = tableFromRows(rows, upper);
    GAC4RTableCt* ct = readyConstraint(*table);
    ClosureOracle oracle(*table);
    ASSERT_EQ(oracle.mismatch(*ct), "") << "seed " << seed << " after filling";

    for (int step = 0; step < 40; ++step) {
      // One removal, or a batch spread over several variables; now and then a domain's last
      // value goes too.
      const int removals = draw(0, 2) == 0 ? draw(2, 2 * arity) : 1;
      for (int r = 0; r < removals; ++r) {
        const int i = draw(0, arity - 1);
        const std::vector<std::int32_t> domain = members(ct->domain(i));
        if (domain.empty() || (domain.size() == 1 && draw(0, 19) != 0)) continue;
        const std::int32_t v = domain[static_cast<std::size_t>(draw(0, int(domain.size()) - 1))];
        ct->removeValue(i, v);
        oracle.remove(i, v);
      }
      if (ct->pendingVariables().size() > 1) ++severalPending;
      const bool resetChosen = ct->chooseResetVariable() != -1;
      const std::uint64_t before = ct->resetCount();
      ct->propagate();
      oracle.close();
      ASSERT_EQ(ct->resetCount() - before, resetChosen ? 1u : 0u)
          << "seed " << seed << " step " << step << ": reset taken against the rule";
      if (resetChosen) {
        ++resets;
        if (removals > 1) ++multiReset;
      } else {
        ++incremental;
      }
      ASSERT_EQ(oracle.mismatch(*ct), "")
          << "seed " << seed << " step " << step << " (" << removals << " removals, arity " << arity
          << ", " << numTuples << " tuples)";
      ASSERT_EQ(ct->audit(), "") << "seed " << seed << " step " << step;
    }
    deletePooled(ct);
    deletePooled(table);
  }
  EXPECT_GT(resets, 100u) << "the random cases should exercise the reset path";
  EXPECT_GT(incremental, 100u) << "the random cases should exercise the incremental path";
  EXPECT_GT(severalPending, 100u) << "the random cases should propagate several variables";
  EXPECT_GT(multiReset, 20u) << "the random cases should reset with several removals";
}

TEST(GAC4RTableCt, DestructionReturnsEveryBlockToItsPools) {
  std::mt19937 rng(3);
  std::vector<std::vector<std::int64_t>> rows;
  for (int t = 0; t < 700; ++t)
    rows.push_back({std::int64_t(rng() % 9), std::int64_t(rng() % 9), std::int64_t(rng() % 9)});
  TupleTable* table = tableFromRows(rows, 9);
  const testing::BlockUsage before = blocksInUse();
  GAC4RTableCt* ct = readyConstraint(*table);
  ct->removeValue(0, 2);
  ct->removeValue(1, 3);
  ct->propagate();  // several pending: the tuple marks are written too
  deletePooled(ct);
  const testing::BlockUsage after = blocksInUse();
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    EXPECT_EQ(after[c], before[c]) << "size class " << c << " kept blocks after destruction";
  }
  EXPECT_EQ(ct, nullptr) << "deletePooled must null the slot";
  deletePooled(table);
}

}  // namespace
}  // namespace varnel
