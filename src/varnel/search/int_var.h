// IntVar: an integer variable of a search. Its domain is a sparse set over the value indices
// 0 .. d-1: the members fill the first `size` places of `values`, the removed values follow in
// the order they left, newest first. Removing a value swaps it to the end of the members, so
// the members at a restoration point stay the first `size` places whatever happens after it, and
// restoring `size` alone (one trail entry per point) restores the domain.
#pragma once

#include <cstdint>

#include "varnel/platform/assert.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class IntVar : public Reversible {
 public:
  // Variable number `index` with the full domain 0 .. domainSize-1 (domainSize >= 1), whose
  // changes are recorded on `solver`'s trail.
  IntVar(Solver& solver, std::int32_t index, std::int32_t domainSize);
  ~IntVar() override;

  // True when value index v (0 <= v < initialSize()) is in the domain.
  bool contains(std::int32_t v) const;
  // Number of values left; 0 after a wipe-out, 1 once assigned.
  std::int32_t size() const { return size_; }
  // True when one value is left.
  bool assigned() const { return size_ == 1; }
  // Domain size at construction.
  std::int32_t initialSize() const { return domainSize_; }
  // The value in place k (0 <= k < initialSize()): a member for k < size(); from size() on,
  // the removed values, the most recently removed first.
  std::int32_t at(std::int32_t k) const { return values_[k]; }
  // The smallest value index in the domain. Precondition: size() >= 1.
  std::int32_t minValue() const;
  // Variable number, the order of lowest-index ties.
  std::int32_t index() const { return index_; }

  // Removes v. Precondition: contains(v). Records `size` at most once per restoration point.
  // A pop does not lower the stamp, so nothing may change the variable between a pop and the
  // next push (the search never does): such a change would not be recorded.
  void remove(std::int32_t v);
  // Keeps v alone. Precondition: contains(v).
  void assign(std::int32_t v);

  // The numbers of the constraints over this variable, to wake when its domain shrinks (set by
  // the space that owns both).
  void setWatchers(const std::int32_t* watchers, std::int32_t count) {
    watchers_ = watchers;
    watcherCount_ = count;
  }
  const std::int32_t* watchers() const { return watchers_; }
  std::int32_t watcherCount() const { return watcherCount_; }

 private:
  void saveSize();

  Solver* solver_;
  std::int32_t* values_;    // members first, then removed values
  std::int32_t* position_;  // position_[v]: where v stands in values_
  std::int32_t size_;
  std::int32_t domainSize_;
  std::int32_t index_;
  std::int32_t watcherCount_;
  std::uint64_t stamp_;  // solver timestamp at which `size` was last recorded
  const std::int32_t* watchers_;
};

// --- Inline definitions ------------------------------------------------------------------

inline bool IntVar::contains(std::int32_t v) const {
  VARNEL_ASSERT(v >= 0 && v < domainSize_);
  return position_[v] < size_;
}

inline std::int32_t IntVar::minValue() const {
  VARNEL_ASSERT(size_ >= 1);
  std::int32_t best = values_[0];
  for (std::int32_t k = 1; k < size_; ++k) best = values_[k] < best ? values_[k] : best;
  return best;
}

inline void IntVar::saveSize() {
  if (stamp_ < solver_->timestamp) {
    stamp_ = solver_->timestamp;
    solver_->trail->recordInt(&size_);
  }
}

inline void IntVar::remove(std::int32_t v) {
  VARNEL_ASSERT(contains(v));
  saveSize();
  const std::int32_t last = size_ - 1;
  const std::int32_t at = position_[v];
  const std::int32_t other = values_[last];
  values_[at] = other;
  position_[other] = at;
  values_[last] = v;
  position_[v] = last;
  size_ = last;
}

inline void IntVar::assign(std::int32_t v) {
  VARNEL_ASSERT(contains(v));
  saveSize();
  const std::int32_t at = position_[v];
  const std::int32_t other = values_[0];
  values_[at] = other;
  position_[other] = at;
  values_[0] = v;
  position_[v] = 0;
  size_ = 1;
}

}  // namespace varnel
