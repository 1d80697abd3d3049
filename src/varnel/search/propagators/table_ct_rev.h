// TableCtRev: the table constraint of a search. GAC-4 with resets (Perez and Régin, "Improving
// GAC-4 for Table and MDD Constraints", CP 2014) over shared IntVars, whose support buckets come
// back exactly when a restoration point is popped.
//
// Each (position, value) has a bucket holding every tuple with that value; its first `count`
// entries (the front) are the tuples still valid. Only the counts are recorded on the trail, at
// most once per bucket and point. That is enough because, between a push and its pop, every
// move inside a bucket is a permutation of the places [0, count at the push): taking a tuple out
// of the front swaps it with the front's last tuple, and a reset, which rebuilds every front from
// the tuples that stay valid, only swaps listed tuples (all inside their fronts) with places
// below the new count, which is no larger than the old one. So the front at the push is still
// the first `count at the push` places as a set, only its order changes, and restoring the
// count restores it. A reset therefore costs no extra trail entries beyond the counts it zeroes
// (one per live bucket at most, once per point), and needs no restriction on where it happens.
//
// The values a constraint has not yet propagated are read from its variables' sparse sets: the
// values that left variable i since the constraint last looked are the places [size, lastSize)
// of its domain, where lastSize, recorded like a count, is the size the constraint last saw.
// Values the constraint removes itself are not propagated again: they lost their last valid
// tuple, so there is nothing left of them to take out of other buckets.
#pragma once

#include <cstdint>

#include "varnel/platform/assert.h"
#include "varnel/search/int_var.h"
#include "varnel/search/propagation_queue.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class TableCtRev : public Reversible {
 public:
  // Below this many tuples to delete, propagation never resets.
  static constexpr std::int64_t kResetThreshold = 10;

  // A constraint over `scope` (arity distinct variables) allowing the numTuples rows of `tuples`
  // (row-major, each entry a value index of its variable, in range). Buckets are not filled
  // until post(). `tuples` is copied; nothing keeps it.
  TableCtRev(Solver& solver, std::int32_t number, IntVar* const* scope, std::int32_t arity,
             const std::int32_t* tuples, std::int32_t numTuples);
  ~TableCtRev() override;

  // Fills the buckets with the tuples valid in the current domains and removes the values left
  // without one, waking the other constraints on them. Once, before any propagate(). False
  // when a domain is wiped out.
  bool post(PropagationQueue& queue);
  // Takes the tuples holding values that left the domains since the last run out of every
  // front (incrementally, or by a reset when cheaper) and removes the values left without a
  // valid tuple, waking the other constraints on their variables. False when a domain is
  // wiped out; the constraint is then left half-way, for the pop that follows to restore.
  bool propagate(PropagationQueue& queue);

  std::int32_t number() const { return number_; }
  std::int32_t arity() const { return arity_; }
  std::int32_t tupleCount() const { return numTuples_; }
  IntVar& var(std::int32_t i) const { return *scope_[i]; }
  // The front of the bucket of value v at position i: its valid tuples (count() entries).
  const std::int32_t* front(std::int32_t i, std::int32_t v) const {
    return items_ + start_[valueBase_[i] + v];
  }
  std::int32_t count(std::int32_t i, std::int32_t v) const { return count_[valueBase_[i] + v]; }
  // The value index of tuple t at position i.
  std::int32_t valueOf(std::int32_t i, std::int32_t t) const {
    return valueOf_[std::int64_t(i) * numTuples_ + t];
  }
  // The domain size of position i that the constraint last saw.
  std::int32_t lastSize(std::int32_t i) const { return lastSize_[i]; }
  // Runs of propagate and how many of them reset.
  std::uint64_t propagateCount() const { return propagateCount_; }
  std::uint64_t resetCount() const { return resetCount_; }

 private:
  // Records bucket b's count once per restoration point, then writes it.
  void setCount(std::int32_t b, std::int32_t value);
  void setLastSize(std::int32_t i, std::int32_t value);
  // Removes v from the variable at position i on the constraint's own account.
  bool removeOwn(std::int32_t i, std::int32_t v);
  bool resetFrom(std::int32_t x);
  std::int32_t gatherOne();
  std::int32_t gatherSeveral();
  // Takes the listed tuples out of the fronts of every position but `skip` (-1: none).
  bool removeTuples(std::int32_t total, std::int32_t skip);
  // Wakes the other constraints on every variable this run removed values from.
  void finish(PropagationQueue& queue);
  // Forgets the run's own removals after a wipe-out; returns false.
  bool fail();

  Solver* solver_;
  IntVar** scope_;
  std::int32_t number_;
  std::int32_t arity_;
  std::int32_t numTuples_;
  std::int32_t bucketCount_;   // sum of the positions' initial domain sizes
  std::int32_t* valueBase_;    // arity + 1: bucket number of (i, 0)
  std::int32_t* start_;        // per bucket: its first place in items_
  std::int32_t* count_;        // per bucket: size of the front
  std::uint64_t* countStamp_;  // per bucket: timestamp of the last recording of its count
  std::int32_t* items_;        // arity x numTuples: position i's buckets side by side
  std::int32_t* place_;        // arity x numTuples: place of tuple t in items_ for position i
  std::int32_t* valueOf_;      // arity x numTuples: value index of tuple t at position i
  std::int32_t* lastSize_;     // per position
  std::uint64_t* lastStamp_;   // per position
  // Scratch of one run, never restored.
  std::int32_t* tupleBuffer_;   // numTuples
  std::uint32_t* gatherMarks_;  // numTuples
  std::int32_t* pending_;       // positions with values to propagate
  std::int32_t* deltaFrom_;     // per position: the pending values are places
  std::int32_t* deltaTo_;       //   [deltaFrom, deltaTo) of its domain
  std::uint8_t* changed_;       // per position: this run removed values there
  std::int32_t pendingCount_;
  std::uint32_t gatherEpoch_;
  std::uint64_t propagateCount_;
  std::uint64_t resetCount_;
};

// --- Inline definitions ------------------------------------------------------------------

inline void TableCtRev::setCount(std::int32_t b, std::int32_t value) {
  recordIntOnce(*solver_, &count_[b], &countStamp_[b]);
  count_[b] = value;
}

inline void TableCtRev::setLastSize(std::int32_t i, std::int32_t value) {
  recordIntOnce(*solver_, &lastSize_[i], &lastStamp_[i]);
  lastSize_[i] = value;
}

inline bool TableCtRev::removeOwn(std::int32_t i, std::int32_t v) {
  IntVar& var = *scope_[i];
  var.remove(v);
  changed_[i] = 1;
  return var.size() > 0;
}

inline std::int32_t TableCtRev::gatherOne() {
  const std::int32_t p = pending_[0];
  const IntVar& var = *scope_[p];
  const std::int32_t base = valueBase_[p];
  std::int32_t* out = tupleBuffer_;
  std::int32_t total = 0;
  for (std::int32_t k = deltaFrom_[p]; k < deltaTo_[p]; ++k) {
    const std::int32_t b = base + var.at(k);
    const std::int32_t* items = items_ + start_[b];
    const std::int32_t n = count_[b];
    for (std::int32_t j = 0; j < n; ++j) out[total + j] = items[j];
    total += n;
  }
  return total;
}

inline bool TableCtRev::removeTuples(std::int32_t total, std::int32_t skip) {
  const std::int32_t* list = tupleBuffer_;
  for (std::int32_t i = 0; i < arity_; ++i) {
    if (i == skip) continue;
    IntVar& var = *scope_[i];
    const std::int32_t base = valueBase_[i];
    const std::int32_t* valueOf = valueOf_ + std::int64_t(i) * numTuples_;
    std::int32_t* place = place_ + std::int64_t(i) * numTuples_;
    for (std::int32_t k = 0; k < total; ++k) {
      const std::int32_t t = list[k];
      const std::int32_t v = valueOf[t];
      if (!var.contains(v)) continue;
      const std::int32_t b = base + v;
      const std::int32_t n = count_[b];
      if (n > 1) {
        // t leaves the front by a swap with the front's last tuple.
        const std::int32_t end = start_[b] + n - 1;
        const std::int32_t last = items_[end];
        const std::int32_t at = place[t];
        setCount(b, n - 1);
        items_[end] = t;
        items_[at] = last;
        place[last] = at;
        place[t] = end;
      } else if (!removeOwn(i, v)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace varnel
