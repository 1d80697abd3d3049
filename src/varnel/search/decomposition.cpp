// The decomposition's walk and the workers' loop over subproblems.
#include "varnel/search/decomposition.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/assert.h"
#include "varnel/platform/platform.h"

namespace varnel {

namespace {

// Fixed-point units of the estimate below: exact integers compare the same on every run.
constexpr double kEstimateUnit = 65536.0;

// The size of the tree below a node, guessed from its domains: log2 of the product of the
// unassigned variables' domain sizes (the leaves of an unpropagated tree below it).
std::int64_t subtreeEstimate(const SearchSpace& space) {
  double bits = 0;
  for (std::int32_t x = 0; x < space.varCount(); ++x) {
    const std::int32_t size = space.var(x).size();
    if (size > 1) bits += std::log2(static_cast<double>(size));
  }
  return std::llround(bits * kEstimateUnit);
}

}  // namespace

Decomposition::Decomposition(SearchSpace& space, std::int32_t target, const StopRequest* stop)
    : path_(48), paths_(0), starts_(16), open_(16), stop_(stop) {
  VARNEL_ASSERT(target >= 1 && space.solver().depth() == 0);
  starts_.pushBack(0);
  const bool rootConsistent = space.posted() ? !space.rootFailed() : space.post();
  if (!rootConsistent) {
    nodes_ = 1;
    failures_ = 1;
    return;
  }
  // Each pass walks from the root and branches on every node whose estimate is above the bound,
  // so the largest subtrees are split first and the subproblems come out of comparable size
  // (a bound on depth leaves the right spine's nodes, x != v, x != w, ..., with most of the
  // work). The next bound splits the pass's open leaves, largest first (and, below them, every
  // node still above it): as many as the missing subproblems need if each brings as many as
  // those the bound before split did, at least one. Since a split leaf may hide a tree of failures
  // or of nodes still above the bound, a pass that walks more than the last whole pass plus four
  // nodes per missing subproblem is cut short and walked again splitting half as many (a bound
  // that splits only the largest leaves is never cut: they split once). Where the tree narrows with
  // depth splitting may bring no more subproblems: once a pass brings no more than the one
  // before and the passes together have walked more than kWalkPerSubproblem nodes per
  // subproblem asked for, it is not worth its cost.
  constexpr std::uint64_t kWalkPerSubproblem = 4;
  std::uint64_t walked = 0;
  std::int32_t previous = 0;
  std::int64_t* estimates = nullptr;  // the open leaves' estimates of the last whole pass
  std::int32_t open = 0;
  std::int32_t split = 0;      // how many of them, the largest, the bound splits
  std::int32_t splitLast = 0;  // how many the last whole pass's bound split (ties included)
  std::int64_t lastWalk = 0;   // the last whole pass's nodes and subproblems
  for (bound_ = INT64_MAX;;) {
    paths_.truncate(0);
    starts_.truncate(1);
    open_.truncate(0);
    nodes_ = 0;
    failures_ = 0;
    maxDepth_ = 0;
    overflow_ = false;
    cap_ = split > 1 ? lastWalk + 4 * static_cast<std::int64_t>(target - previous) : INT64_MAX;
    walk(space, 0);
    walked += nodes_ + static_cast<std::uint64_t>(count());
    if (overflow_) {
      split /= 2;
    } else {
      if (stopped_ || count() >= target || open_.size() == 0) break;
      if (count() <= previous && walked > kWalkPerSubproblem * static_cast<std::uint64_t>(target)) {
        break;
      }
      // A split leaf brings on average as many subproblems as the last pass's did.
      const std::int32_t missing = target - count();
      split = missing;
      if (splitLast > 0 && count() > previous) {
        const double gain = static_cast<double>(count() - previous) / splitLast;
        if (gain > 1) split = static_cast<std::int32_t>(std::ceil(missing / gain));
      }
      previous = count();
      lastWalk = static_cast<std::int64_t>(nodes_) + count();
      if (estimates != nullptr) freeArray(estimates, static_cast<std::uint64_t>(open));
      open = open_.size();
      split = std::min(split, open);
      estimates = allocateArray<std::int64_t>(static_cast<std::uint64_t>(open));
      std::copy(open_.data(), open_.data() + open, estimates);
    }
    std::nth_element(estimates, estimates + split - 1, estimates + open,
                     std::greater<std::int64_t>());
    bound_ = estimates[split - 1] - 1;
    splitLast = static_cast<std::int32_t>(
        std::count_if(estimates, estimates + open, [&](std::int64_t e) { return e > bound_; }));
  }
  if (estimates != nullptr) freeArray(estimates, static_cast<std::uint64_t>(open));
}

void Decomposition::addSubproblem() {
  for (std::int32_t i = 0; i < path_.size(); ++i) paths_.pushBack(path_[i]);
  starts_.pushBack(paths_.size());
}

// At a consistent node `depth` decisions below the root.
void Decomposition::walk(SearchSpace& space, std::int32_t depth) {
  if (static_cast<std::int64_t>(nodes_) + count() > cap_) {
    overflow_ = true;
    return;
  }
  const std::int32_t x = space.selectVariable();
  if (x < 0) {
    addSubproblem();
    return;
  }
  const std::int64_t estimate = subtreeEstimate(space);
  if (estimate <= bound_) {
    open_.pushBack(estimate);
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
      walk(space, depth + 1);
    } else {
      ++nodes_;
      ++failures_;
    }
    path_.truncate(path_.size() - 3);
    solver.popRestorationPoint();
    if (stopped_ || overflow_) return;
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
                                   std::int32_t worker, SubproblemRecord* records,
                                   const SubproblemListener* listener) {
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
    if (listener != nullptr && listener->started != nullptr)
      listener->started(k, listener->context);
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
    total.restarts += s.restarts;
    total.nogoods += s.nogoods;
    const std::int32_t depth = decomposition.pathLength(k) + s.maxDepth;
    if (depth > total.maxDepth) total.maxDepth = depth;
    if (options.progress != nullptr && s.complete) {
      options.progress->subproblems.fetch_add(1, std::memory_order_relaxed);
    }
    if (listener != nullptr && listener->ended != nullptr && s.complete) {
      listener->ended(k, listener->context);
    }
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
  auto* rows = allocateArray<std::int32_t>(static_cast<std::uint64_t>(widest));
  CspInstance* copy = copyInstance(instance);
  for (std::int32_t i = 0; i < decomposition.pathLength(k); ++i) {
    const PathDecision d = decomposition.decision(k, i);
    std::int32_t count = 0;
    for (std::int32_t v = 0; v < instance.domainSize(d.var); ++v) {
      if ((v == d.value) == d.equal) rows[count++] = v;
    }
    copy->addConstraint(&d.var, 1, rows, count);
  }
  freeArray(rows, static_cast<std::uint64_t>(widest));
  return copy;
}

}  // namespace varnel
