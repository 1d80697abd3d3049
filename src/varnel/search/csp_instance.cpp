// Storage of an instance, all of it in the building thread's pools.
#include "varnel/search/csp_instance.h"

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

void CspInstance::addConstraint(const std::int32_t* scope, std::int32_t arity,
                                const std::int32_t* tuples, std::int32_t numTuples) {
  if (constraintCount_ == constraintCapacity_) {
    const std::int32_t capacity = constraintCapacity_ > 0 ? 2 * constraintCapacity_ : 4;
    auto* grown = static_cast<Table*>(allocateArray(std::uint64_t(capacity) * sizeof(Table), 1));
    std::copy_n(constraints_, constraintCount_, grown);
    freeArray(constraints_, std::uint64_t(constraintCapacity_) * sizeof(Table), 1);
    constraints_ = grown;
    constraintCapacity_ = capacity;
  }
  Table& t = constraints_[constraintCount_++];
  t.arity = arity;
  t.numTuples = numTuples;
  t.scope = allocateArray<std::int32_t>(static_cast<std::uint64_t>(arity));
  std::copy_n(scope, arity, t.scope);
  const std::uint64_t entries = std::uint64_t(arity) * std::uint64_t(numTuples);
  t.tuples = allocateArray<std::int32_t>(entries);
  std::copy_n(tuples, entries, t.tuples);
  for (std::uint64_t k = 0; k < entries; ++k) {
    VARNEL_ASSERT(tuples[k] >= 0 && tuples[k] < domainSizes_[scope[k % arity]]);
  }
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
    copy->addConstraint(from.scope(c), from.arity(c), from.tuples(c), from.tupleCount(c));
  }
  return copy;
}

std::int32_t CspInstance::firstViolatedTable(const std::int64_t* values) const {
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    const Table& t = constraints_[c];
    bool allowed = false;
    for (std::int32_t r = 0; r < t.numTuples && !allowed; ++r) {
      const std::int32_t* row = t.tuples + std::int64_t(r) * t.arity;
      allowed = true;
      for (std::int32_t i = 0; i < t.arity && allowed; ++i) {
        allowed = domains_[t.scope[i]][row[i]] == values[t.scope[i]];
      }
    }
    if (!allowed) return c;
  }
  return -1;
}

}  // namespace varnel
