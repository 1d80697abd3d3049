// PropagationQueue: the constraints whose variables lost values and that have not run since,
// each queued once, run first in first out until none is left (the fixpoint) or a domain is
// wiped out. Each constraint has a kind tag (GAC-4R, Compact-Table over supports or conflicts,
// allDifferent) and the run loop switches on it, so no call in it is virtual; a queue whose
// constraints are all of one table kind runs a loop written for that kind alone.
#pragma once

#include <cstdint>

#include "varnel/search/int_var.h"

namespace varnel {

class TableCtRev;
class CompactTableRev;
class AllDifferentRev;

// What runs a constraint of a queue.
enum class PropagatorKind : std::uint8_t {
  kGac4r,           // TableCtRev
  kCompactTable,    // CompactTableRev over a supports table
  kConflictsTable,  // CompactTableRev over a conflicts table
  kAllDifferent,    // AllDifferentRev
};

class PropagationQueue {
 public:
  // A queue over `count` constraints, numbered 0 .. count-1, each given by setConstraint
  // before the first run (not owned).
  explicit PropagationQueue(std::int32_t count);
  // A queue over the `count` tables of `constraints`, numbered in that order.
  PropagationQueue(TableCtRev* const* constraints, std::int32_t count);
  PropagationQueue(CompactTableRev* const* constraints, std::int32_t count);
  ~PropagationQueue();

  // Constraint c is `constraint`.
  void setConstraint(std::int32_t c, TableCtRev* constraint);
  void setConstraint(std::int32_t c, CompactTableRev* constraint);
  void setConstraint(std::int32_t c, AllDifferentRev* constraint);

  // Queues every constraint over `var` that is neither queued nor the one running.
  void schedule(const IntVar& var);
  // Queues constraint c unless it is already queued.
  void push(std::int32_t c);
  // Runs the queued constraints until the queue is empty. False when a domain was wiped out;
  // the queue is then emptied without running the rest.
  bool run();
  // The constraint whose run wiped out a domain in the last run() (or the one noted by
  // noteFailure), -1 when it reached the fixpoint: what dom/wdeg weighs.
  std::int32_t failedConstraint() const { return failed_; }
  // Records that constraint c failed outside run() (its post).
  void noteFailure(std::int32_t c) { failed_ = c; }
  // Empties the queue.
  void clear();

  bool empty() const { return count_ == 0; }
  // Constraint runs since construction.
  std::uint64_t runs() const { return runs_; }
  PropagationQueue(const PropagationQueue&) = delete;
  PropagationQueue& operator=(const PropagationQueue&) = delete;

 private:
  void setKind(std::int32_t c, PropagatorKind kind, void* constraint);
  // The loop for a queue of `Constraint`s alone, and the one for mixed kinds.
  template <class Constraint>
  bool runAll();
  bool runMixed();
  bool runOne(std::int32_t c);

  void** constraints_;       // per constraint
  PropagatorKind* kinds_;    // per constraint
  std::uint32_t kindsSeen_;  // bit per PropagatorKind present
  std::int32_t* ring_;       // capacity_ entries, a power of two
  std::uint8_t* queued_;     // per constraint: 1 while in the ring
  std::int32_t constraintCount_;
  std::int32_t capacity_;
  std::int32_t head_;
  std::int32_t count_;
  std::int32_t running_;  // the constraint being run, -1 between runs
  std::int32_t failed_;   // the constraint that failed the last run(), -1 when none did
  std::uint64_t runs_;
};

// --- Inline definitions ------------------------------------------------------------------

inline void PropagationQueue::push(std::int32_t c) {
  if (queued_[c]) return;
  queued_[c] = 1;
  ring_[(head_ + count_) & (capacity_ - 1)] = c;
  ++count_;
}

inline void PropagationQueue::schedule(const IntVar& var) {
  const std::int32_t* watchers = var.watchers();
  for (std::int32_t k = 0; k < var.watcherCount(); ++k) {
    const std::int32_t c = watchers[k];
    if (c != running_) push(c);
  }
}

}  // namespace varnel
