// TupleTable: the allowed tuples of one table constraint. Each column numbers its variable's
// values densely in order of first appearance; a tuple is stored as its value indices.
#pragma once

#include <cstdint>

#include "varnel/containers/array.h"
#include "varnel/containers/collection.h"
#include "varnel/containers/succession_int.h"
#include "varnel/platform/assert.h"
#include "varnel/solver/reversible.h"

namespace varnel {

// One variable's column: its distinct values and, per value index, the tuples having it.
class TableColumn : public Reversible {
 public:
  // No values yet; sized for `valueRoom` distinct values (>= 1); more values grow it.
  explicit TableColumn(std::int32_t valueRoom);
  // Destroys the value lists and returns their blocks, then the list table, then the index.
  ~TableColumn() override;

  // Value index of `value`, created (with an empty tuple list) when the value is new.
  std::int32_t findOrAddValue(std::int64_t value);

  // Number of distinct values seen: value indices are 0 .. valueCount() - 1.
  std::int32_t valueCount() const { return tuplesOfValue_.size(); }
  // The value whose index is v.
  std::int64_t value(std::int32_t v) const { return valueIndex_.item(v); }
  // Numbers of the tuples whose value has index v, in increasing order.
  const SuccessionInt& tuplesOf(std::int32_t v) const { return *tuplesOfValue_[v]; }
  // The distinct values in index order (read only by the table's builder).
  const Collection& valueIndex() const { return valueIndex_; }
  // Appends tuple number t to the list of value index v.
  void appendTuple(std::int32_t v, std::int32_t t) { tuplesOfValue_[v]->pushBack(t); }
  // Capacity of the list table (grows only past the values it was sized for).
  std::int32_t listCapacity() const { return tuplesOfValue_.capacity(); }

 private:
  Collection valueIndex_;
  Succession<SuccessionInt*> tuplesOfValue_;
};

class TupleTable : public Reversible {
 public:
  // An empty table of `arity` columns, room for numTuples tuples, each column sized for
  // min(upper, numTuples) values, the most that numTuples tuples can hold. All arguments >= 1.
  TupleTable(std::int32_t arity, std::int32_t numTuples, std::int32_t upper);
  // Releases the columns, then every tuple, then the column table and the tuple list.
  ~TupleTable() override;

  // Appends the tuple values[0 .. arity-1]; its number is tupleCount() before the call.
  void addTuple(const Array<std::int64_t>& values);
  // Appends as many random tuples as the tuple list's capacity, values in 0 .. upper-1, drawn
  // row by row from the calling thread's nextRandom.
  void fillRandom(std::int32_t upper);

  // Number of variables.
  std::int32_t arity() const { return columns_.length(); }
  // Number of tuples added so far.
  std::int32_t tupleCount() const { return tuples_.size(); }
  // Capacity of the tuple list (numTuples unless more were added).
  std::int32_t tupleCapacity() const { return tuples_.capacity(); }
  // Value indices of tuple t, one per variable.
  const std::int32_t* tuple(std::int32_t t) const { return tuples_[t]; }
  // Column i.
  const TableColumn& column(std::int32_t i) const { return *columns_[i]; }
  // Number of value indices of variable i.
  std::int32_t valueCount(std::int32_t i) const { return columns_[i]->valueCount(); }
  // Number of tuples whose value for variable i has index v.
  std::int32_t valueListSize(std::int32_t i, std::int32_t v) const {
    return columns_[i]->tuplesOf(v).size();
  }

 private:
  Succession<std::int32_t*> tuples_;
  Array<TableColumn*> columns_;
};

}  // namespace varnel
