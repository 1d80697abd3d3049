// PropagationQueue: the constraints whose variables lost values and that have not run since,
// each queued once, run first in first out until none is left (the fixpoint) or a domain is
// wiped out. A queue runs constraints of one kind, TableCtRev or CompactTableRev, chosen at
// construction: the run loop is written for each kind, so no call in it is virtual.
#pragma once

#include <cstdint>

#include "varnel/search/int_var.h"

namespace varnel {

class TableCtRev;
class CompactTableRev;

class PropagationQueue {
 public:
  // A queue over `count` constraints, numbered 0 .. count-1 in `constraints` (not owned).
  PropagationQueue(TableCtRev* const* constraints, std::int32_t count);
  PropagationQueue(CompactTableRev* const* constraints, std::int32_t count);
  ~PropagationQueue();

  // Queues every constraint over `var` that is neither queued nor the one running.
  void schedule(const IntVar& var);
  // Queues constraint c unless it is already queued.
  void push(std::int32_t c);
  // Runs the queued constraints until the queue is empty. False when a domain was wiped out;
  // the queue is then emptied without running the rest.
  bool run();
  // Empties the queue.
  void clear();

  bool empty() const { return count_ == 0; }
  // Constraint runs since construction.
  std::uint64_t runs() const { return runs_; }
  // The constraint whose run wiped out a domain in the last run(), -1 when it reached the
  // fixpoint (what dom/wdeg weighs).
  std::int32_t failedConstraint() const { return failed_; }

  PropagationQueue(const PropagationQueue&) = delete;
  PropagationQueue& operator=(const PropagationQueue&) = delete;

 private:
  explicit PropagationQueue(std::int32_t count);
  template <class Constraint>
  bool runAll(Constraint* const* constraints);

  TableCtRev* const* constraints_;         // the GAC-4R constraints, or null
  CompactTableRev* const* compactTables_;  // the Compact-Table constraints, or null
  std::int32_t* ring_;                     // capacity_ entries, a power of two
  std::uint8_t* queued_;                   // per constraint: 1 while in the ring
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
