// The timed domain-reduction run: a fresh GAC4RTableCt over a shared table, every domain reduced
// to the values of one target tuple, propagating after each removal.
#pragma once

#include <cstdint>

#include "varnel/containers/array.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/tuple_table.h"

namespace varnel {

// Builds a constraint over *tableRef in the calling thread's pools, fills and prunes it, then
// removes every value but those of tuple tupleCount / 2 (the centre), variables from the last
// to the first and values in increasing index order, propagating after each removal. Returns
// the milliseconds from before construction to the end of the reduction (the releases are not
// timed). The table is only read; it needs at least one tuple and `arity` columns.
std::int64_t runTableReduction(const TupleTable* const* tableRef, std::int32_t arity);

// Number of the target tuple of a run: tupleCount / 2. Precondition: at least one tuple.
inline std::int32_t centreTupleOf(const TupleTable& table) { return table.tupleCount() / 2; }

// The reduction loop alone, on a constraint already filled and pruned: for variables arity-1
// down to 0, for each value index j of the table's column other than centre[i] that is still in
// the domain, removeValue then propagate. Returns the number of propagate calls.
std::int32_t reduceToTuple(GAC4RTableCt& constraint, const TupleTable& table,
                           const Array<std::int32_t>& centre);

}  // namespace varnel
