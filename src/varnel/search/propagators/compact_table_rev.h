// CompactTableRev: a table constraint of a search kept generalised-arc-consistent by Compact-Table
// (Demeulenaere, Hartert, Lecoutre, Perez, Perron, Régin and Schaus, "Compact-Table: Efficiently
// Filtering Table Constraints with Reversible Sparse Bit-Sets", CP 2016), beside TableCtRev.
//
// The tuples still valid are one reversible sparse bitset per constraint (currTable). Each
// (position, value) has a support mask, the bitset of the tuples holding that value there; the
// masks are read-only data of the instance (SupportMasks), built once and shared by every thread.
// A propagation first updates currTable from each variable whose domain shrank since the last
// run (S_val): by the union of the masks of its removed values, reversed (incremental), or of its
// remaining values (reset) when those are fewer; then it checks the values of the unassigned
// variables (S_sup) by a residue (a word where the value last had a valid tuple) or, failing
// that, by a scan of the live words, removing the values left without a valid tuple.
//
// Short and negative tables follow Verhaeghe, Lecoutre and Schaus, "Extending Compact-Table to
// Negative and Short Tables" (AAAI 2017). A short tuple (kStar at some position) stands in the
// mask of every value there; an incremental update takes out only the tuples that hold a
// removed value itself (the strict masks), a reset keeps those matching a remaining value or
// the star (CT*). A conflicts table keeps its forbidden tuples still valid in currTable; a value
// keeps a support while fewer of them hold it than the product of the other domain sizes
// (CT-neg). Its starred tuples are expanded and repeated ones dropped when the masks are built,
// so that every forbidden tuple is counted once.
#pragma once

#include <cstdint>
#include <string>

#include "varnel/containers/sparse_bitset_rev.h"
#include "varnel/platform/assert.h"
#include "varnel/search/int_var.h"
#include "varnel/search/propagation_queue.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class CspInstance;

// The support masks of one table: for each (position i, value v) the bitset of the tuples with
// value v at position i, wordCount() words, the masks of one position side by side.
class SupportMasks : public Reversible {
 public:
  // Empty masks for a table of `numTuples` tuples over `arity` positions of the given initial
  // domain sizes; addTuple fills them. With `stars`, a second set of masks holds only the tuples
  // that name the value itself; `conflicts`: the tuples are the forbidden ones.
  SupportMasks(std::int32_t arity, const std::int32_t* domainSizes, std::int32_t numTuples,
               bool stars = false, bool conflicts = false);
  ~SupportMasks() override;

  // Sets tuple t (its `arity` value indices, each in range, or kStar when the masks have stars)
  // in the masks of its values.
  void addTuple(std::int32_t t, const std::int32_t* row);

  std::int32_t arity() const { return arity_; }
  bool conflicts() const { return conflicts_; }
  std::int32_t tupleCount() const { return numTuples_; }
  std::int32_t wordCount() const { return wordCount_; }
  std::int32_t valueCount(std::int32_t i) const { return valueBase_[i + 1] - valueBase_[i]; }
  // The mask of value v at position i: the tuples holding v or kStar there.
  const std::uint64_t* mask(std::int32_t i, std::int32_t v) const {
    return bits_ + std::int64_t(valueBase_[i] + v) * wordCount_;
  }
  // The tuples holding v itself at position i (the same words as mask() without stars).
  const std::uint64_t* strictMask(std::int32_t i, std::int32_t v) const {
    return strict_ + std::int64_t(valueBase_[i] + v) * wordCount_;
  }
  // Bytes held.
  std::uint64_t bytes() const;

 private:
  friend class CompactTableRev;
  std::int32_t arity_;
  std::int32_t numTuples_;
  std::int32_t wordCount_;
  std::int32_t* valueBase_;  // arity + 1: mask number of (i, 0)
  std::uint64_t* bits_;      // valueBase_[arity] masks of wordCount_ words
  std::uint64_t* strict_;    // as many, or bits_ itself when no tuple holds kStar
  bool conflicts_;
};

// Largest number of forbidden tuples a conflicts table with stars may expand to.
inline constexpr std::int64_t kLargestExpandedConflicts = std::int64_t(1) << 24;

// The support masks of every table of an instance, in constraint order (none for the other
// constraints): built once before any search starts, then only read.
class InstanceSupportMasks : public Reversible {
 public:
  // Precondition: conflictsRefusal(instance) is empty.
  explicit InstanceSupportMasks(const CspInstance& instance);
  ~InstanceSupportMasks() override;

  // Empty when the masks of `instance` can be built; otherwise why not, in a sentence: a
  // conflicts table whose stars expand beyond kLargestExpandedConflicts tuples.
  static std::string conflictsRefusal(const CspInstance& instance);

  // Table c's masks. Precondition: instance.isTable(c).
  const SupportMasks& table(std::int32_t c) const { return *tables_[c]; }
  // Bytes held by every mask.
  std::uint64_t bytes() const;

 private:
  SupportMasks** tables_;
  std::int32_t count_;
};

class CompactTableRev : public Reversible {
 public:
  // A constraint over `scope` (arity distinct variables, initial domain sizes those of `masks`)
  // allowing the tuples of `masks`, which is only read and must outlive the constraint.
  CompactTableRev(Solver& solver, std::int32_t number, IntVar* const* scope,
                  const SupportMasks& masks);
  ~CompactTableRev() override;

  // Keeps the tuples valid in the current domains and removes the values left without one,
  // waking the other constraints on them. Once, before any propagate(). False when a domain is
  // wiped out.
  bool post(PropagationQueue& queue);
  // Takes the tuples holding values that left the domains since the last run out of currTable
  // and removes the values left without a valid tuple, waking the other constraints on their
  // variables. False when no tuple is left; the constraint is then left half-way, for the pop
  // that follows to restore. Precondition: a supports table.
  bool propagate(PropagationQueue& queue);
  // propagate(), compiled in another file: the mixed queue loop calls this, so that the one-kind
  // loop of table-only spaces stays the only caller of propagate and keeps it inlined.
  bool propagateOutOfLine(PropagationQueue& queue);
  // The same for a conflicts table: removes the values whose every tuple in the current domains
  // is forbidden. False when a domain is wiped out.
  bool propagateConflicts(PropagationQueue& queue);
  bool conflicts() const { return masks_->conflicts(); }

  std::int32_t number() const { return number_; }
  std::int32_t arity() const { return arity_; }
  std::int32_t tupleCount() const { return masks_->tupleCount(); }
  IntVar& var(std::int32_t i) const { return *scope_[i]; }
  // currTable: the tuples valid in the domains the constraint last saw.
  const SparseBitSetRev& table() const { return table_; }
  const SupportMasks& masks() const { return *masks_; }
  // The domain size of position i that the constraint last saw.
  std::int32_t lastSize(std::int32_t i) const { return lastSize_[i]; }
  // Runs of propagate, and the updates of currTable made by a reset.
  std::uint64_t propagateCount() const { return propagateCount_; }
  std::uint64_t resetCount() const { return resetCount_; }

 private:
  void setLastSize(std::int32_t i, std::int32_t value);
  // currTable restricted to the domain of position i, given the places [size, lastSize) of its
  // removed values. True when currTable changed.
  bool updateFrom(std::int32_t i);
  // Removes the values of the unassigned variables (but position `skip`, -1: none) that have no
  // valid tuple left, waking the other constraints on each variable that lost some.
  void filterDomains(std::int32_t skip, PropagationQueue& queue);
  // propagate() for a table of 64 tuples or fewer: currTable is one word, kept in a register
  // through the run, and every mask is one word (no residues, no scratch mask).
  bool propagateOneWord(PropagationQueue& queue);
  // Conflicts: one pass over the variables (but `skip`) against the domain sizes the update
  // saw (lastSize); values it removes stay in S_val for the next pass. False on a wipe-out.
  bool filterConflicts(std::int32_t skip, PropagationQueue& queue);
  // Conflicts: updates currTable and filters; `all` checks every variable (the post).
  bool conflictsFixpoint(bool all, PropagationQueue& queue);

  // Size of the block of the per-position and per-value arrays, in 64-bit words.
  std::uint64_t blockWords() const;

  // What a run reads sits together: the masks' pointer, word count and value bases are copied
  // here, and the arrays below share one block, so that a small constraint spans few cache lines.
  Solver* solver_;
  const SupportMasks* masks_;
  const std::uint64_t* bits_;    // the masks' words
  const std::uint64_t* strict_;  // the strict masks' words (bits_ without stars)
  std::int32_t words_;           // words per mask
  std::int32_t arity_;
  std::int32_t valueCount_;  // sum of the initial domain sizes
  std::int32_t number_;
  SparseBitSetRev table_;
  IntVar** scope_;            // per position; the start of the block
  std::uint64_t* lastStamp_;  // per position
  std::int32_t* lastSize_;    // per position
  std::int32_t* shrunk_;      // scratch: the positions of S_val
  std::int32_t* valueBase_;   // arity + 1: mask number of (i, 0)
  std::int32_t* residues_;    // per (position, value): a word offset, never restored
  std::uint64_t propagateCount_;
  std::uint64_t resetCount_;
};

// --- Inline definitions ------------------------------------------------------------------

inline void CompactTableRev::setLastSize(std::int32_t i, std::int32_t value) {
  recordIntOnce(*solver_, &lastSize_[i], &lastStamp_[i]);
  lastSize_[i] = value;
}

inline bool CompactTableRev::updateFrom(std::int32_t i) {
  const IntVar& var = *scope_[i];
  const std::int32_t size = var.size();
  const std::int32_t removed = lastSize_[i] - size;
  const std::int32_t words = words_;
  const std::uint64_t* bits = bits_ + std::int64_t(valueBase_[i]) * words;
  setLastSize(i, size);
  if (removed < size) {
    // Incremental: the tuples of the removed values leave (one mask alone needs no scratch);
    // a tuple with a star here stays.
    const std::uint64_t* strict = strict_ + std::int64_t(valueBase_[i]) * words;
    if (removed == 1) return table_.subtract(strict + std::int64_t(var.at(size)) * words);
    table_.clearMask();
    for (std::int32_t k = size; k < size + removed; ++k) {
      table_.addToMask(strict + std::int64_t(var.at(k)) * words);
    }
    table_.reverseMask();
    return table_.intersectWithMask();
  }
  // Reset: only the tuples of the remaining values stay (an assignment keeps one mask).
  ++resetCount_;
  if (size == 1) return table_.intersectWith(bits + std::int64_t(var.at(0)) * words);
  table_.clearMask();
  for (std::int32_t k = 0; k < size; ++k) table_.addToMask(bits + std::int64_t(var.at(k)) * words);
  return table_.intersectWithMask();
}

inline void CompactTableRev::filterDomains(std::int32_t skip, PropagationQueue& queue) {
  const std::int32_t arity = arity_;
  const std::int32_t words = words_;
  const std::int32_t* valueBase = valueBase_;
  const std::uint64_t* allBits = bits_;
  const std::uint64_t* current = table_.words();
  for (std::int32_t i = 0; i < arity; ++i) {
    IntVar& var = *scope_[i];
    const std::int32_t size = var.size();
    if (i == skip || size == 1) continue;
    const std::uint64_t* bits = allBits + std::int64_t(valueBase[i]) * words;
    std::int32_t* residues = residues_ + valueBase[i];
    // From the last member down: a removal swaps the value with the last member, already seen.
    for (std::int32_t k = size - 1; k >= 0; --k) {
      const std::int32_t v = var.at(k);
      const std::uint64_t* m = bits + std::int64_t(v) * words;
      const std::int32_t residue = residues[v];
      if ((current[residue] & m[residue]) != 0) continue;
      const std::int32_t found = table_.intersectIndex(m);
      if (found >= 0) {
        residues[v] = found;
      } else {
        var.remove(v);
      }
    }
    if (var.size() != size) {
      // currTable is not empty, so each variable keeps the values of its valid tuples.
      VARNEL_ASSERT(var.size() > 0);
      setLastSize(i, var.size());
      queue.schedule(var);
    }
  }
}

inline bool CompactTableRev::propagateOneWord(PropagationQueue& queue) {
  const std::int32_t arity = arity_;
  const std::uint64_t before = table_.word(0);
  std::uint64_t live = before;
  std::int32_t shrunk = 0;
  std::int32_t lastShrunk = -1;
  for (std::int32_t i = 0; i < arity; ++i) {
    const IntVar& var = *scope_[i];
    const std::int32_t size = var.size();
    const std::int32_t removed = lastSize_[i] - size;
    if (removed == 0) continue;
    ++shrunk;
    lastShrunk = i;
    setLastSize(i, size);
    // The same choice as updateFrom's: the removed values' strict masks, or a reset.
    std::uint64_t m = 0;
    if (removed < size) {
      const std::uint64_t* strict = strict_ + valueBase_[i];
      for (std::int32_t k = size; k < size + removed; ++k) m |= strict[var.at(k)];
      live &= ~m;
    } else {
      ++resetCount_;
      const std::uint64_t* bits = bits_ + valueBase_[i];
      for (std::int32_t k = 0; k < size; ++k) m |= bits[var.at(k)];
      live &= m;
    }
    if (live == 0) return false;
  }
  if (live == before) return true;
  table_.narrowWord(0, live);
  const std::int32_t skip = shrunk == 1 ? lastShrunk : -1;
  for (std::int32_t i = 0; i < arity; ++i) {
    IntVar& var = *scope_[i];
    const std::int32_t size = var.size();
    if (i == skip || size == 1) continue;
    const std::uint64_t* bits = bits_ + valueBase_[i];
    for (std::int32_t k = size - 1; k >= 0; --k) {
      const std::int32_t v = var.at(k);
      if ((bits[v] & live) == 0) var.remove(v);
    }
    if (var.size() != size) {
      VARNEL_ASSERT(var.size() > 0);
      setLastSize(i, var.size());
      queue.schedule(var);
    }
  }
  return true;
}

inline bool CompactTableRev::propagate(PropagationQueue& queue) {
  ++propagateCount_;
  if (words_ == 1) return propagateOneWord(queue);
  const std::int32_t arity = arity_;
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < arity; ++i) {
    if (scope_[i]->size() != lastSize_[i]) shrunk_[count++] = i;
  }
  bool changed = false;
  for (std::int32_t p = 0; p < count; ++p) {
    changed = updateFrom(shrunk_[p]) || changed;
    if (table_.empty()) return false;
  }
  // An unchanged currTable still supports every value it supported. When one variable alone
  // shrank, each of its remaining values keeps every valid tuple it had.
  if (changed) filterDomains(count == 1 ? shrunk_[0] : -1, queue);
  return true;
}

inline bool CompactTableRev::propagateConflicts(PropagationQueue& queue) {
  ++propagateCount_;
  return conflictsFixpoint(false, queue);
}

}  // namespace varnel
