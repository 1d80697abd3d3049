// The cold parts of Compact-Table: the support masks of a table and of an instance, a
// constraint's storage and its first filtering.
#include "varnel/search/propagators/compact_table_rev.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <vector>

#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/model/csp_instance.h"

namespace varnel {

SupportMasks::SupportMasks(std::int32_t arity, const std::int32_t* domainSizes,
                           std::int32_t numTuples, bool stars, bool conflicts)
    : arity_(arity),
      numTuples_(numTuples),
      wordCount_((numTuples + 63) / 64),
      conflicts_(conflicts) {
  valueBase_ = allocateArray<std::int32_t>(static_cast<std::uint64_t>(arity) + 1);
  valueBase_[0] = 0;
  for (std::int32_t i = 0; i < arity; ++i) valueBase_[i + 1] = valueBase_[i] + domainSizes[i];
  const std::uint64_t words = std::uint64_t(valueBase_[arity]) * std::uint64_t(wordCount_);
  bits_ = allocateZeroedArray<std::uint64_t>(words);
  strict_ = stars ? allocateZeroedArray<std::uint64_t>(words) : bits_;
}

SupportMasks::~SupportMasks() {
  const std::uint64_t words = std::uint64_t(valueBase_[arity_]) * std::uint64_t(wordCount_);
  if (strict_ != bits_) freeArray(strict_, words);
  freeArray(bits_, words);
  freeArray(valueBase_, static_cast<std::uint64_t>(arity_) + 1);
}

void SupportMasks::addTuple(std::int32_t t, const std::int32_t* row) {
  VARNEL_ASSERT(t >= 0 && t < numTuples_);
  const std::uint64_t bit = std::uint64_t{1} << (t & 63);
  const std::int32_t word = t >> 6;
  for (std::int32_t i = 0; i < arity_; ++i) {
    if (row[i] == kStar) {
      VARNEL_ASSERT(strict_ != bits_);
      for (std::int32_t v = 0; v < valueCount(i); ++v) {
        bits_[std::int64_t(valueBase_[i] + v) * wordCount_ + word] |= bit;
      }
      continue;
    }
    VARNEL_ASSERT(row[i] >= 0 && row[i] < valueCount(i));
    const std::int64_t at = std::int64_t(valueBase_[i] + row[i]) * wordCount_ + word;
    bits_[at] |= bit;
    strict_[at] |= bit;
  }
}

std::uint64_t SupportMasks::bytes() const {
  const std::uint64_t words = std::uint64_t(valueBase_[arity_]) * std::uint64_t(wordCount_);
  return 8 * words * (strict_ != bits_ ? 2 : 1) + 4 * (std::uint64_t(arity_) + 1);
}

namespace {

// The forbidden tuples a conflicts table stands for: how many, its stars expanded (saturated
// just above kLargestExpandedConflicts).
std::int64_t expandedConflicts(const CspInstance& instance, std::int32_t c) {
  const std::int32_t arity = instance.arity(c);
  std::int64_t total = 0;
  for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
    const std::int32_t* row = instance.tuples(c) + std::int64_t(t) * arity;
    std::int64_t product = 1;
    for (std::int32_t i = 0; i < arity && product <= kLargestExpandedConflicts; ++i) {
      if (row[i] == kStar) product *= instance.domainSize(instance.scope(c)[i]);
    }
    total += std::min(product, kLargestExpandedConflicts + 1);
    if (total > kLargestExpandedConflicts) return total;
  }
  return total;
}

// The forbidden tuples of conflicts table c, stars expanded, each once, row-major.
std::vector<std::int32_t> distinctConflicts(const CspInstance& instance, std::int32_t c) {
  const std::int32_t arity = instance.arity(c);
  const std::int32_t* scope = instance.scope(c);
  std::vector<std::int32_t> rows;
  std::vector<std::int32_t> row(static_cast<std::size_t>(arity));
  for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
    const std::int32_t* given = instance.tuples(c) + std::int64_t(t) * arity;
    // An odometer over the starred positions.
    for (std::int32_t i = 0; i < arity; ++i) row[i] = given[i] == kStar ? 0 : given[i];
    while (true) {
      rows.insert(rows.end(), row.begin(), row.end());
      std::int32_t i = arity - 1;
      for (; i >= 0; --i) {
        if (given[i] != kStar) continue;
        if (++row[i] < instance.domainSize(scope[i])) break;
        row[i] = 0;
      }
      if (i < 0) break;
    }
  }
  const std::size_t count = rows.size() / static_cast<std::size_t>(arity);
  std::vector<std::int32_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  auto rowOf = [&](std::int32_t t) { return rows.data() + std::int64_t(t) * arity; };
  auto less = [&](std::int32_t a, std::int32_t b) {
    return std::lexicographical_compare(rowOf(a), rowOf(a) + arity, rowOf(b), rowOf(b) + arity);
  };
  auto same = [&](std::int32_t a, std::int32_t b) {
    return std::equal(rowOf(a), rowOf(a) + arity, rowOf(b));
  };
  std::sort(order.begin(), order.end(), less);
  order.erase(std::unique(order.begin(), order.end(), same), order.end());
  std::vector<std::int32_t> distinct;
  distinct.reserve(order.size() * static_cast<std::size_t>(arity));
  for (const std::int32_t t : order) distinct.insert(distinct.end(), rowOf(t), rowOf(t) + arity);
  return distinct;
}

}  // namespace

std::string InstanceSupportMasks::conflictsRefusal(const CspInstance& instance) {
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
    if (instance.kind(c) != ConstraintKind::kConflicts || !instance.hasStars(c)) continue;
    if (expandedConflicts(instance, c) > kLargestExpandedConflicts) {
      return "the short tuples of conflicts table " + std::to_string(c) + " stand for more than " +
             std::to_string(kLargestExpandedConflicts) + " forbidden tuples";
    }
  }
  return std::string();
}

InstanceSupportMasks::InstanceSupportMasks(const CspInstance& instance)
    : count_(instance.constraintCount()) {
  tables_ = allocateArray<SupportMasks*>(static_cast<std::uint64_t>(count_));
  for (std::int32_t c = 0; c < count_; ++c) {
    tables_[c] = nullptr;
    if (!instance.isTable(c)) continue;
    const std::int32_t arity = instance.arity(c);
    auto* sizes = allocateArray<std::int32_t>(static_cast<std::uint64_t>(arity));
    for (std::int32_t i = 0; i < arity; ++i) sizes[i] = instance.domainSize(instance.scope(c)[i]);
    if (instance.kind(c) == ConstraintKind::kConflicts) {
      // Counting forbidden tuples needs each one once and without stars.
      const std::vector<std::int32_t> rows = distinctConflicts(instance, c);
      const auto count = static_cast<std::int32_t>(rows.size() / static_cast<std::size_t>(arity));
      tables_[c] = newPooled<SupportMasks>(arity, sizes, count, false, true);
      for (std::int32_t t = 0; t < count; ++t) {
        tables_[c]->addTuple(t, rows.data() + std::int64_t(t) * arity);
      }
    } else {
      tables_[c] =
          newPooled<SupportMasks>(arity, sizes, instance.tupleCount(c), instance.hasStars(c));
      const std::int32_t* rows = instance.tuples(c);
      for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
        tables_[c]->addTuple(t, rows + std::int64_t(t) * arity);
      }
    }
    freeArray(sizes, static_cast<std::uint64_t>(arity));
  }
}

InstanceSupportMasks::~InstanceSupportMasks() {
  for (std::int32_t c = 0; c < count_; ++c) {
    if (tables_[c] != nullptr) deletePooled(tables_[c]);
  }
  freeArray(tables_, static_cast<std::uint64_t>(count_));
}

std::uint64_t InstanceSupportMasks::bytes() const {
  std::uint64_t total = 8 * static_cast<std::uint64_t>(count_);
  for (std::int32_t c = 0; c < count_; ++c) {
    if (tables_[c] != nullptr) total += tables_[c]->bytes();
  }
  return total;
}

CompactTableRev::CompactTableRev(Solver& solver, std::int32_t number, IntVar* const* scope,
                                 const SupportMasks& masks)
    : solver_(&solver),
      masks_(&masks),
      bits_(masks.bits_),
      strict_(masks.strict_),
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
  if (conflicts()) return conflictsFixpoint(true, queue);
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

namespace varnel {

bool CompactTableRev::propagateOutOfLine(PropagationQueue& queue) { return propagate(queue); }

bool CompactTableRev::filterConflicts(std::int32_t skip, PropagationQueue& queue) {
  const std::int64_t tuples = masks_->tupleCount();
  const std::int32_t live = table_.liveWordCount();
  const std::uint64_t* current = table_.words();
  for (std::int32_t i = 0; i < arity_; ++i) {
    if (i == skip) continue;
    // The tuples of the other domains: while they outnumber the forbidden ones left, every
    // value keeps an allowed tuple.
    std::int64_t product = 1;
    for (std::int32_t j = 0; j < arity_ && product <= tuples; ++j) {
      if (j != i) product *= lastSize_[j];
    }
    if (product > tuples) continue;
    IntVar& var = *scope_[i];
    const std::int32_t size = var.size();
    const std::uint64_t* bits = bits_ + std::int64_t(valueBase_[i]) * words_;
    for (std::int32_t k = size - 1; k >= 0; --k) {
      const std::int32_t v = var.at(k);
      const std::uint64_t* m = bits + std::int64_t(v) * words_;
      std::int64_t forbidden = 0;
      for (std::int32_t w = 0; w < live && forbidden < product; ++w) {
        const std::int32_t offset = table_.liveWord(w);
        forbidden += std::popcount(current[offset] & m[offset]);
      }
      if (forbidden >= product) var.remove(v);
    }
    if (var.size() == 0) return false;
    if (var.size() != size) queue.schedule(var);
  }
  return true;
}

bool CompactTableRev::conflictsFixpoint(bool all, PropagationQueue& queue) {
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < arity_; ++i) {
    if (scope_[i]->size() != lastSize_[i]) shrunk_[count++] = i;
  }
  if (count == 0 && !all) return true;
  for (std::int32_t p = 0; p < count; ++p) updateFrom(shrunk_[p]);
  // No forbidden tuple left in the domains: every value is allowed.
  if (table_.empty()) return true;
  // A variable that alone shrank keeps, for each of its values, the same forbidden tuples
  // among the same number of tuples. One pass is enough: a value leaves only when every tuple
  // holding it is forbidden, so taking its tuples out lowers both sides of every other value's
  // comparison alike. Its forbidden tuples leave currTable at the next run (lastSize still
  // counts the value, like the count of the products).
  return filterConflicts(!all && count == 1 ? shrunk_[0] : -1, queue);
}

}  // namespace varnel
