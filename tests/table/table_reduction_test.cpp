// The domain-reduction run: its target tuple, the default run's propagations and resets, the
// degenerate tables, and that runs neither change the table nor keep any block.
#include "varnel/table/table_reduction.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "table/table_test_support.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/tuple_table.h"

namespace varnel {
namespace {

using testing::blocksInUse;
using testing::onFreshThread;
using testing::tableFromRows;

// Everything a reader of the table can see, to compare before and after runs.
std::vector<std::int64_t> tableSnapshot(const TupleTable& table) {
  std::vector<std::int64_t> s{table.arity(), table.tupleCount(), table.tupleCapacity()};
  for (std::int32_t t = 0; t < table.tupleCount(); ++t) {
    for (std::int32_t i = 0; i < table.arity(); ++i) s.push_back(table.tuple(t)[i]);
  }
  for (std::int32_t i = 0; i < table.arity(); ++i) {
    const TableColumn& column = table.column(i);
    s.push_back(column.valueCount());
    for (std::int32_t v = 0; v < column.valueCount(); ++v) {
      s.push_back(column.value(v));
      const SuccessionInt& list = column.tuplesOf(v);
      s.push_back(list.size());
      for (std::int32_t k = 0; k < list.size(); ++k) s.push_back(list[k]);
    }
  }
  return s;
}

// A filled and pruned constraint with its centre array, as the run prepares them.
struct PreparedRun {
  explicit PreparedRun(const TupleTable& table)
      : constraint(newPooled<GAC4RTableCt>(table)),
        centre(newPooled<Array<std::int32_t>>(table.arity())) {
    const std::int32_t* target = table.tuple(centreTupleOf(table));
    for (std::int32_t i = 0; i < table.arity(); ++i) (*centre)[i] = target[i];
    constraint->initSupports();
    constraint->pruneUnsupported();
  }
  ~PreparedRun() {
    deletePooled(centre);
    deletePooled(constraint);
  }
  GAC4RTableCt* constraint;
  Array<std::int32_t>* centre;
};

TEST(TableReduction, TargetIsTheMiddleTuple) {
  for (const auto& [count, expected] :
       std::vector<std::pair<int, int>>{{1, 0}, {2, 1}, {3, 1}, {500, 250}}) {
    std::vector<std::vector<std::int64_t>> rows(static_cast<std::size_t>(count), {0, 1});
    TupleTable* table = tableFromRows(rows, 2);
    EXPECT_EQ(centreTupleOf(*table), expected) << "wrong target for " << count << " tuples";
    deletePooled(table);
  }
}

TEST(TableReduction, DefaultRunPropagatesTwentyTwoTimesWithOneResetAtTheNinth) {
  onFreshThread([] {
    TupleTable* table = newPooled<TupleTable>(10, 500, 10);
    table->fillRandom(10);
    PreparedRun run(*table);
    GAC4RTableCt& ct = *run.constraint;

    const std::vector<std::int32_t> expectedCentre{6, 3, 6, 6, 3, 6, 8, 2, 1, 3};
    for (std::int32_t i = 0; i < 10; ++i) {
      ASSERT_EQ(table->valueCount(i), 10) << "column " << i << " should have all 10 values";
      EXPECT_EQ((*run.centre)[i], expectedCentre[i]) << "centre value index of variable " << i;
    }

    // The run's loop, unrolled here to watch each propagation.
    std::vector<std::int32_t> callsPerVariable(10, 0);
    std::int32_t call = 0;
    for (std::int32_t i = 9; i >= 0; --i) {
      for (std::int32_t j = 0; j < table->valueCount(i); ++j) {
        if (j == (*run.centre)[i] || !ct.domain(i).contains(j)) continue;
        ct.removeValue(i, j);
        ++call;
        ++callsPerVariable[i];
        std::int64_t toDelete = ct.supports(i).buckets[j]->count;
        std::int64_t remaining = 0;
        for (const std::int32_t v : ct.domain(i)) remaining += ct.supports(i).buckets[v]->count;
        const std::uint64_t resetsBefore = ct.resetCount();
        ct.propagate();
        const bool reset = ct.resetCount() != resetsBefore;
        EXPECT_EQ(reset, call == 9)
            << "propagate call " << call << " (variable " << i << ", value " << j << ", "
            << toDelete << " to delete, " << remaining << " remaining) took the wrong path";
        if (call == 9) {
          EXPECT_EQ(toDelete, 59) << "tuples to delete at the ninth call";
          EXPECT_EQ(remaining, 43) << "tuples remaining at the ninth call";
        }
        ASSERT_EQ(ct.audit(), "") << "after propagate call " << call;
        for (std::int32_t k = 0; k < 10; ++k) {
          ASSERT_TRUE(ct.domain(k).contains((*run.centre)[k]))
              << "call " << call << " removed the centre's value of variable " << k;
        }
      }
    }
    EXPECT_EQ(call, 22) << "number of propagate calls of the default run";
    const std::vector<std::int32_t> expectedCalls{0, 0, 0, 0, 0, 0, 1, 3, 9, 9};
    EXPECT_EQ(callsPerVariable, expectedCalls) << "propagate calls per variable";
    EXPECT_EQ(ct.propagateCount(), 22u) << "the constraint's own count of propagations";
    EXPECT_EQ(ct.resetCount(), 1u) << "resets in the whole default run";
    for (std::int32_t i = 0; i < 10; ++i) {
      EXPECT_EQ(ct.domain(i).size(), 1) << "domain of variable " << i << " after the run";
    }
    // Only the centre (and identical rows) stays valid: every front holds exactly those.
    for (std::int32_t i = 0; i < 10; ++i) {
      const SupportBucket& b = *ct.supports(i).buckets[(*run.centre)[i]];
      for (std::int32_t k = 0; k < b.count; ++k) {
        for (std::int32_t x = 0; x < 10; ++x) {
          EXPECT_EQ(table->tuple(b.items[k])[x], (*run.centre)[x])
              << "tuple " << b.items[k] << " is left valid but differs from the centre";
        }
      }
      EXPECT_GE(b.count, 1) << "the centre itself must stay valid for variable " << i;
    }
    deletePooled(table);
  });
}

TEST(TableReduction, ReduceToTupleCountsTheSamePropagationsAsTheUnrolledLoop) {
  onFreshThread([] {
    TupleTable* table = newPooled<TupleTable>(10, 500, 10);
    table->fillRandom(10);
    PreparedRun run(*table);
    EXPECT_EQ(reduceToTuple(*run.constraint, *table, *run.centre), 22)
        << "propagate calls of the default reduction";
    EXPECT_EQ(run.constraint->resetCount(), 1u) << "resets of the default reduction";
    deletePooled(table);
  });
}

TEST(TableReduction, NothingToRemoveWithOneTupleOrOneValuePerDomain) {
  TupleTable* single = tableFromRows({{4, 7, 9}}, 10);
  TupleTable* oneValue = newPooled<TupleTable>(5, 40, 1);
  oneValue->fillRandom(1);
  for (TupleTable* table : {single, oneValue}) {
    PreparedRun run(*table);
    EXPECT_EQ(reduceToTuple(*run.constraint, *table, *run.centre), 0)
        << "a table with one value per column needs no propagation";
    EXPECT_EQ(run.constraint->propagateCount(), 0u) << "propagate must not be called";
    for (std::int32_t i = 0; i < table->arity(); ++i) {
      EXPECT_EQ(run.constraint->domain(i).size(), 1) << "domain of variable " << i;
    }
    const TupleTable* const ref = table;
    EXPECT_GE(runTableReduction(&ref, table->arity()), 0) << "elapsed time cannot be negative";
  }
  deletePooled(oneValue);
  deletePooled(single);
}

TEST(TableReduction, RunsLeaveTheTableUnchangedAndReturnEveryBlock) {
  TupleTable* table = newPooled<TupleTable>(6, 2000, 5);
  table->fillRandom(5);
  const std::vector<std::int64_t> before = tableSnapshot(*table);
  const TupleTable* const ref = table;

  // Warm the pools once so that the comparison below sees no refill.
  runTableReduction(&ref, 6);
  const testing::BlockUsage inUse = blocksInUse();
  runTableReduction(&ref, 6);
  const testing::BlockUsage after = blocksInUse();
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    EXPECT_EQ(after[c], inUse[c]) << "a run kept blocks of size class " << c;
  }
  onFreshThread([&] {
    const testing::BlockUsage start = blocksInUse();
    runTableReduction(&ref, 6);
    const testing::BlockUsage end = blocksInUse();
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      EXPECT_EQ(end[c], start[c]) << "a run on another thread kept blocks of class " << c;
    }
  });
  EXPECT_EQ(tableSnapshot(*table), before) << "runs must only read the table";

  // Two reductions over the same table reach the same domains.
  PreparedRun first(*table);
  PreparedRun second(*table);
  reduceToTuple(*first.constraint, *table, *first.centre);
  reduceToTuple(*second.constraint, *table, *second.centre);
  for (std::int32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(first.constraint->domain(i).first(), second.constraint->domain(i).first())
        << "two runs disagree on variable " << i;
    EXPECT_EQ(first.constraint->domain(i).size(), 1) << "variable " << i << " not reduced";
  }
  EXPECT_EQ(tableSnapshot(*table), before) << "reductions must only read the table";
  deletePooled(table);
}

}  // namespace
}  // namespace varnel
