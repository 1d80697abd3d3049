// The decomposition's walk and the workers' loop over subproblems.
#include "varnel/search/decomposition.h"

#include <algorithm>
#include <cmath>

#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/assert.h"
#include "varnel/platform/platform.h"

namespace varnel {

Decomposition::Decomposition(SearchSpace& space, std::int32_t target, const StopRequest* stop)
    : path_(48), paths_(0), starts_(16), stop_(stop) {
  VARNEL_ASSERT(target >= 1 && space.solver().depth() == 0);
  starts_.pushBack(0);
  const bool rootConsistent = space.posted() ? !space.rootFailed() : space.post();
  if (!rootConsistent) {
    nodes_ = 1;
    failures_ = 1;
    return;
  }
  // Each pass re-walks the levels above its bound, so the bound jumps by as many levels as the
  // last pass's growth says are missing (at least one, rounded down so as not to overshoot).
  // Where the tree narrows with depth it may never hold `target` nodes at one level: once a pass
  // brings no more nodes than the one before and the passes together have walked more than
  // kWalkPerSubproblem nodes per subproblem asked for, more depth is not worth its cost.
  constexpr std::uint64_t kWalkPerSubproblem = 4;
  std::uint64_t walked = 0;
  std::int32_t previous = 0;
  for (std::int32_t bound = 0;;) {
    paths_.truncate(0);
    starts_.truncate(1);
    nodes_ = 0;
    failures_ = 0;
    maxDepth_ = 0;
    deeper_ = false;
    depth_ = bound;
    walk(space, 0, bound);
    walked += nodes_ + static_cast<std::uint64_t>(count());
    if (stopped_ || count() >= target || !deeper_) return;
    if (count() <= previous && walked > kWalkPerSubproblem * static_cast<std::uint64_t>(target)) {
      return;
    }
    std::int32_t step = 1;
    if (previous > 0 && count() > previous) {
      const double growth = static_cast<double>(count()) / previous;
      const double levels = std::log(static_cast<double>(target) / count()) / std::log(growth);
      if (levels >= 2) step = static_cast<std::int32_t>(std::min(levels, 64.0));
    }
    previous = count();
    bound += step;
  }
}

void Decomposition::addSubproblem() {
  for (std::int32_t i = 0; i < path_.size(); ++i) paths_.pushBack(path_[i]);
  starts_.pushBack(paths_.size());
}

// At a consistent node `depth` decisions below the root.
void Decomposition::walk(SearchSpace& space, std::int32_t depth, std::int32_t bound) {
  const std::int32_t x = space.selectVariable();
  if (x < 0 || depth == bound) {
    deeper_ = deeper_ || x >= 0;
    addSubproblem();
    return;
  }
  ++nodes_;
  Solver& solver = space.solver();
  const std::int32_t value = space.var(x).minValue();
  for (const bool equal : {true, false}) {
    if (stop_ != nullptr && stop_->requested()) {
      stopped_ = true;
      return;
    }
    solver.pushRestorationPoint();
    equal ? space.assign(x, value) : space.removeValue(x, value);
    path_.pushBack(x);
    path_.pushBack(value);
    path_.pushBack(equal ? 1 : 0);
    if (depth + 1 > maxDepth_) maxDepth_ = depth + 1;
    if (space.propagate()) {
      walk(space, depth + 1, bound);
    } else {
      ++nodes_;
      ++failures_;
    }
    path_.truncate(path_.size() - 3);
    solver.popRestorationPoint();
    if (stopped_) return;
  }
}

bool Decomposition::enter(SearchSpace& space, std::int32_t k) const {
  space.solver().pushRestorationPoint();
  for (std::int32_t i = 0; i < pathLength(k); ++i) {
    const PathDecision d = decision(k, i);
    d.equal ? space.assign(d.var, d.value) : space.removeValue(d.var, d.value);
    if (!space.propagate()) return false;
  }
  return true;
}

SearchStatistics searchSubproblems(SearchSpace& space, const Decomposition& decomposition,
                                   SubproblemCursor& cursor, const SearchOptions& options,
                                   std::int32_t worker, SubproblemRecord* records) {
  SearchStatistics total;
  if (!space.posted()) space.post();
  while (true) {
    if (options.stop != nullptr && options.stop->requested()) {
      total.stopped = options.stop->reason();
      break;
    }
    const std::int32_t k = cursor.take();
    if (k >= decomposition.count()) break;
    const std::int64_t start = platform::counterNow();
    const bool consistent = decomposition.enter(space, k);
    VARNEL_ASSERT(consistent);
    SearchStatistics s;
    if (consistent) {
      s = depthFirstSearch(space, options);
    } else {
      s.nodes = s.failures = 1;
      s.complete = true;
    }
    space.solver().popRestorationPoint();
    total.nodes += s.nodes;
    total.failures += s.failures;
    total.solutions += s.solutions;
    const std::int32_t depth = decomposition.pathLength(k) + s.maxDepth;
    if (depth > total.maxDepth) total.maxDepth = depth;
    if (records != nullptr) {
      records[k].nodes = s.nodes;
      records[k].solutions = s.solutions;
      records[k].ticks = platform::counterNow() - start;
      records[k].worker = worker;
    }
    if (!s.complete) {
      total.stopped = s.stopped;
      break;
    }
  }
  total.complete = total.stopped == StopReason::kNone;
  return total;
}

CspInstance* subproblemInstance(const CspInstance& instance, const Decomposition& decomposition,
                                std::int32_t k) {
  std::int32_t widest = 1;
  for (std::int32_t x = 0; x < instance.varCount(); ++x) {
    if (instance.domainSize(x) > widest) widest = instance.domainSize(x);
  }
  auto* values = allocateArray<std::int64_t>(static_cast<std::uint64_t>(widest));
  auto* rows = allocateArray<std::int32_t>(static_cast<std::uint64_t>(widest));
  auto* copy = newPooled<CspInstance>(instance.varCount());
  for (std::int32_t x = 0; x < instance.varCount(); ++x) {
    for (std::int32_t v = 0; v < instance.domainSize(x); ++v) values[v] = instance.value(x, v);
    copy->setDomain(x, values, instance.domainSize(x));
  }
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
    copy->addConstraint(instance.scope(c), instance.arity(c), instance.tuples(c),
                        instance.tupleCount(c));
  }
  for (std::int32_t i = 0; i < decomposition.pathLength(k); ++i) {
    const PathDecision d = decomposition.decision(k, i);
    std::int32_t count = 0;
    for (std::int32_t v = 0; v < instance.domainSize(d.var); ++v) {
      if ((v == d.value) == d.equal) rows[count++] = v;
    }
    copy->addConstraint(&d.var, 1, rows, count);
  }
  freeArray(rows, static_cast<std::uint64_t>(widest));
  freeArray(values, static_cast<std::uint64_t>(widest));
  return copy;
}

}  // namespace varnel
