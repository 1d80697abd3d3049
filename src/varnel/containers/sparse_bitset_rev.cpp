// Storage and invariant check of SparseBitSetRev.
#include "varnel/containers/sparse_bitset_rev.h"

#include "varnel/memory/arrays.h"

namespace varnel {

SparseBitSetRev::SparseBitSetRev(Solver& solver, std::int32_t n)
    : solver_(&solver), universe_(n), wordCount_((n + 63) / 64), limitStamp_(0) {
  VARNEL_ASSERT(n >= 0);
  const auto words = static_cast<std::uint64_t>(wordCount_);
  words_ = allocateArray<std::uint64_t>(words);
  mask_ = allocateArray<std::uint64_t>(words);
  wordStamp_ = allocateArray<std::uint64_t>(words);
  index_ = allocateArray<std::int32_t>(words);
  for (std::int32_t k = 0; k < wordCount_; ++k) {
    words_[k] = ~std::uint64_t{0};
    mask_[k] = 0;
    wordStamp_[k] = 0;
    index_[k] = k;
  }
  if (n % 64 != 0) words_[wordCount_ - 1] = (std::uint64_t{1} << (n % 64)) - 1;
  limit_ = wordCount_ - 1;
}

SparseBitSetRev::~SparseBitSetRev() {
  const auto words = static_cast<std::uint64_t>(wordCount_);
  freeArray(index_, words);
  freeArray(wordStamp_, words);
  freeArray(mask_, words);
  freeArray(words_, words);
}

bool SparseBitSetRev::audit() const {
  if (limit_ < -1 || limit_ >= wordCount_) return false;
  const auto words = static_cast<std::uint64_t>(wordCount_);
  auto* seen = allocateArray<std::uint8_t>(words);
  for (std::int32_t k = 0; k < wordCount_; ++k) seen[k] = 0;
  bool ok = universe_ % 64 == 0 || (words_[wordCount_ - 1] >> (universe_ % 64)) == 0;
  for (std::int32_t k = 0; k < wordCount_ && ok; ++k) {
    const std::int32_t offset = index_[k];
    ok = offset >= 0 && offset < wordCount_ && seen[offset] == 0 &&
         (words_[offset] != 0) == (k <= limit_);
    if (ok) seen[offset] = 1;
  }
  freeArray(seen, words);
  return ok;
}

}  // namespace varnel
