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

// One constraint per table, each made by `make(c, scope)` from its scope's variables.
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
    return newPooled<TableCtRev>(solver, c, scope, instance.arity(c), instance.tuples(c),
                                 instance.tupleCount(c));
  });
}

CompactTableRev** buildCompactTables(Solver& solver, const CspInstance& instance,
                                     IntVar* const* vars, const InstanceSupportMasks* masks) {
  if (masks == nullptr) return nullptr;
  return buildEach<CompactTableRev>(instance, vars, [&](std::int32_t c, IntVar* const* scope) {
    return newPooled<CompactTableRev>(solver, c, scope, masks->table(c));
  });
}

std::int32_t scopeTotal(const CspInstance& instance) {
  std::int32_t total = 0;
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) total += instance.arity(c);
  return total;
}

}  // namespace

SearchSpace::SearchSpace(Solver& solver, const CspInstance& instance,
                         const InstanceSupportMasks* masks)
    : solver_(&solver),
      instance_(&instance),
      varCount_(instance.varCount()),
      constraintCount_(instance.constraintCount()),
      vars_(buildVars(solver, instance)),
      constraints_(buildConstraints(solver, instance, vars_, masks)),
      compact_(buildCompactTables(solver, instance, vars_, masks)),
      watcherList_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(scopeTotal(instance)))),
      watcherTotal_(scopeTotal(instance)),
      queue_(compact_ != nullptr ? PropagationQueue(compact_, instance.constraintCount())
                                 : PropagationQueue(constraints_, instance.constraintCount())),
      posted_(false),
      rootFailed_(false) {
  // Counting sort of (variable, constraint) pairs: each variable's constraints side by side.
  auto* start = allocateArray<std::int32_t>(static_cast<std::uint64_t>(varCount_) + 1);
  for (std::int32_t x = 0; x <= varCount_; ++x) start[x] = 0;
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    for (std::int32_t i = 0; i < instance.arity(c); ++i) ++start[instance.scope(c)[i] + 1];
  }
  for (std::int32_t x = 0; x < varCount_; ++x) start[x + 1] += start[x];
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    for (std::int32_t i = 0; i < instance.arity(c); ++i) {
      watcherList_[start[instance.scope(c)[i]]++] = c;
    }
  }
  // start[x] now ends variable x's run, which is where x + 1's begins.
  for (std::int32_t x = 0; x < varCount_; ++x) {
    const std::int32_t begin = x == 0 ? 0 : start[x - 1];
    vars_[x]->setWatchers(watcherList_ + begin, start[x] - begin);
  }
  freeArray(start, static_cast<std::uint64_t>(varCount_) + 1);
}

SearchSpace::~SearchSpace() {
  const auto count = static_cast<std::uint64_t>(constraintCount_);
  if (compact_ != nullptr) {
    for (std::uint64_t c = 0; c < count; ++c) deletePooled(compact_[c]);
    freeArray(compact_, count);
  } else {
    for (std::uint64_t c = 0; c < count; ++c) deletePooled(constraints_[c]);
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
    rootFailed_ = compact_ != nullptr ? !compact_[c]->post(queue_) : !constraints_[c]->post(queue_);
  }
  rootFailed_ = rootFailed_ || !queue_.run();
  queue_.clear();
  return !rootFailed_;
}

}  // namespace varnel
