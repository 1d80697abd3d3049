// The cold parts of Compact-Table: the support masks of a table and of an instance, a
// constraint's storage and its first filtering.
#include "varnel/search/propagators/compact_table_rev.h"

#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/model/csp_instance.h"

namespace varnel {

SupportMasks::SupportMasks(std::int32_t arity, const std::int32_t* domainSizes,
                           std::int32_t numTuples)
    : arity_(arity), numTuples_(numTuples), wordCount_((numTuples + 63) / 64) {
  valueBase_ = allocateArray<std::int32_t>(static_cast<std::uint64_t>(arity) + 1);
  valueBase_[0] = 0;
  for (std::int32_t i = 0; i < arity; ++i) valueBase_[i + 1] = valueBase_[i] + domainSizes[i];
  const std::uint64_t words = std::uint64_t(valueBase_[arity]) * std::uint64_t(wordCount_);
  bits_ = allocateArray<std::uint64_t>(words);
  for (std::uint64_t k = 0; k < words; ++k) bits_[k] = 0;
}

SupportMasks::~SupportMasks() {
  freeArray(bits_, std::uint64_t(valueBase_[arity_]) * std::uint64_t(wordCount_));
  freeArray(valueBase_, static_cast<std::uint64_t>(arity_) + 1);
}

void SupportMasks::addTuple(std::int32_t t, const std::int32_t* row) {
  VARNEL_ASSERT(t >= 0 && t < numTuples_);
  const std::uint64_t bit = std::uint64_t{1} << (t & 63);
  const std::int32_t word = t >> 6;
  for (std::int32_t i = 0; i < arity_; ++i) {
    VARNEL_ASSERT(row[i] >= 0 && row[i] < valueCount(i));
    bits_[std::int64_t(valueBase_[i] + row[i]) * wordCount_ + word] |= bit;
  }
}

std::uint64_t SupportMasks::bytes() const {
  return 8 * std::uint64_t(valueBase_[arity_]) * std::uint64_t(wordCount_) +
         4 * (std::uint64_t(arity_) + 1);
}

InstanceSupportMasks::InstanceSupportMasks(const CspInstance& instance)
    : count_(instance.constraintCount()) {
  tables_ = allocateArray<SupportMasks*>(static_cast<std::uint64_t>(count_));
  for (std::int32_t c = 0; c < count_; ++c) {
    const std::int32_t arity = instance.arity(c);
    auto* sizes = allocateArray<std::int32_t>(static_cast<std::uint64_t>(arity));
    for (std::int32_t i = 0; i < arity; ++i) sizes[i] = instance.domainSize(instance.scope(c)[i]);
    tables_[c] = newPooled<SupportMasks>(arity, sizes, instance.tupleCount(c));
    freeArray(sizes, static_cast<std::uint64_t>(arity));
    const std::int32_t* rows = instance.tuples(c);
    for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
      tables_[c]->addTuple(t, rows + std::int64_t(t) * arity);
    }
  }
}

InstanceSupportMasks::~InstanceSupportMasks() {
  for (std::int32_t c = 0; c < count_; ++c) deletePooled(tables_[c]);
  freeArray(tables_, static_cast<std::uint64_t>(count_));
}

std::uint64_t InstanceSupportMasks::bytes() const {
  std::uint64_t total = 8 * static_cast<std::uint64_t>(count_);
  for (std::int32_t c = 0; c < count_; ++c) total += tables_[c]->bytes();
  return total;
}

CompactTableRev::CompactTableRev(Solver& solver, std::int32_t number, IntVar* const* scope,
                                 const SupportMasks& masks)
    : solver_(&solver),
      masks_(&masks),
      bits_(masks.bits_),
      words_(masks.wordCount_),
      arity_(masks.arity_),
      valueCount_(masks.valueBase_[masks.arity_]),
      number_(number),
      table_(solver, masks.tupleCount()),
      propagateCount_(0),
      resetCount_(0) {
  static_assert(sizeof(IntVar*) == sizeof(std::uint64_t), "the block holds pointers as words");
  const auto a = static_cast<std::uint64_t>(arity_);
  auto* block = allocateArray<std::uint64_t>(blockWords());
  scope_ = reinterpret_cast<IntVar**>(block);
  lastStamp_ = block + a;
  lastSize_ = reinterpret_cast<std::int32_t*>(lastStamp_ + a);
  shrunk_ = lastSize_ + a;
  valueBase_ = shrunk_ + a;
  residues_ = valueBase_ + a + 1;
  for (std::int32_t i = 0; i < arity_; ++i) {
    VARNEL_ASSERT(scope[i]->initialSize() == masks.valueCount(i));
    scope_[i] = scope[i];
    lastSize_[i] = scope[i]->initialSize();
    lastStamp_[i] = 0;
    shrunk_[i] = 0;
  }
  for (std::int32_t i = 0; i <= arity_; ++i) valueBase_[i] = masks.valueBase_[i];
  for (std::int32_t b = 0; b < valueCount_; ++b) residues_[b] = 0;
}

CompactTableRev::~CompactTableRev() {
  freeArray(reinterpret_cast<std::uint64_t*>(scope_), blockWords());
}

std::uint64_t CompactTableRev::blockWords() const {
  // Pointers and stamps, then lastSize, shrunk, valueBase (arity + 1) and residues in 32 bits.
  const auto a = static_cast<std::uint64_t>(arity_);
  return 2 * a + (3 * a + 1 + static_cast<std::uint64_t>(valueCount_) + 1) / 2;
}

bool CompactTableRev::post(PropagationQueue& queue) {
  // lastSize starts at the initial sizes, so every variable that lost values before the post is
  // a shrunk one.
  for (std::int32_t i = 0; i < arity() && !table_.empty(); ++i) {
    if (scope_[i]->size() != lastSize_[i]) updateFrom(i);
  }
  if (table_.empty()) return false;
  filterDomains(-1, queue);
  return true;
}

}  // namespace varnel
