// VariableSupports: one variable's side of a GAC4RTableCt: a support bucket per value and, per
// tuple, its value for this variable and its place in that value's bucket.
#pragma once

#include <cstdint>

#include "varnel/containers/array.h"
#include "varnel/solver/reversible.h"
#include "varnel/table/support_bucket.h"

namespace varnel {

class GAC4RTableCt;
class TupleTable;

class VariableSupports : public Reversible {
 public:
  // One empty bucket per value of `variable` in `table`, each sized for the tuples having that
  // value, and unfilled per-tuple tables (GAC4RTableCt::initSupports writes them).
  VariableSupports(GAC4RTableCt& owner, const TupleTable& table, std::int32_t variable);
  // Destroys the buckets, then frees valueOf, position and the bucket table.
  ~VariableSupports() override;

  // Swaps each listed tuple to the end of its bucket's front, in list order. Precondition: the
  // listed tuples are distinct and none is in the front of its bucket yet.
  void refillBuckets(std::int32_t total, const std::int32_t* list);

  // Bucket v lists the tuples whose value for this variable is v.
  Array<SupportBucket*> buckets;
  // position[t]: where tuple t stands in its bucket.
  Array<std::int32_t> position;
  // valueOf[t]: tuple t's value index for this variable.
  Array<std::int32_t> valueOf;
  // The constraint this belongs to.
  GAC4RTableCt* owner;
};

// --- Inline definitions ------------------------------------------------------------------

inline void VariableSupports::refillBuckets(std::int32_t total, const std::int32_t* list) {
  SupportBucket* const* bucketOf = buckets.data();
  std::int32_t* pos = position.data();
  const std::int32_t* value = valueOf.data();
  for (std::int32_t k = 0; k < total; ++k) {
    const std::int32_t t = list[k];
    SupportBucket& b = *bucketOf[value[t]];
    const std::int32_t end = b.count;
    const std::int32_t other = b.items[end];
    const std::int32_t at = pos[t];
    b.items[at] = other;
    b.items[end] = t;
    pos[other] = at;
    pos[t] = end;
    b.count = end + 1;
  }
}

}  // namespace varnel
