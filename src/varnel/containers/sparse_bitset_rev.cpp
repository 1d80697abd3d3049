// Storage and invariant check of SparseBitSetRev.
#include "varnel/containers/sparse_bitset_rev.h"

#include "varnel/memory/arrays.h"

namespace varnel {

SparseBitSetRev::SparseBitSetRev(Solver& solver, std::int32_t n)
    : solver_(&solver), universe_(n), wordCount_((n + 63) / 64), limitStamp_(0) {
  VARNEL_ASSERT(n >= 0);
  // One block for the four arrays: a small set (a table of a hundred tuples has two words) then
  // sits in one or two cache lines.
  words_ = allocateArray<std::uint64_t>(blockWords());
  mask_ = words_ + wordCount_;
  wordStamp_ = mask_ + wordCount_;
  index_ = reinterpret_cast<std::int32_t*>(wordStamp_ + wordCount_);
  for (std::int32_t k = 0; k < wordCount_; ++k) {
    words_[k] = ~std::uint64_t{0};
    mask_[k] = 0;
    wordStamp_[k] = 0;
    index_[k] = k;
  }
  if (n % 64 != 0) words_[wordCount_ - 1] = (std::uint64_t{1} << (n % 64)) - 1;
  limit_ = wordCount_ - 1;
}

SparseBitSetRev::~SparseBitSetRev() { freeArray(words_, blockWords()); }

std::uint64_t SparseBitSetRev::blockWords() const {
  const auto words = static_cast<std::uint64_t>(wordCount_);
  return 3 * words + (words + 1) / 2;
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
