// The unit of work of the table-constraint scalability run.
#include "varnel/table/table_reduction.h"

#include "varnel/memory/pooled.h"
#include "varnel/platform/clock.h"

namespace varnel {

std::int32_t reduceToTuple(GAC4RTableCt& constraint, const TupleTable& table,
                           const Array<std::int32_t>& centre) {
  std::int32_t calls = 0;
  for (std::int32_t i = constraint.arity() - 1; i >= 0; --i) {
    const Set& domain = constraint.domain(i);
    const std::int32_t valueCount = table.valueCount(i);
    for (std::int32_t j = 0; j < valueCount; ++j) {
      if (j == centre[i] || !domain.contains(j)) continue;
      constraint.removeValue(i, j);
      constraint.propagate();
      ++calls;
    }
  }
  return calls;
}

std::int64_t runTableReduction(const TupleTable* const* tableRef, std::int32_t arity) {
  const TupleTable& table = **tableRef;
  const std::int64_t frequency = platform::counterFrequency();
  const std::int64_t start = platform::counterNow();

  GAC4RTableCt* constraint = newPooled<GAC4RTableCt>(table);
  const std::int32_t* target = table.tuple(centreTupleOf(table));
  Array<std::int32_t>* centre = newPooled<Array<std::int32_t>>(arity);
  for (std::int32_t i = 0; i < arity; ++i) (*centre)[i] = target[i];
  constraint->initSupports();
  constraint->pruneUnsupported();
  reduceToTuple(*constraint, table, *centre);

  const std::int64_t end = platform::counterNow();
  deletePooled(centre);
  deletePooled(constraint);
  return elapsedMilliseconds(start, end, frequency);
}

}  // namespace varnel
