// Storage of an instance, all of it in the building thread's pools.
#include "varnel/search/model/csp_instance.h"

#include <algorithm>

#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/assert.h"

namespace varnel {

static_assert(sizeof(std::int32_t*) == 8, "tables are kept as arrays of 8-byte words");

CspInstance::CspInstance(std::int32_t varCount)
    : varCount_(varCount),
      domainSizes_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(varCount))),
      domains_(allocateArray<std::int64_t*>(static_cast<std::uint64_t>(varCount))),
      constraints_(nullptr),
      constraintCount_(0),
      constraintCapacity_(0) {
  for (std::int32_t x = 0; x < varCount; ++x) {
    domainSizes_[x] = 0;
    domains_[x] = nullptr;
  }
}

CspInstance::~CspInstance() {
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    const Table& t = constraints_[c];
    if (t.tuples != nullptr)
      freeArray(t.tuples, std::uint64_t(t.arity) * std::uint64_t(t.numTuples));
    freeArray(t.scope, static_cast<std::uint64_t>(t.arity));
  }
  freeArray(constraints_, std::uint64_t(constraintCapacity_) * sizeof(Table), 1);
  for (std::int32_t x = 0; x < varCount_; ++x) {
    freeArray(domains_[x], static_cast<std::uint64_t>(domainSizes_[x]));
  }
  freeArray(domains_, static_cast<std::uint64_t>(varCount_));
  freeArray(domainSizes_, static_cast<std::uint64_t>(varCount_));
}

void CspInstance::setDomain(std::int32_t x, const std::int64_t* values, std::int32_t count) {
  VARNEL_ASSERT(count >= 1 && std::is_sorted(values, values + count));
  freeArray(domains_[x], static_cast<std::uint64_t>(domainSizes_[x]));
  domains_[x] = allocateArray<std::int64_t>(static_cast<std::uint64_t>(count));
  std::copy_n(values, count, domains_[x]);
  domainSizes_[x] = count;
}

CspInstance::Table& CspInstance::appendConstraint(ConstraintKind kind, const std::int32_t* scope,
                                                  std::int32_t arity) {
  if (constraintCount_ == constraintCapacity_) {
    const std::int32_t capacity = constraintCapacity_ > 0 ? 2 * constraintCapacity_ : 4;
    auto* grown = static_cast<Table*>(allocateArray(std::uint64_t(capacity) * sizeof(Table), 1));
    std::copy_n(constraints_, constraintCount_, grown);
    freeArray(constraints_, std::uint64_t(constraintCapacity_) * sizeof(Table), 1);
    constraints_ = grown;
    constraintCapacity_ = capacity;
  }
  Table& t = constraints_[constraintCount_++];
  t.kind = kind;
  t.arity = arity;
  t.numTuples = 0;
  t.lists = 1;
  t.stars = false;
  t.tuples = nullptr;
  t.scope = allocateArray<std::int32_t>(static_cast<std::uint64_t>(arity));
  std::copy_n(scope, arity, t.scope);
  return t;
}

void CspInstance::addTable(ConstraintKind kind, const std::int32_t* scope, std::int32_t arity,
                           const std::int32_t* tuples, std::int32_t numTuples) {
  VARNEL_ASSERT(kind != ConstraintKind::kAllDifferent);
  Table& t = appendConstraint(kind, scope, arity);
  t.numTuples = numTuples;
  const std::uint64_t entries = std::uint64_t(arity) * std::uint64_t(numTuples);
  t.tuples = allocateArray<std::int32_t>(entries);
  std::copy_n(tuples, entries, t.tuples);
  for (std::uint64_t k = 0; k < entries; ++k) {
    VARNEL_ASSERT(tuples[k] == kStar ||
                  (tuples[k] >= 0 && tuples[k] < domainSizes_[scope[k % arity]]));
    t.stars |= tuples[k] == kStar;
  }
}

void CspInstance::addAllDifferent(const std::int32_t* vars, std::int32_t listLength,
                                  std::int32_t listCount) {
  VARNEL_ASSERT(listLength >= 1 && listCount >= 1);
  Table& t = appendConstraint(ConstraintKind::kAllDifferent, vars, listLength * listCount);
  t.lists = listCount;
}

void CspInstance::keepValues(const std::int32_t* const* renumber) {
  for (std::int32_t x = 0; x < varCount_; ++x) {
    const std::int32_t* to = renumber[x];
    if (to == nullptr) continue;
    const std::int32_t size = domainSizes_[x];
    std::int32_t kept = 0;
    for (std::int32_t k = 0; k < size; ++k) {
      VARNEL_ASSERT(to[k] == -1 || to[k] == kept);
      if (to[k] != -1) domains_[x][kept++] = domains_[x][k];
    }
    VARNEL_ASSERT(kept >= 1);
    if (kept != size) {
      // A block is sized for the domain it holds: the smaller domain moves to its own.
      domains_[x] = shrinkArray(domains_[x], static_cast<std::uint64_t>(size),
                                static_cast<std::uint64_t>(kept));
      domainSizes_[x] = kept;
    }
  }
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    Table& t = constraints_[c];
    if (t.kind == ConstraintKind::kAllDifferent ||
        std::none_of(t.scope, t.scope + t.arity,
                     [&](std::int32_t x) { return renumber[x] != nullptr; })) {
      continue;
    }
    // Rows move down over the dropped ones.
    std::int64_t rows = 0;
    for (std::int64_t r = 0; r < t.numTuples; ++r) {
      const std::int32_t* from = t.tuples + r * t.arity;
      std::int32_t* row = t.tuples + rows * t.arity;
      bool keep = true;
      for (std::int32_t i = 0; i < t.arity && keep; ++i) {
        const std::int32_t* to = renumber[t.scope[i]];
        const std::int32_t e = from[i] == kStar || to == nullptr ? from[i] : to[from[i]];
        keep = e != -1 || from[i] == kStar;
        row[i] = e;
      }
      rows += keep ? 1 : 0;
    }
    if (rows != t.numTuples) {
      const std::uint64_t entries = std::uint64_t(t.arity) * std::uint64_t(rows);
      t.stars = std::find(t.tuples, t.tuples + entries, kStar) != t.tuples + entries;
      t.tuples =
          shrinkArray(t.tuples, std::uint64_t(t.arity) * std::uint64_t(t.numTuples), entries);
      t.numTuples = static_cast<std::int32_t>(rows);
    }
  }
}

bool CspInstance::onlyPositiveTables() const {
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    if (constraints_[c].kind != ConstraintKind::kSupports || constraints_[c].stars) return false;
  }
  return true;
}

std::int64_t CspInstance::totalTuples() const {
  std::int64_t total = 0;
  for (std::int32_t c = 0; c < constraintCount_; ++c) total += constraints_[c].numTuples;
  return total;
}

CspInstance* copyInstance(const CspInstance& from) {
  auto* copy = newPooled<CspInstance>(from.varCount());
  for (std::int32_t x = 0; x < from.varCount(); ++x) {
    copy->setDomain(x, from.values(x), from.domainSize(x));
  }
  for (std::int32_t c = 0; c < from.constraintCount(); ++c) {
    if (from.isTable(c)) {
      copy->addTable(from.kind(c), from.scope(c), from.arity(c), from.tuples(c),
                     from.tupleCount(c));
    } else {
      copy->addAllDifferent(from.scope(c), from.listLength(c), from.listCount(c));
    }
  }
  return copy;
}

bool CspInstance::allows(std::int32_t c, const std::int64_t* values) const {
  const Table& t = constraints_[c];
  if (t.kind == ConstraintKind::kAllDifferent) {
    // One list of n variables is n lists of one variable each.
    const std::int32_t lists = t.lists == 1 ? t.arity : t.lists;
    const std::int32_t length = t.arity / lists;
    for (std::int32_t a = 0; a < lists; ++a) {
      for (std::int32_t b = a + 1; b < lists; ++b) {
        bool same = true;
        for (std::int32_t i = 0; i < length && same; ++i) {
          same = values[t.scope[a * length + i]] == values[t.scope[b * length + i]];
        }
        if (same) return false;
      }
    }
    return true;
  }
  bool matched = false;
  for (std::int32_t r = 0; r < t.numTuples && !matched; ++r) {
    const std::int32_t* row = t.tuples + std::int64_t(r) * t.arity;
    matched = true;
    for (std::int32_t i = 0; i < t.arity && matched; ++i) {
      matched = row[i] == kStar || domains_[t.scope[i]][row[i]] == values[t.scope[i]];
    }
  }
  return matched == (t.kind == ConstraintKind::kSupports);
}

std::int32_t CspInstance::firstViolatedConstraint(const std::int64_t* values) const {
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    if (!allows(c, values)) return c;
  }
  return -1;
}

}  // namespace varnel
