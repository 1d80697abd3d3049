// The search loop. Each node is entered by a push and left by its pop; a node that branches
// keeps its decision (variable, value, which child is being explored) in a pooled object logged
// inside its own restoration point, so the node's pop also gives the decision back.
#include "varnel/search/dfs.h"

#include <optional>
#include <vector>

#include "varnel/memory/arrays.h"
#include "varnel/search/nogoods.h"

namespace varnel {
namespace {

class Decision final : public Reversible {
 public:
  Decision(std::int32_t var, std::int32_t value) : var(var), value(value), right(false) {}
  std::int32_t var;
  std::int32_t value;
  bool right;  // the right child (x != value) is being explored
};

// The open decisions, the innermost last, in a pooled array grown by doubling.
class DecisionStack {
 public:
  DecisionStack() : data_(allocateArray<Decision*>(64)), capacity_(64), size_(0) {}
  ~DecisionStack() { freeArray(data_, static_cast<std::uint64_t>(capacity_)); }
  void push(Decision* d) {
    if (size_ == capacity_) [[unlikely]] {
      data_ = growArray(data_, capacity_, 2 * std::uint64_t(capacity_));
      capacity_ *= 2;
    }
    data_[size_++] = d;
  }
  Decision* top() const { return data_[size_ - 1]; }
  // The k-th open decision from the root.
  Decision* at(std::int32_t k) const { return data_[k]; }
  void pop() { --size_; }
  // Forgets every decision (their points are about to be popped).
  void clear() { size_ = 0; }
  bool empty() const { return size_ == 0; }
  std::int32_t size() const { return size_; }

 private:
  Decision** data_;
  std::int32_t capacity_;
  std::int32_t size_;
};

// Nodes taken from a shared budget at a time: few enough that the nodes left unused in the other
// searches when one runs dry are a small part of a limit, many enough that the shared counter is
// touched once per tens of microseconds of search.
constexpr std::uint64_t kBudgetSlice = 64;

// The nodes this search may still open: the node limit, a shared budget's slices, or no end.
class Allowance {
 public:
  explicit Allowance(const SearchOptions& options)
      : shared_(options.nodeBudget),
        left_(shared_ != nullptr       ? 0
              : options.nodeLimit != 0 ? options.nodeLimit
                                       : UINT64_MAX) {}
  ~Allowance() {
    if (shared_ != nullptr && left_ != 0) shared_->giveBack(left_);
  }
  bool take() {
    if (left_ == 0) [[unlikely]] {
      if (shared_ == nullptr || (left_ = shared_->take(kBudgetSlice)) == 0) return false;
    }
    --left_;
    return true;
  }

 private:
  NodeBudget* shared_;
  std::uint64_t left_;
};

// Adds what a search counted since the last time to its progress counters.
class ProgressPublisher {
 public:
  explicit ProgressPublisher(SearchProgress* progress) : progress_(progress) {}
  void publish(const SearchStatistics& s) {
    if (progress_ == nullptr) return;
    progress_->nodes.fetch_add(s.nodes - done_.nodes, std::memory_order_relaxed);
    progress_->failures.fetch_add(s.failures - done_.failures, std::memory_order_relaxed);
    progress_->solutions.fetch_add(s.solutions - done_.solutions, std::memory_order_relaxed);
    progress_->restarts.fetch_add(s.restarts - done_.restarts, std::memory_order_relaxed);
    done_ = s;
  }

 private:
  SearchProgress* progress_;
  SearchStatistics done_;
};

}  // namespace

bool StopRequest::request(StopReason reason) {
  std::uint8_t none = 0;
  return flag_.compare_exchange_strong(none, static_cast<std::uint8_t>(reason),
                                       std::memory_order_relaxed);
}

std::uint64_t NodeBudget::take(std::uint64_t want) {
  std::uint64_t left = remaining_.load(std::memory_order_relaxed);
  std::uint64_t taken = 0;
  do {
    taken = left < want ? left : want;
  } while (taken != 0 &&
           !remaining_.compare_exchange_weak(left, left - taken, std::memory_order_relaxed));
  return taken;
}

namespace {

// The search loop, written once for the original branching (kPlain: no Branching consulted,
// nothing learnt, so that it costs what it always did) and once for every other choice.
template <bool kPlain>
SearchStatistics searchTree(SearchSpace& space, const SearchOptions& options) {
  Solver& solver = space.solver();
  VARNEL_ASSERT(space.posted() || solver.depth() == 0);
  const std::uint64_t baseDepth = solver.depth();
  SearchStatistics stats;
  Allowance allowance(options);
  if (!allowance.take()) {
    stats.stopped = StopReason::kNodeLimit;
    return stats;
  }
  DecisionStack stack;
  ProgressPublisher publisher(options.progress);
  std::optional<Branching> own;
  Branching* branching = options.learnt;
  std::optional<NogoodStore> nogoods;
  const bool restarting = !kPlain && options.branching.restarts != RestartPolicy::kNone;
  if (!kPlain && branching == nullptr) branching = &own.emplace(options.branching, space);
  if (restarting) nogoods.emplace(space);

  // Propagation to the fixpoint of the tables and, once some are recorded, of the nogoods.
  auto propagate = [&]() {
    if (!space.propagate()) return false;
    if (!restarting || nogoods->empty()) return true;
    while (true) {
      const NogoodStore::Outcome outcome = nogoods->propagate(space);
      if (outcome == NogoodStore::Outcome::kQuiet) return true;
      if (outcome == NogoodStore::Outcome::kConflict) {
        space.dropPending();
        return false;
      }
      if (!space.propagate()) return false;
    }
  };

  stats.nodes = 1;
  bool consistent = space.posted() ? !space.rootFailed() && space.propagate() : space.post();
  // With restarts, a point of its own under the root holds what each restart learnt at the root.
  if (restarting) solver.pushRestorationPoint();
  // The root's point holds the root's decision; the root's own propagation is never undone.
  solver.pushRestorationPoint();
  std::uint64_t failuresLeft = restarting ? restartCutoff(options.branching, 0) : 0;
  // Before every node: progress now and then, another thread's request, then the node limit.
  auto mayOpenNode = [&]() {
    if (stats.nodes % kProgressNodes == 0) [[unlikely]]
      publisher.publish(stats);
    if (options.stop != nullptr && options.stop->requested()) [[unlikely]] {
      stats.stopped = options.stop->reason();
      return false;
    }
    if (!allowance.take()) [[unlikely]] {
      stats.stopped = StopReason::kNodeLimit;
      return false;
    }
    return true;
  };
  std::vector<std::int32_t> nogoodVars;
  std::vector<std::int32_t> nogoodValues;
  while (true) {
    if (consistent) {
      std::int32_t x;
      if constexpr (kPlain) {
        x = space.selectVariable();
      } else {
        x = branching->selectVariable(space);
      }
      if (x >= 0) {
        if (!mayOpenNode()) break;
        std::int32_t value;
        if constexpr (kPlain) {
          value = space.var(x).minValue();
        } else {
          value = branching->selectValue(space, x);
        }
        if (options.onDecision != nullptr) {
          options.onDecision(space, x, value, options.onDecisionContext);
        }
        Decision* d = solver.newLogged<Decision>(x, value);
        stack.push(d);
        solver.pushRestorationPoint();
        ++stats.nodes;
        if (stack.size() > stats.maxDepth) stats.maxDepth = stack.size();
        space.assign(x, d->value);
        consistent = propagate();
        if constexpr (!kPlain) {
          if (consistent) branching->onAssigned(x);
        }
        continue;
      }
      ++stats.solutions;
      if (options.onSolution != nullptr) options.onSolution(space, options.onSolutionContext);
      if (!options.allSolutions) {
        stats.stopped = StopReason::kFirstSolution;
        break;
      }
    } else {
      ++stats.failures;
      if constexpr (!kPlain) {
        branching->onFailure(space.queue().failedConstraint(),
                             stack.empty() ? -1 : stack.top()->var);
        if (failuresLeft > 0) --failuresLeft;
      }
    }
    // The current node is done: leave it, and every ancestor whose right child it was.
    solver.popRestorationPoint();
    while (!stack.empty() && stack.top()->right) {
      stack.pop();
      solver.popRestorationPoint();
    }
    if (stack.empty()) break;  // the root's point was the last one popped
    if (restarting && failuresLeft == 0) {
      // The top decision's left subtree is done: the branch, with x != v there, gives one
      // reduced nld-nogood per negative decision: the positive decisions above it and x = v.
      stack.top()->right = true;
      nogoodVars.clear();
      nogoodValues.clear();
      for (std::int32_t k = 0; k < stack.size(); ++k) {
        const Decision* d = stack.at(k);
        nogoodVars.push_back(d->var);
        nogoodValues.push_back(d->value);
        if (d->right) {
          nogoods->add(nogoodVars.data(), nogoodValues.data(),
                       static_cast<std::int32_t>(nogoodVars.size()));
          ++stats.nogoods;
          nogoodVars.pop_back();
          nogoodValues.pop_back();
        }
      }
      stack.clear();
      while (solver.depth() > baseDepth) solver.popRestorationPoint();
      ++stats.restarts;
      failuresLeft = restartCutoff(options.branching, stats.restarts);
      if (!mayOpenNode()) break;
      ++stats.nodes;
      solver.pushRestorationPoint();
      consistent = nogoods->removeUnary(space) && propagate();
      if (!consistent) space.dropPending();
      solver.pushRestorationPoint();
      continue;
    }
    if (!mayOpenNode()) break;
    Decision* d = stack.top();
    d->right = true;
    solver.pushRestorationPoint();
    ++stats.nodes;
    space.removeValue(d->var, d->value);
    consistent = propagate();
  }
  while (solver.depth() > baseDepth) solver.popRestorationPoint();
  stats.complete = stats.stopped == StopReason::kNone;
  publisher.publish(stats);
  return stats;
}

}  // namespace

SearchStatistics depthFirstSearch(SearchSpace& space, const SearchOptions& options) {
  return options.branching.plain() ? searchTree<true>(space, options)
                                   : searchTree<false>(space, options);
}

}  // namespace varnel
