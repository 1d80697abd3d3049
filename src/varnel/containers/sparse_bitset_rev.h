// SparseBitSetRev: a reversible sparse bitset (Demeulenaere, Hartert, Lecoutre, Perez, Perron,
// Régin and Schaus, "Compact-Table: Efficiently Filtering Table Constraints with Reversible
// Sparse Bit-Sets", CP 2016). Elements only ever leave it between a push and its pop.
//
// The words are 64-bit; `index` lists the offsets of the words, the non-zero ones first: the
// live words are index[0 .. limit]. A word that becomes zero is swapped behind the live ones and
// the limit drops, so the live words at a restoration point stay the first `limit at the push`
// places whatever happens after it: restoring the limit and the words that changed restores the
// set, and nothing else is recorded. Each word and the limit are recorded at most once per
// restoration point (their stamps against the solver's timestamp). A pop does not lower the
// stamps, so nothing may change the set between a pop and the next push (a search never does):
// such a change would not be recorded.
//
// A scratch mask, one word per word of the set, is built by the operations below (only over the
// live words) and then intersected with the set: the paper's clearMask, reverseMask, addToMask
// and intersectWithMask.
#pragma once

#include <cstdint>

#include "varnel/platform/assert.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class SparseBitSetRev : public Reversible {
 public:
  // The full set 0 .. n-1 (n >= 0), whose changes are recorded on `solver`'s trail.
  SparseBitSetRev(Solver& solver, std::int32_t n);
  ~SparseBitSetRev() override;

  // Universe size and number of words.
  std::int32_t universe() const { return universe_; }
  std::int32_t wordCount() const { return wordCount_; }
  // True when no element is left.
  bool empty() const { return limit_ < 0; }
  // Number of non-zero words, and the offset of the k-th of them (k < liveWordCount()).
  std::int32_t liveWordCount() const { return limit_ + 1; }
  std::int32_t liveWord(std::int32_t k) const { return index_[k]; }
  // The word at `offset` (0 <= offset < wordCount()).
  std::uint64_t word(std::int32_t offset) const { return words_[offset]; }
  const std::uint64_t* words() const { return words_; }
  bool contains(std::int32_t e) const;

  // The scratch mask: zero on every live word; its complement on every live word; or `m`
  // (a wordCount()-word mask) added on every live word.
  void clearMask();
  void reverseMask();
  void addToMask(const std::uint64_t* m);
  // Keeps only the elements in the mask (on the live words). True when the set changed.
  bool intersectWithMask();
  // Keeps only the elements of `m` (wordCount() words), or removes them: the mask operations
  // above in one pass when the mask is a single one.
  bool intersectWith(const std::uint64_t* m) { return keepWords<false>(m); }
  bool subtract(const std::uint64_t* m) { return keepWords<true>(m); }
  // Keeps only the elements of w in the word at `offset`: w is not zero and holds no element
  // missing there, so the word stays live. For a caller that computed the word itself.
  void narrowWord(std::int32_t offset, std::uint64_t w);
  // The offset of a live word sharing an element with `m`, or -1 when the set and m are
  // disjoint.
  std::int32_t intersectIndex(const std::uint64_t* m) const;

  // True when the invariants hold: index a permutation of the offsets, the live words non-zero
  // and the others zero, no bit at or above the universe.
  bool audit() const;

 private:
  // words &= m, or words &= ~m, over the live words; the words that become zero leave the index.
  template <bool kComplement>
  bool keepWords(const std::uint64_t* m);
  void saveWord(std::int32_t offset);
  void saveLimit();
  // Size of the block holding words_, mask_, wordStamp_ and index_, in 64-bit words.
  std::uint64_t blockWords() const;

  Solver* solver_;
  std::uint64_t* words_;
  std::uint64_t* mask_;
  std::uint64_t* wordStamp_;
  std::int32_t* index_;
  std::int32_t universe_;
  std::int32_t wordCount_;
  std::int32_t limit_;
  std::uint64_t limitStamp_;
};

// --- Inline definitions ------------------------------------------------------------------

inline bool SparseBitSetRev::contains(std::int32_t e) const {
  VARNEL_ASSERT(e >= 0 && e < universe_);
  return (words_[e >> 6] >> (e & 63)) & 1;
}

inline void SparseBitSetRev::saveWord(std::int32_t offset) {
  if (wordStamp_[offset] < solver_->timestamp) {
    wordStamp_[offset] = solver_->timestamp;
    solver_->trail->recordInt64(reinterpret_cast<std::int64_t*>(&words_[offset]));
  }
}

inline void SparseBitSetRev::saveLimit() { recordIntOnce(*solver_, &limit_, &limitStamp_); }

inline void SparseBitSetRev::clearMask() {
  for (std::int32_t k = 0; k <= limit_; ++k) mask_[index_[k]] = 0;
}

inline void SparseBitSetRev::reverseMask() {
  for (std::int32_t k = 0; k <= limit_; ++k) mask_[index_[k]] = ~mask_[index_[k]];
}

inline void SparseBitSetRev::addToMask(const std::uint64_t* m) {
  for (std::int32_t k = 0; k <= limit_; ++k) {
    const std::int32_t offset = index_[k];
    mask_[offset] |= m[offset];
  }
}

template <bool kComplement>
inline bool SparseBitSetRev::keepWords(const std::uint64_t* m) {
  bool changed = false;
  // From the last live word down, so that a word swapped in from the limit is already done.
  for (std::int32_t k = limit_; k >= 0; --k) {
    const std::int32_t offset = index_[k];
    const std::uint64_t w = words_[offset] & (kComplement ? ~m[offset] : m[offset]);
    if (w == words_[offset]) continue;
    changed = true;
    saveWord(offset);
    words_[offset] = w;
    if (w == 0) {
      saveLimit();
      index_[k] = index_[limit_];
      index_[limit_] = offset;
      --limit_;
    }
  }
  return changed;
}

inline void SparseBitSetRev::narrowWord(std::int32_t offset, std::uint64_t w) {
  VARNEL_ASSERT(w != 0 && (w & ~words_[offset]) == 0);
  if (w == words_[offset]) return;
  saveWord(offset);
  words_[offset] = w;
}

inline bool SparseBitSetRev::intersectWithMask() { return keepWords<false>(mask_); }

inline std::int32_t SparseBitSetRev::intersectIndex(const std::uint64_t* m) const {
  for (std::int32_t k = 0; k <= limit_; ++k) {
    const std::int32_t offset = index_[k];
    if ((words_[offset] & m[offset]) != 0) return offset;
  }
  return -1;
}

}  // namespace varnel
