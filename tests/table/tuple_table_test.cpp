// TupleTable: dense value numbering per column, value lists, the reproducible random fill and
// the release of every block.
#include "varnel/table/tuple_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "table/table_test_support.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/next_random.h"

namespace varnel {
namespace {

using testing::blocksInUse;
using testing::onFreshThread;
using testing::tableFromRows;

// Checks every column against the rows the table was built from: value indices in order of
// first appearance, and value lists that partition the tuple numbers in increasing order.
void expectTableMatchesRows(const TupleTable& table,
                            const std::vector<std::vector<std::int64_t>>& rows) {
  ASSERT_EQ(table.tupleCount(), static_cast<std::int32_t>(rows.size())) << "tuple count";
  for (std::int32_t i = 0; i < table.arity(); ++i) {
    std::vector<std::int64_t> firstSeen;
    for (const auto& row : rows) {
      if (std::find(firstSeen.begin(), firstSeen.end(), row[i]) == firstSeen.end()) {
        firstSeen.push_back(row[i]);
      }
    }
    const TableColumn& column = table.column(i);
    ASSERT_EQ(column.valueCount(), static_cast<std::int32_t>(firstSeen.size()))
        << "column " << i << " value count";
    ASSERT_EQ(column.valueIndex().size(), column.valueCount())
        << "column " << i << ": value index and value lists disagree in size";
    for (std::int32_t v = 0; v < column.valueCount(); ++v) {
      EXPECT_EQ(column.value(v), firstSeen[v]) << "column " << i << " value index " << v;
      std::vector<std::int32_t> expected;
      for (std::int32_t t = 0; t < table.tupleCount(); ++t) {
        if (rows[t][i] == firstSeen[v]) expected.push_back(t);
      }
      const SuccessionInt& list = column.tuplesOf(v);
      std::vector<std::int32_t> got(list.data(), list.data() + list.size());
      EXPECT_EQ(got, expected) << "column " << i << " list of value index " << v;
    }
    for (std::int32_t t = 0; t < table.tupleCount(); ++t) {
      EXPECT_EQ(column.value(table.tuple(t)[i]), rows[t][i])
          << "tuple " << t << " entry " << i << " names the wrong value";
    }
  }
}

TEST(TupleTable, ColumnsNumberValuesInOrderOfFirstAppearance) {
  const std::vector<std::vector<std::int64_t>> rows{{7, 3, 0}, {2, 3, 5}, {7, 9, 0},
                                                    {2, 3, 5}, {4, 9, 1}, {7, 3, 0}};
  TupleTable* table = tableFromRows(rows, 10);
  EXPECT_EQ(table->arity(), 3) << "arity";
  expectTableMatchesRows(*table, rows);
  // Identical rows 1 and 3 (and 0 and 5) keep distinct numbers and both sit in the lists.
  EXPECT_EQ(table->valueListSize(0, 0), 3) << "value 7 of variable 0 is in tuples 0, 2, 5";
  deletePooled(table);
}

TEST(TupleTable, FindOrAddValueCreatesOnceAndReturnsTheSameIndexAfter) {
  auto* column = newPooled<TableColumn>(4);
  EXPECT_EQ(column->findOrAddValue(42), 0) << "first value";
  EXPECT_EQ(column->findOrAddValue(-5), 1) << "second value";
  EXPECT_EQ(column->findOrAddValue(42), 0) << "a known value must not be added again";
  EXPECT_EQ(column->findOrAddValue(std::int64_t{1} << 33), 2)
      << "a value differing only above bit 31 is a new value";
  EXPECT_EQ(column->valueCount(), 3) << "three distinct values";
  EXPECT_EQ(column->tuplesOf(2).size(), 0) << "a new value's list starts empty";
  EXPECT_EQ(column->tuplesOf(2).capacity(), 8) << "a new value's list has room for 8";
  deletePooled(column);
}

TEST(TupleTable, DefaultTableStartsWithTheDescribedRows) {
  onFreshThread([] {
    // The generator itself, on a fresh thread: state 1, scaled by upper 10.
    std::vector<std::int64_t> drawn;
    for (int k = 0; k < 20; ++k) drawn.push_back(std::int64_t{nextRandom()} * 10 / 32768);
    const std::vector<std::int64_t> expected{0, 5, 1, 8, 5, 4, 3, 8, 8, 7,
                                             1, 8, 7, 5, 3, 0, 0, 3, 1, 1};
    EXPECT_EQ(drawn, expected) << "first twenty draws of a fresh thread, scaled to 0 .. 9";
  });
  onFreshThread([] {
    TupleTable* table = newPooled<TupleTable>(10, 500, 10);
    table->fillRandom(10);
    const std::vector<std::int64_t> first{0, 5, 1, 8, 5, 4, 3, 8, 8, 7};
    const std::vector<std::int64_t> second{1, 8, 7, 5, 3, 0, 0, 3, 1, 1};
    for (std::int32_t i = 0; i < 10; ++i) {
      EXPECT_EQ(table->tuple(0)[i], 0) << "tuple 0 has index 0 in column " << i;
      EXPECT_EQ(table->tuple(1)[i], 1) << "tuple 1 differs everywhere, so index 1 in " << i;
      EXPECT_EQ(table->column(i).value(0), first[i]) << "tuple 0's value, variable " << i;
      EXPECT_EQ(table->column(i).value(1), second[i]) << "tuple 1's value, variable " << i;
      EXPECT_LE(table->valueCount(i), 10) << "column " << i << " has more than upper values";
      EXPECT_EQ(table->column(i).listCapacity(), 10) << "list table of column " << i << " grew";
    }
    EXPECT_EQ(table->tupleCount(), 500) << "fillRandom adds numTuples tuples";
    EXPECT_EQ(table->tupleCapacity(), 500) << "the tuple list must not have grown";
    deletePooled(table);
  });
}

TEST(TupleTable, FillRandomConsumesDrawsRowByRowAndScalesByUpper) {
  for (const std::int32_t upper : {1, 3, 7}) {
    onFreshThread([upper] {
      // Model: the same draws on another fresh generator, laid out row by row.
      std::vector<std::vector<std::int64_t>> rows;
      std::thread([&] {
        for (int t = 0; t < 50; ++t) {
          std::vector<std::int64_t> row;
          for (int i = 0; i < 4; ++i) row.push_back(std::int64_t{nextRandom()} * upper / 32768);
          rows.push_back(row);
        }
      }).join();
      TupleTable* table = newPooled<TupleTable>(4, 50, upper);
      table->fillRandom(upper);
      expectTableMatchesRows(*table, rows);
      for (std::int32_t i = 0; i < 4; ++i) {
        EXPECT_LE(table->valueCount(i), upper) << "column " << i << " with upper " << upper;
      }
      if (upper == 1) {
        for (std::int32_t i = 0; i < 4; ++i) {
          EXPECT_EQ(table->valueListSize(i, 0), 50) << "upper 1: value 0 holds every tuple";
        }
      }
      deletePooled(table);
    });
  }
}

TEST(TupleTable, AddingPastTheCapacityGrowsTheTupleList) {
  const std::vector<std::vector<std::int64_t>> rows{{1, 2}, {3, 4}, {1, 4}, {3, 2}, {5, 5}};
  auto* table = newPooled<TupleTable>(2, 2, 2);
  Array<std::int64_t> values(2);
  for (const auto& row : rows) {
    values[0] = row[0];
    values[1] = row[1];
    table->addTuple(values);
  }
  EXPECT_EQ(table->tupleCapacity(), 8) << "capacity 2 doubles to 4 then 8";
  EXPECT_EQ(table->column(0).listCapacity(), 4) << "3 values in a list table sized for 2";
  expectTableMatchesRows(*table, rows);
  deletePooled(table);
}

TEST(TupleTable, DestructionReturnsEveryBlock) {
  const testing::BlockUsage before = blocksInUse();
  std::mt19937 rng(11);
  std::vector<std::vector<std::int64_t>> rows;
  for (int t = 0; t < 300; ++t)
    rows.push_back({std::int64_t(rng() % 20), std::int64_t(rng() % 3), std::int64_t(rng() % 50),
                    std::int64_t(rng() % 2)});
  TupleTable* table = tableFromRows(rows, 4);  // lists and list tables both grow
  TupleTable* filled = newPooled<TupleTable>(7, 1000, 9);
  filled->fillRandom(9);
  deletePooled(table);
  deletePooled(filled);
  const testing::BlockUsage after = blocksInUse();
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    EXPECT_EQ(after[c], before[c]) << "size class " << c << " kept blocks";
  }
  EXPECT_EQ(table, nullptr) << "deletePooled must null the slot";
}

}  // namespace
}  // namespace varnel
