// Building, filling and releasing a TupleTable. Everything here runs once per table, on the
// thread that owns it.
#include "varnel/table/tuple_table.h"

#include <algorithm>

#include "varnel/memory/pooled.h"
#include "varnel/table/next_random.h"

namespace varnel {

namespace {
// Initial capacity of a value's tuple list.
constexpr std::int32_t kInitialListCapacity = 8;
}  // namespace

TableColumn::TableColumn(std::int32_t valueRoom)
    : valueIndex_(valueRoom), tuplesOfValue_(valueRoom) {}

TableColumn::~TableColumn() {
  deletePooledArray(tuplesOfValue_.data(), tuplesOfValue_.size());
  // The list table, then the value index, go with the members (reverse declaration order).
}

std::int32_t TableColumn::findOrAddValue(std::int64_t value) {
  const std::int32_t found = valueIndex_.indexOf(value);
  if (found != -1) return found;
  tuplesOfValue_.pushBack(newPooled<SuccessionInt>(kInitialListCapacity));
  valueIndex_.push_back(value);
  return valueIndex_.size() - 1;
}

TupleTable::TupleTable(std::int32_t arity, std::int32_t numTuples, std::int32_t upper)
    : tuples_(numTuples), columns_(arity) {
  VARNEL_ASSERT(arity >= 1 && numTuples >= 1 && upper >= 1);
  // A column never holds more distinct values than the table has tuples: sizing it for `upper`
  // when upper > numTuples would only reserve room for values that cannot appear (and let a
  // large `upper` alone ask for gigabytes). For upper <= numTuples nothing changes.
  const std::int32_t valueRoom = std::min(upper, numTuples);
  for (std::int32_t i = 0; i < arity; ++i) columns_[i] = newPooled<TableColumn>(valueRoom);
}

TupleTable::~TupleTable() {
  const std::int32_t arity = columns_.length();
  for (std::int32_t i = 0; i < arity; ++i) deletePooled(columns_[i]);
  for (std::int32_t t = 0; t < tuples_.size(); ++t) {
    freeArray(tuples_[t], static_cast<std::uint64_t>(arity));
    tuples_[t] = nullptr;
  }
  // The column table, then the tuple list, go with the members (reverse declaration order).
}

void TupleTable::addTuple(const Array<std::int64_t>& values) {
  const std::int32_t arity = columns_.length();
  const std::int32_t t = tuples_.size();
  std::int32_t* tuple = allocateArray<std::int32_t>(static_cast<std::uint64_t>(arity));
  for (std::int32_t i = 0; i < arity; ++i) {
    TableColumn& column = *columns_[i];
    const std::int32_t v = column.findOrAddValue(values[i]);
    column.appendTuple(v, t);
    tuple[i] = v;
  }
  tuples_.pushBack(tuple);
}

void TupleTable::fillRandom(std::int32_t upper) {
  const std::int32_t arity = columns_.length();
  const std::int32_t n = tuples_.capacity();
  Array<std::int64_t> scratch(arity);
  for (std::int32_t k = 0; k < n; ++k) {
    for (std::int32_t i = 0; i < arity; ++i) {
      // r / 32768 scaled to [0, upper): exact in double, truncated toward zero.
      const double r = static_cast<double>(nextRandom());
      scratch[i] = static_cast<std::int64_t>(r * (1.0 / 32768.0) * upper + 0.0);
    }
    addTuple(scratch);
  }
}

}  // namespace varnel
