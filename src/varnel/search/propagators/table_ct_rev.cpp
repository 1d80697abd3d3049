// The cold and the larger parts of TableCtRev: building its buckets, the first filling, the
// collection of pending values, the reset and the gathering over several positions.
#include "varnel/search/propagators/table_ct_rev.h"

#include "varnel/memory/arrays.h"

namespace varnel {

TableCtRev::TableCtRev(Solver& solver, std::int32_t number, IntVar* const* scope,
                       std::int32_t arity, const std::int32_t* tuples, std::int32_t numTuples)
    : solver_(&solver),
      number_(number),
      arity_(arity),
      numTuples_(numTuples),
      pendingCount_(0),
      gatherEpoch_(0),
      propagateCount_(0),
      resetCount_(0) {
  const auto a = static_cast<std::uint64_t>(arity);
  const auto n = static_cast<std::uint64_t>(numTuples);
  scope_ = allocateArray<IntVar*>(a);
  valueBase_ = allocateArray<std::int32_t>(a + 1);
  bucketCount_ = 0;
  for (std::int32_t i = 0; i < arity; ++i) {
    scope_[i] = scope[i];
    valueBase_[i] = bucketCount_;
    bucketCount_ += scope[i]->initialSize();
  }
  valueBase_[arity] = bucketCount_;
  const auto buckets = static_cast<std::uint64_t>(bucketCount_);
  start_ = allocateArray<std::int32_t>(buckets);
  count_ = allocateArray<std::int32_t>(buckets);
  countStamp_ = allocateArray<std::uint64_t>(buckets);
  items_ = allocateArray<std::int32_t>(a * n);
  place_ = allocateArray<std::int32_t>(a * n);
  valueOf_ = allocateArray<std::int32_t>(a * n);
  lastSize_ = allocateArray<std::int32_t>(a);
  lastStamp_ = allocateArray<std::uint64_t>(a);
  tupleBuffer_ = allocateArray<std::int32_t>(n);
  gatherMarks_ = allocateArray<std::uint32_t>(n);
  pending_ = allocateArray<std::int32_t>(a);
  deltaFrom_ = allocateArray<std::int32_t>(a);
  deltaTo_ = allocateArray<std::int32_t>(a);
  changed_ = allocateArray<std::uint8_t>(a);
  for (std::int32_t b = 0; b < bucketCount_; ++b) {
    count_[b] = 0;
    countStamp_[b] = 0;
  }
  for (std::int32_t i = 0; i < arity; ++i) {
    for (std::int32_t t = 0; t < numTuples; ++t) {
      const std::int32_t v = tuples[std::int64_t(t) * arity + i];
      VARNEL_ASSERT(v >= 0 && v < scope[i]->initialSize());
      valueOf_[std::int64_t(i) * numTuples + t] = v;
    }
    lastSize_[i] = 0;
    lastStamp_[i] = 0;
    changed_[i] = 0;
  }
  for (std::int32_t t = 0; t < numTuples; ++t) gatherMarks_[t] = 0;
}

TableCtRev::~TableCtRev() {
  const auto a = static_cast<std::uint64_t>(arity_);
  const auto n = static_cast<std::uint64_t>(numTuples_);
  const auto buckets = static_cast<std::uint64_t>(bucketCount_);
  freeArray(changed_, a);
  freeArray(deltaTo_, a);
  freeArray(deltaFrom_, a);
  freeArray(pending_, a);
  freeArray(gatherMarks_, n);
  freeArray(tupleBuffer_, n);
  freeArray(lastStamp_, a);
  freeArray(lastSize_, a);
  freeArray(valueOf_, a * n);
  freeArray(place_, a * n);
  freeArray(items_, a * n);
  freeArray(countStamp_, buckets);
  freeArray(count_, buckets);
  freeArray(start_, buckets);
  freeArray(valueBase_, a + 1);
  freeArray(scope_, a);
}

bool TableCtRev::post(PropagationQueue& queue) {
  // valid[t]: 1 when every value of tuple t is in its domain.
  std::int32_t* valid = tupleBuffer_;
  for (std::int32_t t = 0; t < numTuples_; ++t) valid[t] = 1;
  for (std::int32_t i = 0; i < arity_; ++i) {
    for (std::int32_t t = 0; t < numTuples_; ++t) {
      if (!scope_[i]->contains(valueOf(i, t))) valid[t] = 0;
    }
  }
  // Each bucket: the valid tuples first (the front, in increasing order), then the others.
  const auto buckets = static_cast<std::uint64_t>(bucketCount_);
  std::int32_t* cursor = allocateArray<std::int32_t>(buckets);
  for (std::int32_t i = 0; i < arity_; ++i) {
    const std::int32_t base = valueBase_[i];
    const std::int32_t end = valueBase_[i + 1];
    const std::int32_t* valueOf = valueOf_ + std::int64_t(i) * numTuples_;
    std::int32_t* place = place_ + std::int64_t(i) * numTuples_;
    for (std::int32_t b = base; b < end; ++b) cursor[b] = count_[b] = 0;
    for (std::int32_t t = 0; t < numTuples_; ++t) {
      ++cursor[base + valueOf[t]];
      count_[base + valueOf[t]] += valid[t];
    }
    std::int32_t next = i * numTuples_;
    for (std::int32_t b = base; b < end; ++b) {
      start_[b] = next;
      next += cursor[b];
      cursor[b] = count_[b];  // where the first invalid tuple goes
      count_[b] = 0;          // where the first valid one goes; ends as the front's size
    }
    for (std::int32_t t = 0; t < numTuples_; ++t) {
      const std::int32_t b = base + valueOf[t];
      const std::int32_t at = start_[b] + (valid[t] ? count_[b]++ : cursor[b]++);
      items_[at] = t;
      place[t] = at;
    }
  }
  freeArray(cursor, buckets);
  // Values without a valid tuple leave; iterating from the last member keeps the places of the
  // members not yet visited.
  for (std::int32_t i = 0; i < arity_; ++i) {
    IntVar& var = *scope_[i];
    setLastSize(i, var.size());
    for (std::int32_t k = var.size() - 1; k >= 0; --k) {
      const std::int32_t v = var.at(k);
      if (count_[valueBase_[i] + v] == 0 && !removeOwn(i, v)) return fail();
    }
  }
  finish(queue);
  return true;
}

bool TableCtRev::propagate(PropagationQueue& queue) {
  ++propagateCount_;
  pendingCount_ = 0;
  for (std::int32_t i = 0; i < arity_; ++i) {
    const std::int32_t size = scope_[i]->size();
    if (size < lastSize_[i]) {
      deltaFrom_[i] = size;
      deltaTo_[i] = lastSize_[i];
      pending_[pendingCount_++] = i;
      setLastSize(i, size);
    }
  }
  if (pendingCount_ == 0) return true;

  // The pending position whose removals invalidate the most tuples (the first on ties) resets
  // when its remaining tuples are no more than those.
  std::int64_t best = 0;
  std::int32_t bestPosition = -1;
  for (std::int32_t p = 0; p < pendingCount_; ++p) {
    const std::int32_t i = pending_[p];
    const IntVar& var = *scope_[i];
    std::int64_t sum = 0;
    for (std::int32_t k = deltaFrom_[i]; k < deltaTo_[i]; ++k) {
      sum += count_[valueBase_[i] + var.at(k)];
    }
    if (sum > best) {
      best = sum;
      bestPosition = i;
    }
  }
  if (best >= kResetThreshold) {
    const IntVar& var = *scope_[bestPosition];
    std::int64_t remaining = 0;
    for (std::int32_t k = 0; k < var.size(); ++k) {
      remaining += count_[valueBase_[bestPosition] + var.at(k)];
    }
    if (remaining <= best && !resetFrom(bestPosition)) return fail();
  }

  // With one pending position, every gathered tuple holds one of its removed values there:
  // nothing to take out at that position.
  const bool one = pendingCount_ == 1;
  const std::int32_t total = one ? gatherOne() : gatherSeveral();
  if (!removeTuples(total, one ? pending_[0] : -1)) return fail();
  finish(queue);
  return true;
}

bool TableCtRev::resetFrom(std::int32_t x) {
  ++resetCount_;
  // The tuples that stay valid: the fronts of x's remaining values.
  std::int32_t* list = tupleBuffer_;
  std::int32_t total = 0;
  {
    const IntVar& var = *scope_[x];
    for (std::int32_t k = 0; k < var.size(); ++k) {
      const std::int32_t b = valueBase_[x] + var.at(k);
      const std::int32_t* items = items_ + start_[b];
      for (std::int32_t j = 0; j < count_[b]; ++j) list[total + j] = items[j];
      total += count_[b];
    }
  }
  // Every front that is still maintained (the members' and the pending values') starts empty.
  for (std::int32_t i = 0; i < arity_; ++i) {
    const IntVar& var = *scope_[i];
    for (std::int32_t k = 0; k < var.size(); ++k) setCount(valueBase_[i] + var.at(k), 0);
  }
  for (std::int32_t p = 0; p < pendingCount_; ++p) {
    const std::int32_t i = pending_[p];
    const IntVar& var = *scope_[i];
    for (std::int32_t k = deltaFrom_[i]; k < deltaTo_[i]; ++k) {
      setCount(valueBase_[i] + var.at(k), 0);
    }
  }
  // Each listed tuple is swapped to the end of its bucket's front, position by position.
  for (std::int32_t i = 0; i < arity_; ++i) {
    const std::int32_t base = valueBase_[i];
    const std::int32_t* valueOf = valueOf_ + std::int64_t(i) * numTuples_;
    std::int32_t* place = place_ + std::int64_t(i) * numTuples_;
    for (std::int32_t k = 0; k < total; ++k) {
      const std::int32_t t = list[k];
      const std::int32_t b = base + valueOf[t];
      const std::int32_t end = start_[b] + count_[b];
      const std::int32_t other = items_[end];
      const std::int32_t at = place[t];
      items_[at] = other;
      items_[end] = t;
      place[other] = at;
      place[t] = end;
      ++count_[b];  // recorded when it was zeroed above
    }
  }
  for (std::int32_t i = 0; i < arity_; ++i) {
    IntVar& var = *scope_[i];
    for (std::int32_t k = var.size() - 1; k >= 0; --k) {
      const std::int32_t v = var.at(k);
      if (count_[valueBase_[i] + v] == 0 && !removeOwn(i, v)) return false;
    }
  }
  return true;
}

std::int32_t TableCtRev::gatherSeveral() {
  // A tuple holding pending values at two positions sits in two gathered fronts: the marks keep
  // it once, so that it leaves each other bucket once and the buffer never overflows.
  if (++gatherEpoch_ == 0) {
    for (std::int32_t t = 0; t < numTuples_; ++t) gatherMarks_[t] = 0;
    gatherEpoch_ = 1;
  }
  const std::uint32_t epoch = gatherEpoch_;
  std::int32_t* out = tupleBuffer_;
  std::int32_t total = 0;
  for (std::int32_t p = 0; p < pendingCount_; ++p) {
    const std::int32_t i = pending_[p];
    const IntVar& var = *scope_[i];
    for (std::int32_t k = deltaFrom_[i]; k < deltaTo_[i]; ++k) {
      const std::int32_t b = valueBase_[i] + var.at(k);
      const std::int32_t* items = items_ + start_[b];
      for (std::int32_t j = 0; j < count_[b]; ++j) {
        const std::int32_t t = items[j];
        if (gatherMarks_[t] == epoch) continue;
        gatherMarks_[t] = epoch;
        out[total++] = t;
      }
    }
  }
  return total;
}

bool TableCtRev::fail() {
  for (std::int32_t i = 0; i < arity_; ++i) changed_[i] = 0;
  return false;
}

void TableCtRev::finish(PropagationQueue& queue) {
  for (std::int32_t i = 0; i < arity_; ++i) {
    if (!changed_[i]) continue;
    changed_[i] = 0;
    setLastSize(i, scope_[i]->size());
    queue.schedule(*scope_[i]);
  }
}

}  // namespace varnel
