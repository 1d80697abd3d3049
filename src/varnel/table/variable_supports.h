// VariableSupports: one variable's side of a GAC4RTableCt: a support bucket per value and, per
// tuple, its value for this variable and its place in that value's bucket.
#pragma once

#include <cstdint>

#include "varnel/containers/array.h"
#include "varnel/containers/set.h"
#include "varnel/platform/compiler.h"
#include "varnel/solver/reversible.h"
#include "varnel/table/support_bucket.h"

namespace varnel {

class GAC4RTableCt;
class TupleTable;

// The swap loops of propagation (GAC4RTableCt::removeTuples, VariableSupports::refillBuckets)
// run over tables far larger than the caches, and each swap touches lines at random addresses:
// valueOf[t] and position[t] of the listed tuple, its slot in its bucket, and position[] of
// the tuple it trades places with. Fetched on demand these misses come one after another; the
// loops are therefore software-pipelined (as prefetching hash joins are) and ask for each line
// some swaps before they need it, so that the fetches overlap. Any distance from 8 to 32 gives
// about the same on the machines measured; shorter ones leave misses exposed.
namespace detail {
// valueOf[t] and position[t] of the list entry this far ahead.
inline constexpr std::int32_t kTupleLookahead = 16;
// The bucket slot of the entry this far ahead: its position[] line has arrived by then.
inline constexpr std::int32_t kSlotLookahead = 8;
// position[] of the tuple a bucket will trade with this many of its own swaps from now.
inline constexpr std::int32_t kPartnerLookahead = 8;
// The line of a bucket's items this far past the edge of its front, where the partners come
// from: the edge walks through items one slot per swap.
inline constexpr std::int32_t kEdgeLookahead = 64;
}  // namespace detail

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
  // Takes each listed tuple out of the front of its bucket by a swap with the front's last
  // tuple; a value whose front holds only the listed tuple leaves `domain` (this variable's)
  // instead. kCheckDomain: skip tuples whose value is not in `domain`; without it, every listed
  // tuple's value must be in `domain` until the tuple's own turn. Precondition: the listed
  // tuples are distinct and were in their fronts.
  template <bool kCheckDomain>
  void removeFromFronts(std::int32_t total, const std::int32_t* list, Set& domain);
  // Asks for the lines that the swaps of later list entries will touch: the per-tuple lines of
  // entry k + kTupleLookahead and the bucket slot of entry k + kSlotLookahead.
  void prefetchAhead(const std::int32_t* list, std::int32_t k, std::int32_t total) const;

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

inline void VariableSupports::prefetchAhead(const std::int32_t* list, std::int32_t k,
                                            std::int32_t total) const {
  if (k + detail::kTupleLookahead < total) {
    const std::int32_t t = list[k + detail::kTupleLookahead];
    prefetchForRead(valueOf.data() + t);
    prefetchForWrite(position.data() + t);
  }
  if (k + detail::kSlotLookahead < total) {
    const std::int32_t t = list[k + detail::kSlotLookahead];
    prefetchForWrite(buckets.data()[valueOf.data()[t]]->items + position.data()[t]);
  }
}

template <bool kCheckDomain>
inline void VariableSupports::removeFromFronts(std::int32_t total, const std::int32_t* list,
                                               Set& domain) {
  SupportBucket* const* bucketOf = buckets.data();
  std::int32_t* pos = position.data();
  const std::int32_t* value = valueOf.data();
  for (std::int32_t k = 0; k < total; ++k) {
    prefetchAhead(list, k, total);
    const std::int32_t t = list[k];
    const std::int32_t v = value[t];
    if constexpr (kCheckDomain) {
      if (!domain.contains(v)) continue;
    } else {
      VARNEL_ASSERT(domain.contains(v));
    }
    SupportBucket& b = *bucketOf[v];
    const std::int32_t count = b.count;
    if (count > 1) [[likely]] {
      std::int32_t* items = b.items;
      const std::int32_t end = count - 1;
      const std::int32_t last = items[end];
      const std::int32_t at = pos[t];
      b.count = end;
      items[end] = t;
      items[at] = last;
      pos[last] = at;
      pos[t] = end;
      // The front shrinks downwards: its next partners are the tuples just below its edge.
      const std::int32_t partner = end - 1 - detail::kPartnerLookahead;
      prefetchForWrite(pos + items[partner > 0 ? partner : 0]);
      const std::int32_t edge = end - detail::kEdgeLookahead;
      prefetchForRead(items + (edge > 0 ? edge : 0));
    } else {
      // t was v's last valid tuple: every tuple holding v is now invalid, so v's removal has
      // nothing further to propagate and is not recorded as pending.
      domain.remove(v);
    }
  }
}

inline void VariableSupports::refillBuckets(std::int32_t total, const std::int32_t* list) {
  SupportBucket* const* bucketOf = buckets.data();
  std::int32_t* pos = position.data();
  const std::int32_t* value = valueOf.data();
  for (std::int32_t k = 0; k < total; ++k) {
    prefetchAhead(list, k, total);
    const std::int32_t t = list[k];
    SupportBucket& b = *bucketOf[value[t]];
    std::int32_t* items = b.items;
    const std::int32_t end = b.count;
    const std::int32_t other = items[end];
    const std::int32_t at = pos[t];
    items[at] = other;
    items[end] = t;
    pos[other] = at;
    pos[t] = end;
    b.count = end + 1;
    // The front grows upwards: its next partners lie just past its new edge.
    const std::int32_t last = b.capacity - 1;
    const std::int32_t partner = end + 1 + detail::kPartnerLookahead;
    prefetchForWrite(pos + items[partner < last ? partner : last]);
    const std::int32_t edge = end + detail::kEdgeLookahead;
    prefetchForRead(items + (edge < last ? edge : last));
  }
}

}  // namespace varnel
