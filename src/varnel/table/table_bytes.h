// The memory a filled TupleTable takes, from its arguments alone, for the programs that size a
// request before building it (problem 1's table, and varnel-solve's --table).
#pragma once

#include <cstdint>

#include "varnel/memory/byte_count.h"

namespace varnel {

// A table of `arity` columns and `numTuples` tuples of values below `upper`, filled. All
// arguments >= 1. A lower bound either way it is measured.
ByteCount tableBytes(std::int32_t arity, std::int32_t numTuples, std::int32_t upper, Measure m);

}  // namespace varnel
