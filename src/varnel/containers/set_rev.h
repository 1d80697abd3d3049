// SetRev: the reversible Set. Two logs (elements linked, elements unlinked) record every change;
// a popped restoration point replays them backwards in the set's own arrays.
#pragma once

#include <cstdint>

#include "varnel/containers/set.h"
#include "varnel/containers/succession_int_rev.h"
#include "varnel/platform/assert.h"
#include "varnel/solver/solver.h"

namespace varnel {

class SetRev final : public Set {
 public:
  // An empty set over 0 .. n-1 whose changes are recorded on `solver`'s trail.
  SetRev(Solver& solver, std::int32_t n);
  // Destroys `removed`, then `added`, then the Set part.
  ~SetRev() override = default;

  void save(Solver& solver) override { saveObject(*this, solver); }
  // Registers the set on the trail at most once per restoration point.
  void saveOnce(Solver& solver) override { saveObjectOnce(*this, stamp_, solver); }
  // Undoes the changes logged since the last snapshot: relinks the removed elements, newest
  // first, then unlinks the added ones, newest first.
  void restore() override;
  // Records the log marks on the trail (one 64-bit entry), then marks the current log sizes,
  // so that each restoration point undoes only what was logged since it was pushed.
  void snapshot() override;

  // Links x at the end. Precondition: x is not a member and was not unlinked since the last
  // restoration of the set (the logs undo removals before additions).
  void pushBack(std::int32_t x);
  // Links x before the first member. Same precondition as pushBack.
  void pushFront(std::int32_t x);
  // Unlinks the last member. Precondition: not empty.
  void popBack();
  // Unlinks the first member. Precondition: not empty.
  void popFront();
  // Back to a fresh SetRev: empty set, empty logs, stamps 0.
  void clear();

  // Updates that the logs cannot undo are not offered.
  void insert(std::int32_t) = delete;
  void remove(std::int32_t) = delete;
  void fill() = delete;

  // Elements linked since the logs were last emptied, oldest first.
  const SuccessionIntRev& added() const { return added_; }
  // Elements unlinked since the logs were last emptied, oldest first.
  const SuccessionIntRev& removed() const { return removed_; }
  // The solver timestamp at which the set last registered on the trail.
  std::uint64_t stamp() const { return stamp_; }
  // Sizes of the logs at the set's last registration: where the next restore stops.
  std::int32_t addedMark() const { return static_cast<std::int32_t>(logMarks_ & 0xFFFFFFFF); }
  std::int32_t removedMark() const { return static_cast<std::int32_t>(logMarks_ >> 32); }
  // The solver the set records its changes on.
  Solver& solver() const { return added_.solver(); }

  // Checks the full invariants (chain, size, log marks); true when they hold.
  bool audit() const;

 private:
  void unlinkWithLogMark(std::int32_t x);

  SuccessionIntRev added_;
  SuccessionIntRev removed_;
  std::uint64_t stamp_;
  // The two log marks in one word (added in the low half, removed in the high half), so that a
  // registration costs one field entry on the trail rather than two.
  std::int64_t logMarks_;
};

// --- Inline definitions ------------------------------------------------------------------

inline void SetRev::pushBack(std::int32_t x) {
  VARNEL_ASSERT(!contains(x));
  SetRev::saveOnce(added_.solver());
  linkAtEnd(x);
  added_.appendUnchecked(x);
}

inline void SetRev::pushFront(std::int32_t x) {
  VARNEL_ASSERT(x >= 0 && x < universe_ && !contains(x));
  SetRev::saveOnce(added_.solver());
  const std::int32_t p = universe_;
  const std::int32_t s = next_[p];
  prev_[x] = p;
  next_[x] = s;
  next_[p] = x;
  prev_[s] = x;
  ++size_;
  added_.appendUnchecked(x);
}

inline void SetRev::unlinkWithLogMark(std::int32_t x) {
  const std::int32_t p = prev_[x];
  const std::int32_t s = next_[x];
  next_[p] = s;
  prev_[s] = p;
  // The complement of the log position: negative, so x reads as a non-member.
  next_[x] = ~removed_.size();
  --size_;
  removed_.appendUnchecked(x);
}

inline void SetRev::popBack() {
  VARNEL_ASSERT(size_ > 0);
  const std::int32_t x = prev_[universe_];
  SetRev::saveOnce(added_.solver());
  unlinkWithLogMark(x);
}

inline void SetRev::popFront() {
  VARNEL_ASSERT(size_ > 0);
  const std::int32_t x = next_[universe_];
  SetRev::saveOnce(added_.solver());
  unlinkWithLogMark(x);
}

}  // namespace varnel
