// The search loop. Each node is entered by a push and left by its pop; a node that branches
// keeps its decision (variable, value, which child is being explored) in a pooled object logged
// inside its own restoration point, so the node's pop also gives the decision back.
#include "varnel/search/dfs.h"

#include "varnel/memory/arrays.h"

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
  void pop() { --size_; }
  bool empty() const { return size_ == 0; }
  std::int32_t size() const { return size_; }

 private:
  Decision** data_;
  std::int32_t capacity_;
  std::int32_t size_;
};

}  // namespace

SearchStatistics depthFirstSearch(SearchSpace& space, const SearchOptions& options) {
  Solver& solver = space.solver();
  VARNEL_ASSERT(solver.depth() == 0);
  SearchStatistics stats;
  DecisionStack stack;

  stats.nodes = 1;
  bool consistent = space.posted() ? !space.rootFailed() && space.propagate() : space.post();
  // The root's point holds the root's decision; the root's own propagation is never undone.
  solver.pushRestorationPoint();
  bool stopped = false;
  while (true) {
    if (consistent) {
      const std::int32_t x = space.selectVariable();
      if (x >= 0) {
        if (options.nodeLimit != 0 && stats.nodes >= options.nodeLimit) {
          stopped = true;
          break;
        }
        Decision* d = solver.newLogged<Decision>(x, space.var(x).minValue());
        stack.push(d);
        solver.pushRestorationPoint();
        ++stats.nodes;
        if (stack.size() > stats.maxDepth) stats.maxDepth = stack.size();
        space.assign(x, d->value);
        consistent = space.propagate();
        continue;
      }
      ++stats.solutions;
      if (options.onSolution != nullptr) options.onSolution(space, options.onSolutionContext);
      if (!options.allSolutions) {
        stopped = true;
        break;
      }
    } else {
      ++stats.failures;
    }
    // The current node is done: leave it, and every ancestor whose right child it was.
    solver.popRestorationPoint();
    while (!stack.empty() && stack.top()->right) {
      stack.pop();
      solver.popRestorationPoint();
    }
    if (stack.empty()) break;  // the root's point was the last one popped
    if (options.nodeLimit != 0 && stats.nodes >= options.nodeLimit) {
      stopped = true;
      break;
    }
    Decision* d = stack.top();
    d->right = true;
    solver.pushRestorationPoint();
    ++stats.nodes;
    space.removeValue(d->var, d->value);
    consistent = space.propagate();
  }
  solver.popAllRestorationPoints();
  stats.complete = !stopped;
  return stats;
}

}  // namespace varnel
