// Construction, clearing and filling of Set.
#include "varnel/containers/set.h"

namespace varnel {

Set::Set(std::int32_t n)
    : next_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(n) + 1)),
      prev_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(n) + 1)),
      universe_(n),
      size_(0) {
  VARNEL_ASSERT(n >= 0);
  clear();
}

Set::~Set() {
  freeArray(next_, static_cast<std::uint64_t>(universe_) + 1);
  freeArray(prev_, static_cast<std::uint64_t>(universe_) + 1);
  next_ = nullptr;
  prev_ = nullptr;
}

void Set::clear() {
  for (std::int32_t x = 0; x < universe_; ++x) {
    next_[x] = 0;
    prev_[x] = -1;
  }
  prev_[universe_] = universe_;
  next_[universe_] = universe_;
  size_ = 0;
}

void Set::fill() {
  for (std::int32_t x = 0; x < universe_; ++x) {
    if (prev_[x] < 0) linkAtEnd(x);
  }
}

}  // namespace varnel
