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
#pragma once

#include <cstdint>

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
  // domain sizes; addTuple fills them.
  SupportMasks(std::int32_t arity, const std::int32_t* domainSizes, std::int32_t numTuples);
  ~SupportMasks() override;

  // Sets tuple t (its `arity` value indices, each in range) in the masks of its values.
  void addTuple(std::int32_t t, const std::int32_t* row);

  std::int32_t arity() const { return arity_; }
  std::int32_t tupleCount() const { return numTuples_; }
  std::int32_t wordCount() const { return wordCount_; }
  std::int32_t valueCount(std::int32_t i) const { return valueBase_[i + 1] - valueBase_[i]; }
  // The mask of value v at position i.
  const std::uint64_t* mask(std::int32_t i, std::int32_t v) const {
    return bits_ + std::int64_t(valueBase_[i] + v) * wordCount_;
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
};

// The support masks of every table of an instance, in constraint order: built once before any
// search starts, then only read.
class InstanceSupportMasks : public Reversible {
 public:
  explicit InstanceSupportMasks(const CspInstance& instance);
  ~InstanceSupportMasks() override;

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
  // that follows to restore.
  bool propagate(PropagationQueue& queue);

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

  // Size of the block of the per-position and per-value arrays, in 64-bit words.
  std::uint64_t blockWords() const;

  // What a run reads sits together: the masks' pointer, word count and value bases are copied
  // here, and the arrays below share one block, so that a small constraint spans few cache lines.
  Solver* solver_;
  const SupportMasks* masks_;
  const std::uint64_t* bits_;  // the masks' words
  std::int32_t words_;         // words per mask
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
    // Incremental: the tuples of the removed values leave (one mask alone needs no scratch).
    if (removed == 1) return table_.subtract(bits + std::int64_t(var.at(size)) * words);
    table_.clearMask();
    for (std::int32_t k = size; k < size + removed; ++k) {
      table_.addToMask(bits + std::int64_t(var.at(k)) * words);
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

inline bool CompactTableRev::propagate(PropagationQueue& queue) {
  ++propagateCount_;
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

}  // namespace varnel
