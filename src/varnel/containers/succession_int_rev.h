// SuccessionIntRev: a SuccessionInt whose size comes back when a restoration point is popped.
// Suited to append-only use: elements are never restored one by one.
#pragma once

#include <cstdint>

#include "varnel/containers/succession_int.h"
#include "varnel/solver/solver.h"

namespace varnel {

template <class T>
class SuccessionRev final : public Succession<T> {
 public:
  // Empty, with room for `capacity` elements, recorded on `solver`'s trail when changed.
  SuccessionRev(std::int32_t capacity, Solver& solver);

  void save(Solver& solver) override { saveObject(*this, solver); }
  void saveOnce(Solver& solver) override { saveObjectOnce(*this, stamp_, solver); }
  // size = savedSize. The stamp drops to 0 so that the next change registers again: the
  // timestamp does not go down on a pop, and a change made at the enclosing point after this
  // one was popped must be recorded there.
  void restore() override {
    this->size_ = this->savedSize_;
    stamp_ = 0;
  }
  // Records savedSize on the trail, then savedSize = size.
  void snapshot() override;

  // Saves once at the current restoration point, then appends with doubling.
  void pushBack(T v);

  // Empties the sequence and forgets its saves: size, savedSize and stamp 0.
  void reset();

  Solver& solver() const { return *solver_; }
  std::uint64_t stamp() const { return stamp_; }

 private:
  Solver* solver_;
  std::uint64_t stamp_;
};

using SuccessionIntRev = SuccessionRev<std::int32_t>;
using SuccessionInt64Rev = SuccessionRev<std::int64_t>;

// --- Inline definitions ------------------------------------------------------------------

template <class T>
SuccessionRev<T>::SuccessionRev(std::int32_t capacity, Solver& solver)
    : Succession<T>(capacity), solver_(&solver), stamp_(0) {}

template <class T>
inline void SuccessionRev<T>::snapshot() {
  solver_->trail->recordInt(&this->savedSize_);
  this->savedSize_ = this->size_;
}

template <class T>
inline void SuccessionRev<T>::pushBack(T v) {
  saveOnce(*solver_);
  Succession<T>::pushBack(v);
}

template <class T>
inline void SuccessionRev<T>::reset() {
  this->size_ = 0;
  this->savedSize_ = 0;
  stamp_ = 0;
}

}  // namespace varnel
