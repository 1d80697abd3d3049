// The cold parts of GAC4RTableCt: building and releasing its structures, the initial filling of
// the buckets, the reset and the invariant check.
#include "varnel/table/gac4r_table_ct.h"

#include <sstream>
#include <vector>

#include "varnel/memory/pooled.h"

namespace varnel {

VariableSupports::VariableSupports(GAC4RTableCt& owner, const TupleTable& table,
                                   std::int32_t variable)
    : buckets(table.valueCount(variable)),
      position(table.tupleCount()),
      valueOf(table.tupleCount()),
      owner(&owner) {
  for (std::int32_t v = 0; v < buckets.length(); ++v) {
    buckets[v] = newPooled<SupportBucket>(table.valueListSize(variable, v));
  }
}

VariableSupports::~VariableSupports() {
  deletePooledArray(buckets.data(), buckets.length());
  // valueOf, position and the bucket table go with the members (reverse declaration order).
}

GAC4RTableCt::GAC4RTableCt(const TupleTable& table)
    : supports_(table.arity()),
      table_(&table),
      tupleBuffer_(table.tupleCount()),
      domains_(table.arity()),
      deltas_(table.arity()),
      pendingVariables_(table.arity()),
      arity_(table.arity()),
      gatherMarks_(table.tupleCount()),
      gatherEpoch_(UINT32_MAX),  // the first several-variable gathering wraps to 0 and clears
      propagateCount_(0),
      resetCount_(0) {
  for (std::int32_t i = 0; i < arity_; ++i) {
    const std::int32_t valueCount = table.valueCount(i);
    supports_[i] = newPooled<VariableSupports>(*this, table, i);
    domains_[i] = newPooled<Set>(valueCount);
    deltas_[i] = newPooled<Set>(valueCount);
    Set& domain = *domains_[i];
    for (std::int32_t v = 0; v < valueCount; ++v) domain.insert(v);
  }
}

GAC4RTableCt::~GAC4RTableCt() {
  for (std::int32_t i = 0; i < arity_; ++i) deletePooled(supports_[i]);
  deletePooledArray(domains_.data(), arity_);
  deletePooledArray(deltas_.data(), arity_);
  // The marks, pendingVariables, then the tables of deltas, domains, the tuple buffer and the
  // supports go with the members (reverse declaration order).
}

void GAC4RTableCt::initSupports() {
  // The tuples are read in blocks small enough to stay in the cache while every variable takes
  // its column from them, so the table crosses the memory bus once rather than once per
  // variable. Each bucket still receives its tuples in increasing order.
  constexpr std::int32_t kTuplesPerBlock = 2048;
  const TupleTable& table = *table_;
  const std::int32_t numTuples = tupleBuffer_.length();
  for (std::int32_t first = 0; first < numTuples; first += kTuplesPerBlock) {
    const std::int32_t end =
        numTuples - first < kTuplesPerBlock ? numTuples : first + kTuplesPerBlock;
    for (std::int32_t i = 0; i < arity_; ++i) {
      VariableSupports& s = *supports_[i];
      SupportBucket* const* buckets = s.buckets.data();
      std::int32_t* position = s.position.data();
      std::int32_t* valueOf = s.valueOf.data();
      for (std::int32_t t = first; t < end; ++t) {
        const std::int32_t v = table.tuple(t)[i];
        SupportBucket& b = *buckets[v];
        valueOf[t] = v;
        position[t] = b.count;
        b.items[b.count] = t;
        ++b.count;
      }
    }
  }
}

void GAC4RTableCt::pruneUnsupported() {
  for (std::int32_t i = 0; i < arity_; ++i) {
    Set& domain = *domains_[i];
    SupportBucket* const* buckets = supports_[i]->buckets.data();
    for (std::int32_t v = domain.first(); v != domain.sentinel();) {
      const std::int32_t following = domain.next(v);
      if (buckets[v]->count == 0) domain.remove(v);
      v = following;
    }
  }
}

void GAC4RTableCt::resetFrom(std::int32_t x) {
  ++resetCount_;
  std::int32_t* list = tupleBuffer_.data();
  std::int32_t total = 0;
  {
    SupportBucket* const* buckets = supports_[x]->buckets.data();
    for (const std::int32_t v : *domains_[x]) {
      const SupportBucket& b = *buckets[v];
      for (std::int32_t k = 0; k < b.count; ++k) list[total + k] = b.items[k];
      total += b.count;
    }
  }
  for (std::int32_t i = 0; i < arity_; ++i) {
    SupportBucket* const* buckets = supports_[i]->buckets.data();
    for (const std::int32_t v : *domains_[i]) buckets[v]->count = 0;
  }
  for (const std::int32_t y : pendingVariables_) {
    SupportBucket* const* buckets = supports_[y]->buckets.data();
    for (const std::int32_t v : *deltas_[y]) buckets[v]->count = 0;
  }
  for (std::int32_t i = 0; i < arity_; ++i) supports_[i]->refillBuckets(total, list);
  pruneUnsupported();
}

void GAC4RTableCt::clearGatherMarks() {
  std::uint32_t* mark = gatherMarks_.data();
  for (std::int32_t t = 0; t < gatherMarks_.length(); ++t) mark[t] = 0;
  gatherEpoch_ = 1;
}

std::string GAC4RTableCt::audit() const {
  std::ostringstream why;
  const TupleTable& table = *table_;
  const std::int32_t numTuples = tupleBuffer_.length();
  if (table.arity() != arity_ || table.tupleCount() != numTuples) {
    why << "the table's size changed under the constraint; ";
    return why.str();
  }
  bool anyPending = false;
  for (std::int32_t i = 0; i < arity_; ++i) {
    const Set& domain = *domains_[i];
    const Set& delta = *deltas_[i];
    for (const std::int32_t v : delta) {
      if (domain.contains(v))
        why << "value " << v << " of variable " << i << " is pending yet still in the domain; ";
    }
    if (pendingVariables_.contains(i) != (delta.size() > 0)) {
      why << "variable " << i << " is pending " << pendingVariables_.contains(i) << " with "
          << delta.size() << " pending removals; ";
    }
    anyPending = anyPending || delta.size() > 0;
    const VariableSupports& s = *supports_[i];
    if (s.owner != this) why << "supports of variable " << i << " name another owner; ";
    for (std::int32_t v = 0; v < s.buckets.length(); ++v) {
      const SupportBucket& b = *s.buckets[v];
      if (b.capacity != table.valueListSize(i, v)) {
        why << "bucket " << v << " of variable " << i << " has capacity " << b.capacity << " for "
            << table.valueListSize(i, v) << " tuples; ";
      }
      if (b.count < 0 || b.count > b.capacity) {
        why << "bucket " << v << " of variable " << i << " has count " << b.count << "; ";
      }
    }
    for (std::int32_t t = 0; t < numTuples; ++t) {
      const std::int32_t v = s.valueOf[t];
      if (v != table.tuple(t)[i]) {
        why << "valueOf[" << t << "] of variable " << i << " is " << v << "; ";
        continue;
      }
      const SupportBucket& b = *s.buckets[v];
      const std::int32_t at = s.position[t];
      if (at < 0 || at >= b.capacity || b.items[at] != t) {
        why << "tuple " << t << " is not at its position " << at << " in bucket " << v
            << " of variable " << i << "; ";
      }
    }
  }
  if (!why.str().empty() || anyPending) return why.str();

  // Nothing pending: every domain value's front must be exactly its valid tuples.
  std::vector<char> valid(static_cast<std::size_t>(numTuples), 1);
  for (std::int32_t t = 0; t < numTuples; ++t) {
    for (std::int32_t i = 0; i < arity_ && valid[t]; ++i) {
      valid[t] = domains_[i]->contains(table.tuple(t)[i]);
    }
  }
  for (std::int32_t i = 0; i < arity_; ++i) {
    const VariableSupports& s = *supports_[i];
    for (const std::int32_t v : *domains_[i]) {
      const SupportBucket& b = *s.buckets[v];
      if (b.count < 1) why << "value " << v << " of variable " << i << " has no support; ";
      for (std::int32_t k = 0; k < b.capacity; ++k) {
        const std::int32_t t = b.items[k];
        if ((k < b.count) != static_cast<bool>(valid[t])) {
          why << "tuple " << t << " is " << (valid[t] ? "valid" : "invalid") << " but "
              << (k < b.count ? "inside" : "outside") << " the front of bucket " << v
              << " of variable " << i << "; ";
        }
      }
    }
  }
  return why.str();
}

}  // namespace varnel
