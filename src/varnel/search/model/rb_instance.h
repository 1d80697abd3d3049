// Random instances of model RB (Xu and Li, "Exact phase transitions in random constraint
// satisfaction problems", JAIR 2000): n variables with domains 0 .. d-1, m constraints of arity
// k over distinct random variables, each a positive table of round((1 - p) d^k) distinct random
// tuples. Tightness p near the phase transition gives hard instances. Planted: a hidden random
// assignment is drawn first and every table keeps its tuple, so the instance has a solution
// (the "forced" construction of Xu, Boussemart, Hemery, Lecoutre). Drawn from the library's
// nextRandom, so one set of parameters always gives the same instance; and problem 1's tuple
// table as a one-constraint instance.
#pragma once

#include <cstdint>
#include <string>

#include "varnel/search/model/csp_instance.h"
#include "varnel/table/tuple_table.h"

namespace varnel {

struct RbParameters {
  std::int32_t vars = 30;          // n
  std::int32_t domain = 10;        // d
  std::int32_t arity = 2;          // k
  std::int32_t constraints = 120;  // m
  double tightness = 0.5;          // p: the fraction of the d^k tuples forbidden
  std::uint32_t seed = 1;          // the generator's state before the first draw
  bool planted = false;            // every table allows the tuple of a hidden assignment
};

// Largest d^k a table may span (the tuples are drawn without repetition from all of them).
inline constexpr std::int64_t kLargestTableSpan = std::int64_t(1) << 24;

// Empty when the parameters make an instance: n >= 1, d >= 1, 1 <= k <= n, m >= 0,
// 0 <= p <= 1, d^k <= kLargestTableSpan; otherwise what is wrong, in a sentence.
std::string rbParameterProblem(const RbParameters& parameters);

// Tuples per table: round((1 - p) d^k), and at least the planted one when planted.
std::int64_t rbTupleCount(const RbParameters& parameters);

// Builds the instance in the calling thread's pools (release it with deletePooled). Sets the
// calling thread's nextRandom state to `seed` first. Precondition: rbParameterProblem is empty.
// With `planted` and a non-null `hidden`, the hidden assignment's value indices are written
// there (vars of them).
CspInstance* generateRbInstance(const RbParameters& parameters, std::int32_t* hidden = nullptr);

// Problem 1's table as an instance: one variable per column, with the column's values in
// increasing order, and one constraint over all of them allowing the table's rows.
CspInstance* instanceFromTable(const TupleTable& table);

}  // namespace varnel
