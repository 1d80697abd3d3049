// Construction, restoration and clearing of SetRev.
#include "varnel/containers/set_rev.h"

namespace varnel {

SetRev::SetRev(Solver& solver, std::int32_t n)
    : Set(n), added_(n, solver), removed_(n, solver), stamp_(0), logMarks_(0) {}

void SetRev::snapshot() {
  added_.solver().trail->recordInt64(&logMarks_);
  logMarks_ = static_cast<std::int64_t>(static_cast<std::uint64_t>(removed_.size()) << 32 |
                                        static_cast<std::uint32_t>(added_.size()));
}

void SetRev::restore() {
  const std::int32_t removedMark = this->removedMark();
  const std::int32_t addedMark = this->addedMark();
  const std::int32_t* removedLog = removed_.data();
  const std::int32_t* addedLog = added_.data();
  // Each removed element goes back right after its former predecessor. Newest first, the
  // predecessor is a member again by the time its successor is relinked.
  for (std::int32_t k = removed_.size() - 1; k >= removedMark; --k) {
    const std::int32_t x = removedLog[k];
    const std::int32_t p = prev_[x];
    const std::int32_t s = next_[p];
    next_[x] = s;
    next_[p] = x;
    prev_[s] = x;
  }
  for (std::int32_t k = added_.size() - 1; k >= addedMark; --k) {
    const std::int32_t x = addedLog[k];
    const std::int32_t p = prev_[x];
    const std::int32_t s = next_[x];
    next_[p] = s;
    prev_[s] = p;
    prev_[x] = -1;
  }
  size_ += (removed_.size() - removedMark) - (added_.size() - addedMark);
  removed_.truncate(removedMark);
  added_.truncate(addedMark);
  // The registration that brought us here belonged to a point that is now closed: the next
  // change must register again, whatever the solver's timestamp says.
  stamp_ = 0;
}

void SetRev::clear() {
  Set::clear();
  added_.reset();
  removed_.reset();
  stamp_ = 0;
  logMarks_ = 0;
}

bool SetRev::audit() const {
  const std::int32_t n = universe_;
  std::int32_t count = 0;
  std::int32_t before = n;
  for (std::int32_t x = next_[n]; x != n; x = next_[x]) {
    if (x < 0 || x >= n || prev_[x] != before || ++count > size_) return false;
    before = x;
  }
  if (prev_[n] != before || count != size_) return false;
  for (std::int32_t k = 0; k < removed_.size(); ++k) {
    if (next_[removed_[k]] != ~k) return false;
  }
  return addedMark() >= 0 && addedMark() <= added_.size() && removedMark() >= 0 &&
         removedMark() <= removed_.size() && added_.size() <= n && removed_.size() <= n;
}

}  // namespace varnel
