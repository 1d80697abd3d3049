// A filled TupleTable's bytes: its columns' indexes and value lists, and its rows. Whatever
// depends on the random values is left out, so that the count stays a lower bound.
#include "varnel/table/table_bytes.h"

#include <algorithm>
#include <bit>

#include "varnel/containers/succession_int.h"
#include "varnel/table/tuple_table.h"

namespace varnel {

ByteCount tableBytes(std::int32_t arity, std::int32_t numTuples, std::int32_t upper, Measure m) {
  const auto columns = static_cast<std::uint64_t>(arity);
  const auto tuples = static_cast<std::uint64_t>(numTuples);
  const auto valueRoom = static_cast<std::uint64_t>(std::min(upper, numTuples));
  // A column: its value index (every slot written, items only as values appear: one at least),
  // its table of value lists (likewise), and the lists, which hold every tuple number once.
  const ByteCount column =
      objectBytes<TableColumn>(m) + arrayBytes(4 * std::bit_floor(valueRoom), 4, m) +
      (m == Measure::carved ? arrayBytes(valueRoom, 8, m) * 2 : ByteCount(2 * 8)) +
      objectBytes<SuccessionInt>(m) + ByteCount(tuples) * 4;
  return objectBytes<TupleTable>(m) + arrayBytes(tuples, 8, m) + arrayBytes(columns, 8, m) +
         column * columns + arrayBytes(columns, 4, m) * tuples;
}

}  // namespace varnel
