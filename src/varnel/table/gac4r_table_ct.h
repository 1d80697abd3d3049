// GAC4RTableCt: a table constraint kept generalised-arc-consistent by support counting, GAC-4
// with resets (Perez and Régin, "Improving GAC-4 for Table and MDD Constraints", CP 2014).
// Each value keeps a bucket of its still-valid tuples; removals propagate either incrementally
// (the newly invalid tuples leave the other buckets) or by rebuilding every bucket from the
// tuples that stay valid, whichever touches fewer tuples.
#pragma once

#include <cstdint>
#include <string>

#include "varnel/containers/array.h"
#include "varnel/containers/set.h"
#include "varnel/solver/reversible.h"
#include "varnel/table/support_bucket.h"
#include "varnel/table/tuple_table.h"
#include "varnel/table/variable_supports.h"

namespace varnel {

class GAC4RTableCt : public Reversible {
 public:
  // Below this many tuples to delete, propagation never resets.
  static constexpr std::int64_t kResetThreshold = 10;

  // Domains full (value indices 0 .. d_i - 1 in increasing order), buckets empty, nothing
  // pending. Only reads `table`, which must outlive the constraint and stay unchanged.
  explicit GAC4RTableCt(const TupleTable& table);
  // Returns every block the constraint took to the calling thread's pools. The table is not
  // touched.
  ~GAC4RTableCt() override;

  // Fills every bucket from the table, tuples in increasing order. Once, right after
  // construction.
  void initSupports();
  // Removes from every domain the values whose bucket front is empty. Nothing becomes pending.
  void pruneUnsupported();
  // Records the removal of `value` from the domain of `var`; nothing if it is not there.
  void removeValue(std::int32_t var, std::int32_t value);
  // Invalidates the tuples that hold a pending removal and removes the values left without a
  // valid tuple. Afterwards nothing is pending and the domains are the largest
  // arc-consistent subdomains. Removals may be pending on any number of variables.
  void propagate();

  // The steps of propagate, exposed for inspection.
  // The pending variable whose removals invalidate the most tuples (first pending on ties), if
  // rebuilding from the tuples it keeps is no dearer than deleting; otherwise -1.
  std::int32_t chooseResetVariable() const;
  // Rebuilds every bucket from the tuples whose value for x is still in x's domain.
  void resetFrom(std::int32_t x);
  // Takes the first `total` tuples of the tuple buffer out of every other bucket front; a
  // value losing its last valid tuple leaves its domain. Precondition: the listed tuples are
  // distinct and were valid before the pending removals.
  void removeTuples(std::int32_t total);

  // Number of variables.
  std::int32_t arity() const { return arity_; }
  // The table the constraint was built from.
  const TupleTable& table() const { return *table_; }
  // Current domain of variable i.
  const Set& domain(std::int32_t i) const { return *domains_[i]; }
  // Removals from variable i not yet propagated.
  const Set& delta(std::int32_t i) const { return *deltas_[i]; }
  // Variables with pending removals, in the order they became pending.
  const Set& pendingVariables() const { return pendingVariables_; }
  // Support buckets and per-tuple tables of variable i.
  const VariableSupports& supports(std::int32_t i) const { return *supports_[i]; }
  // Scratch tuple list of propagation (numTuples entries).
  const Array<std::int32_t>& tupleBuffer() const { return tupleBuffer_; }
  // Calls of propagate, and how many of them rebuilt the buckets.
  std::uint64_t propagateCount() const { return propagateCount_; }
  std::uint64_t resetCount() const { return resetCount_; }

  // Checks every invariant that holds between propagations; returns what is broken, or an
  // empty string.
  std::string audit() const;

 private:
  // Copies the fronts of the pending removals' buckets into the tuple buffer and empties the
  // pending sets; returns the number of tuples copied. For one pending variable.
  std::int32_t gatherFromOneVariable();
  // The same for several pending variables, keeping each tuple once.
  std::int32_t gatherFromSeveralVariables();
  // Starts a new gathering round of the tuple marks; clears them on first use and on wrap-around.
  std::uint32_t nextGatherEpoch();
  void clearGatherMarks();

  Array<VariableSupports*> supports_;
  const TupleTable* table_;
  Array<std::int32_t> tupleBuffer_;
  Array<Set*> domains_;
  Array<Set*> deltas_;
  Set pendingVariables_;
  std::int32_t arity_;
  // A tuple whose mark equals the current epoch is already in the tuple buffer. Only the
  // several-variable gathering reads or writes the marks, and it clears them on first use, so
  // the single-variable path never touches these pages.
  Array<std::uint32_t> gatherMarks_;
  std::uint32_t gatherEpoch_;
  std::uint64_t propagateCount_;
  std::uint64_t resetCount_;
};

// --- Inline definitions ------------------------------------------------------------------

inline void GAC4RTableCt::removeValue(std::int32_t var, std::int32_t value) {
  Set& domain = *domains_[var];
  if (!domain.contains(value)) return;
  pendingVariables_.insert(var);
  deltas_[var]->insert(value);
  domain.remove(value);
}

inline void GAC4RTableCt::propagate() {
  ++propagateCount_;
  const std::int32_t x = chooseResetVariable();
  if (x != -1) resetFrom(x);
  // One variable's removed values have disjoint bucket fronts, so a single pending variable
  // gathers every invalid tuple exactly once. With several, a tuple holding removed values of
  // two of them sits in both fronts: gathered twice, it would leave each other bucket twice
  // (pulling a valid tuple out of the front) and could overrun the buffer. That path marks
  // the tuples it has gathered instead; see gatherFromSeveralVariables.
  if (pendingVariables_.size() > 1) {
    removeTuples(gatherFromSeveralVariables());
    return;
  }
  // Every listed tuple holds a removed value of the pending variable, whose own pass would
  // therefore skip them all. Every other variable still has, in its domain, the value of each
  // listed tuple that has not been taken out of its bucket yet (the tuples were valid, and a
  // value leaves only with the last tuple of its front), so its pass needs no domain test.
  const std::int32_t pending = pendingVariables_.first();  // the sentinel when none is
  const std::int32_t total = gatherFromOneVariable();
  const std::int32_t* list = tupleBuffer_.data();
  for (std::int32_t i = 0; i < arity_; ++i) {
    if (i != pending) supports_[i]->removeFromFronts<false>(total, list, *domains_[i]);
  }
}

inline std::int32_t GAC4RTableCt::chooseResetVariable() const {
  std::int64_t best = 0;
  std::int32_t bestVar = 0;
  for (std::int32_t x = pendingVariables_.first(); x != pendingVariables_.sentinel();
       x = pendingVariables_.next(x)) {
    SupportBucket* const* buckets = supports_[x]->buckets.data();
    std::int64_t sum = 0;
    for (const std::int32_t v : *deltas_[x]) sum += buckets[v]->count;
    if (sum > best) {
      best = sum;
      bestVar = x;
    }
  }
  if (best < kResetThreshold) return -1;
  SupportBucket* const* buckets = supports_[bestVar]->buckets.data();
  std::int64_t remaining = 0;
  for (const std::int32_t v : *domains_[bestVar]) remaining += buckets[v]->count;
  return remaining > best ? -1 : bestVar;
}

inline std::int32_t GAC4RTableCt::gatherFromOneVariable() {
  std::int32_t* out = tupleBuffer_.data();
  std::int32_t total = 0;
  const std::int32_t x = pendingVariables_.first();
  if (x == pendingVariables_.sentinel()) return 0;
  Set& delta = *deltas_[x];
  SupportBucket* const* buckets = supports_[x]->buckets.data();
  for (std::int32_t v = delta.first(); v != delta.sentinel();) {
    const SupportBucket& b = *buckets[v];
    const std::int32_t* items = b.items;
    const std::int32_t count = b.count;
    for (std::int32_t k = 0; k < count; ++k) out[total + k] = items[k];
    total += count;
    const std::int32_t following = delta.next(v);
    delta.remove(v);
    v = following;
  }
  pendingVariables_.remove(x);
  return total;
}

inline std::int32_t GAC4RTableCt::gatherFromSeveralVariables() {
  std::int32_t* out = tupleBuffer_.data();
  std::uint32_t* mark = gatherMarks_.data();
  const std::uint32_t epoch = nextGatherEpoch();
  std::int32_t total = 0;
  for (std::int32_t x = pendingVariables_.first(); x != pendingVariables_.sentinel();) {
    Set& delta = *deltas_[x];
    SupportBucket* const* buckets = supports_[x]->buckets.data();
    for (std::int32_t v = delta.first(); v != delta.sentinel();) {
      const SupportBucket& b = *buckets[v];
      const std::int32_t* items = b.items;
      const std::int32_t count = b.count;
      for (std::int32_t k = 0; k < count; ++k) {
        const std::int32_t t = items[k];
        if (mark[t] == epoch) continue;
        mark[t] = epoch;
        out[total++] = t;
      }
      const std::int32_t following = delta.next(v);
      delta.remove(v);
      v = following;
    }
    const std::int32_t following = pendingVariables_.next(x);
    pendingVariables_.remove(x);
    x = following;
  }
  return total;
}

inline std::uint32_t GAC4RTableCt::nextGatherEpoch() {
  if (++gatherEpoch_ == 0) [[unlikely]]
    clearGatherMarks();
  return gatherEpoch_;
}

inline void GAC4RTableCt::removeTuples(std::int32_t total) {
  const std::int32_t* list = tupleBuffer_.data();
  for (std::int32_t i = 0; i < arity_; ++i) {
    supports_[i]->removeFromFronts<true>(total, list, *domains_[i]);
  }
}

}  // namespace varnel
