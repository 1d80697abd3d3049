// Building, posting and releasing a search space.
#include "varnel/search/search_space.h"

#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"

namespace varnel {
namespace {

IntVar** buildVars(Solver& solver, const CspInstance& instance) {
  auto** vars = allocateArray<IntVar*>(static_cast<std::uint64_t>(instance.varCount()));
  for (std::int32_t x = 0; x < instance.varCount(); ++x) {
    vars[x] = newPooled<IntVar>(solver, x, instance.domainSize(x));
  }
  return vars;
}

// One constraint per constraint of the instance that `make(c, scope)` builds (null for the
// others), each from its scope's variables.
template <class Constraint, class Make>
Constraint** buildEach(const CspInstance& instance, IntVar* const* vars, Make make) {
  const std::int32_t count = instance.constraintCount();
  auto** constraints = allocateArray<Constraint*>(static_cast<std::uint64_t>(count));
  IntVar* scope[64];
  for (std::int32_t c = 0; c < count; ++c) {
    const std::int32_t arity = instance.arity(c);
    IntVar** s = arity <= 64 ? scope : allocateArray<IntVar*>(static_cast<std::uint64_t>(arity));
    for (std::int32_t i = 0; i < arity; ++i) s[i] = vars[instance.scope(c)[i]];
    constraints[c] = make(c, s);
    if (s != scope) freeArray(s, static_cast<std::uint64_t>(arity));
  }
  return constraints;
}

TableCtRev** buildConstraints(Solver& solver, const CspInstance& instance, IntVar* const* vars,
                              const InstanceSupportMasks* masks) {
  if (masks != nullptr) return nullptr;
  return buildEach<TableCtRev>(instance, vars, [&](std::int32_t c, IntVar* const* scope) {
    if (!instance.isTable(c)) return static_cast<TableCtRev*>(nullptr);
    VARNEL_ASSERT(instance.kind(c) == ConstraintKind::kSupports && !instance.hasStars(c));
    return newPooled<TableCtRev>(solver, c, scope, instance.arity(c), instance.tuples(c),
                                 instance.tupleCount(c));
  });
}

CompactTableRev** buildCompactTables(Solver& solver, const CspInstance& instance,
                                     IntVar* const* vars, const InstanceSupportMasks* masks) {
  if (masks == nullptr) return nullptr;
  return buildEach<CompactTableRev>(instance, vars, [&](std::int32_t c, IntVar* const* scope) {
    if (!instance.isTable(c)) return static_cast<CompactTableRev*>(nullptr);
    return newPooled<CompactTableRev>(solver, c, scope, masks->table(c));
  });
}

AllDifferentRev** buildAllDifferents(Solver& solver, const CspInstance& instance,
                                     IntVar* const* vars, AllDifferentLevel level) {
  return buildEach<AllDifferentRev>(instance, vars, [&](std::int32_t c, IntVar* const* scope) {
    if (instance.isTable(c)) return static_cast<AllDifferentRev*>(nullptr);
    return newPooled<AllDifferentRev>(solver, c, scope, instance, level);
  });
}

std::int32_t scopeTotal(const CspInstance& instance) {
  std::int32_t total = 0;
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) total += instance.arity(c);
  return total;
}

}  // namespace

SearchSpace::SearchSpace(Solver& solver, const CspInstance& instance,
                         const InstanceSupportMasks* masks, AllDifferentLevel allDifferent)
    : solver_(&solver),
      instance_(&instance),
      varCount_(instance.varCount()),
      constraintCount_(instance.constraintCount()),
      vars_(buildVars(solver, instance)),
      constraints_(buildConstraints(solver, instance, vars_, masks)),
      compact_(buildCompactTables(solver, instance, vars_, masks)),
      allDifferent_(buildAllDifferents(solver, instance, vars_, allDifferent)),
      watcherList_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(scopeTotal(instance)))),
      watcherTotal_(scopeTotal(instance)),
      queue_(instance.constraintCount()),
      posted_(false),
      rootFailed_(false) {
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    if (allDifferent_[c] != nullptr) {
      queue_.setConstraint(c, allDifferent_[c]);
    } else if (compact_ != nullptr) {
      queue_.setConstraint(c, compact_[c]);
    } else {
      queue_.setConstraint(c, constraints_[c]);
    }
  }
  // Counting sort of (variable, constraint) pairs: each variable's constraints side by side,
  // each once even where a scope names a variable twice (the lists of an allDifferent). The
  // list is sized for every scope entry; repeats leave its end unused.
  auto* start = allocateArray<std::int32_t>(static_cast<std::uint64_t>(varCount_) + 1);
  auto* lastSeen = allocateArray<std::int32_t>(static_cast<std::uint64_t>(varCount_));
  for (std::int32_t x = 0; x <= varCount_; ++x) start[x] = 0;
  for (std::int32_t x = 0; x < varCount_; ++x) lastSeen[x] = -1;
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    for (std::int32_t i = 0; i < instance.arity(c); ++i) {
      const std::int32_t x = instance.scope(c)[i];
      if (lastSeen[x] == c) continue;
      lastSeen[x] = c;
      ++start[x + 1];
    }
  }
  for (std::int32_t x = 0; x < varCount_; ++x) start[x + 1] += start[x];
  for (std::int32_t x = 0; x < varCount_; ++x) lastSeen[x] = -1;
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    for (std::int32_t i = 0; i < instance.arity(c); ++i) {
      const std::int32_t x = instance.scope(c)[i];
      if (lastSeen[x] == c) continue;
      lastSeen[x] = c;
      watcherList_[start[x]++] = c;
    }
  }
  freeArray(lastSeen, static_cast<std::uint64_t>(varCount_));
  // start[x] now ends variable x's run, which is where x + 1's begins.
  for (std::int32_t x = 0; x < varCount_; ++x) {
    const std::int32_t begin = x == 0 ? 0 : start[x - 1];
    vars_[x]->setWatchers(watcherList_ + begin, start[x] - begin);
  }
  freeArray(start, static_cast<std::uint64_t>(varCount_) + 1);
}

SearchSpace::~SearchSpace() {
  const auto count = static_cast<std::uint64_t>(constraintCount_);
  for (std::uint64_t c = 0; c < count; ++c) {
    if (allDifferent_[c] != nullptr) deletePooled(allDifferent_[c]);
  }
  freeArray(allDifferent_, count);
  if (compact_ != nullptr) {
    for (std::uint64_t c = 0; c < count; ++c) {
      if (compact_[c] != nullptr) deletePooled(compact_[c]);
    }
    freeArray(compact_, count);
  } else {
    for (std::uint64_t c = 0; c < count; ++c) {
      if (constraints_[c] != nullptr) deletePooled(constraints_[c]);
    }
    freeArray(constraints_, count);
  }
  for (std::int32_t x = 0; x < varCount_; ++x) deletePooled(vars_[x]);
  freeArray(watcherList_, static_cast<std::uint64_t>(watcherTotal_));
  freeArray(vars_, static_cast<std::uint64_t>(varCount_));
}

bool SearchSpace::post() {
  VARNEL_ASSERT(!posted_ && solver_->depth() == 0);
  posted_ = true;
  for (std::int32_t c = 0; c < constraintCount_ && !rootFailed_; ++c) {
    if (allDifferent_[c] != nullptr) {
      rootFailed_ = !allDifferent_[c]->post(queue_);
    } else {
      rootFailed_ =
          compact_ != nullptr ? !compact_[c]->post(queue_) : !constraints_[c]->post(queue_);
    }
    if (rootFailed_) queue_.noteFailure(c);
  }
  rootFailed_ = rootFailed_ || !queue_.run();
  queue_.clear();
  return !rootFailed_;
}

}  // namespace varnel
