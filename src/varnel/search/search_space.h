// SearchSpace: one thread's search state over an instance: its variables, one reversible
// constraint per constraint of the instance (for the tables GAC-4 with resets, TableCtRev, or
// Compact-Table, CompactTableRev, the same for every table of a space; AllDifferentRev for the
// allDifferent ones), and the propagation queue, all recording on one solver.
#pragma once

#include <cstdint>

#include "varnel/search/int_var.h"
#include "varnel/search/model/csp_instance.h"
#include "varnel/search/propagation_queue.h"
#include "varnel/search/propagators/all_different.h"
#include "varnel/search/propagators/compact_table_rev.h"
#include "varnel/search/propagators/table_ct_rev.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class SearchSpace : public Reversible {
 public:
  // Variables with full domains and unposted constraints, in the calling thread's pools. Only
  // reads `instance`, which may be shared with other threads. With `masks` (the instance's, also
  // only read and shared) the tables are Compact-Table constraints over them; without, GAC-4R,
  // which takes positive tables without stars only. `allDifferent` says how the single-list
  // allDifferent constraints filter.
  SearchSpace(Solver& solver, const CspInstance& instance,
              const InstanceSupportMasks* masks = nullptr,
              AllDifferentLevel allDifferent = kDefaultAllDifferentLevel);
  ~SearchSpace() override;

  // Fills every constraint and propagates to the fixpoint: the root's propagation. Once, with
  // no restoration point open (its changes are never undone). False on a wipe-out.
  bool post();
  bool posted() const { return posted_; }
  // True when post() wiped out a domain: the root has no solution, and the space stays so.
  bool rootFailed() const { return rootFailed_; }
  // Propagates the pending changes to the fixpoint. False on a wipe-out.
  bool propagate() { return queue_.run(); }
  // Drops the pending changes without propagating them: for a search that found a failure of
  // its own (a nogood) after decisions it had already scheduled, and is about to pop them.
  void dropPending() { queue_.clear(); }
  // The constraint whose run wiped out a domain in the last propagation (post() included), -1
  // when it reached the fixpoint.
  std::int32_t failedConstraint() const { return queue_.failedConstraint(); }
  // Decisions: x = v, x != v. Precondition: v is in x's domain and, for removeValue, not the
  // last value. Nothing propagates until propagate().
  void assign(std::int32_t x, std::int32_t v);
  void removeValue(std::int32_t x, std::int32_t v);
  // The unassigned variable with the smallest domain, the lowest index on ties; -1 when every
  // variable is assigned.
  std::int32_t selectVariable() const;

  Solver& solver() const { return *solver_; }
  const CspInstance& instance() const { return *instance_; }
  std::int32_t varCount() const { return varCount_; }
  const IntVar& var(std::int32_t x) const { return *vars_[x]; }
  std::int32_t constraintCount() const { return constraintCount_; }
  // True when the tables are Compact-Table constraints.
  bool compactTables() const { return compact_ != nullptr; }
  // Table c, GAC-4R (precondition: !compactTables()) or Compact-Table (compactTables()).
  const TableCtRev& constraint(std::int32_t c) const { return *constraints_[c]; }
  const CompactTableRev& compactTable(std::int32_t c) const { return *compact_[c]; }
  // allDifferent c (precondition: !instance().isTable(c)).
  const AllDifferentRev& allDifferent(std::int32_t c) const { return *allDifferent_[c]; }
  const PropagationQueue& queue() const { return queue_; }

 private:
  Solver* solver_;
  const CspInstance* instance_;
  std::int32_t varCount_;
  std::int32_t constraintCount_;
  IntVar** vars_;
  TableCtRev** constraints_;  // per constraint, null but for GAC-4R tables; null with Compact-Table
  CompactTableRev** compact_;       // per constraint, null but for Compact-Table; null with GAC-4R
  AllDifferentRev** allDifferent_;  // per constraint, null but for allDifferent
  std::int32_t* watcherList_;       // per variable, the constraints over it, side by side
  std::int32_t watcherTotal_;
  PropagationQueue queue_;
  bool posted_;
  bool rootFailed_;
};

// --- Inline definitions ------------------------------------------------------------------

inline void SearchSpace::assign(std::int32_t x, std::int32_t v) {
  IntVar& var = *vars_[x];
  if (var.size() == 1) return;
  var.assign(v);
  queue_.schedule(var);
}

inline void SearchSpace::removeValue(std::int32_t x, std::int32_t v) {
  IntVar& var = *vars_[x];
  var.remove(v);
  queue_.schedule(var);
}

inline std::int32_t SearchSpace::selectVariable() const {
  std::int32_t best = -1;
  std::int32_t bestSize = INT32_MAX;
  for (std::int32_t x = 0; x < varCount_; ++x) {
    const std::int32_t size = vars_[x]->size();
    if (size > 1 && size < bestSize) {
      // Two values is the least an unassigned variable has: no later variable can beat it.
      if (size == 2) return x;
      best = x;
      bestSize = size;
    }
  }
  return best;
}

}  // namespace varnel
