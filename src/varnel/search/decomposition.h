// Splitting one search into independent subproblems, after "Embarrassingly Parallel Search"
// (Régin, Rezgui and Malapert, CP 2013): the top of the search tree is walked with the search's
// own branching until it holds many more consistent nodes than there are workers; each such node
// is a subproblem (its path of decisions from the root), searched on its own by whichever worker
// takes it next, with no communication in between.
#pragma once

#include <atomic>
#include <cstdint>

#include "varnel/containers/succession_int.h"
#include "varnel/search/dfs.h"
#include "varnel/search/search_space.h"
#include "varnel/solver/reversible.h"

namespace varnel {

// One decision on a path from the root: x = value (equal) or x != value, value an index.
struct PathDecision {
  std::int32_t var;
  std::int32_t value;
  bool equal;
};

class Decomposition : public Reversible {
 public:
  // Walks the top of `space`'s tree with depthFirstSearch's branching, splitting the nodes with
  // the largest estimated subtrees (log2 of the product of the unassigned domain sizes) first,
  // in passes from the root that lower the estimate a node needs to be split (so that every node
  // is propagated as the search would), until the walk leaves at least `target` consistent nodes
  // or none of them can branch. The subproblems are the consistent nodes of the last pass that it
  // did not branch on, in the depth-first order of the one-thread search, so that subproblem
  // after subproblem walks that search's tree: their counts add up to its counts. Nodes proved
  // inconsistent on the way are failures of the decomposition. Polls `stop` (may be null) at
  // every node; a set request ends the walk with stopped() true. Posts the space if needed;
  // leaves it at its root. Precondition: target >= 1; no restoration point open on the space's
  // solver.
  Decomposition(SearchSpace& space, std::int32_t target, const StopRequest* stop);
  ~Decomposition() override = default;

  std::int32_t count() const { return starts_.size() - 1; }
  std::int32_t pathLength(std::int32_t k) const { return (starts_[k + 1] - starts_[k]) / 3; }
  PathDecision decision(std::int32_t k, std::int32_t i) const;
  // Nodes the decomposition branched on or proved inconsistent (the subproblems' own roots are
  // counted by their searches), and the inconsistent ones among them.
  std::uint64_t nodes() const { return nodes_; }
  std::uint64_t failures() const { return failures_; }
  // The deepest node it propagated below the root (the search's maxDepth of those nodes).
  std::int32_t maxDepth() const { return maxDepth_; }
  bool stopped() const { return stopped_; }

  // Opens a restoration point on `space` and makes subproblem k's decisions in it, propagating
  // after each as the search did; the caller pops the point when done. False on a wipe-out, which
  // never happens to a space over the instance the decomposition was made on.
  bool enter(SearchSpace& space, std::int32_t k) const;

 private:
  void walk(SearchSpace& space, std::int32_t depth);
  void addSubproblem();

  SuccessionInt path_;    // the current path, three ints per decision
  SuccessionInt paths_;   // every subproblem's path, side by side
  SuccessionInt starts_;  // where each path starts in paths_, then the end
  SuccessionInt64 open_;  // the estimates of the pass's subproblems that could branch
  const StopRequest* stop_;
  std::uint64_t nodes_ = 0;
  std::uint64_t failures_ = 0;
  std::int64_t bound_ = 0;  // the pass branches on nodes whose estimate is above it
  std::int32_t maxDepth_ = 0;
  std::int64_t cap_ = 0;   // a pass that walks more nodes and subproblems is cut short
  bool overflow_ = false;  // the pass was cut short
  bool stopped_ = false;
};

// Hands subproblems 0, 1, 2, ... to whichever worker asks next. Lock-free.
class SubproblemCursor {
 public:
  // The next subproblem's index; count() or more once all are taken.
  std::int32_t take() { return next_.fetch_add(1, std::memory_order_relaxed); }

 private:
  std::atomic<std::int32_t> next_{0};
};

// What one subproblem's search took: written by the worker that searched it.
struct SubproblemRecord {
  std::uint64_t nodes = 0;
  std::uint64_t solutions = 0;
  std::int64_t ticks = 0;    // counter units of its search, replay included
  std::int32_t worker = -1;  // -1: not searched (the search stopped first)
};

// Told as a worker starts each subproblem and as it ends one searched to its end (not one a stop
// cut short), on the worker's thread; either function may be null.
struct SubproblemListener {
  void (*started)(std::int32_t k, void* context) = nullptr;
  void (*ended)(std::int32_t k, void* context) = nullptr;
  void* context = nullptr;
};

// One worker's loop: takes subproblems from `cursor` until none is left or the search stops,
// enters each in `space` (posted over the decomposition's instance), searches it with `options`
// and adds up the statistics (maxDepth counts the subproblem's path). complete is true when this
// worker stopped only because no subproblem was left. `records` (may be null) gets each searched
// subproblem's nodes and time. The space is left at its root.
SearchStatistics searchSubproblems(SearchSpace& space, const Decomposition& decomposition,
                                   SubproblemCursor& cursor, const SearchOptions& options,
                                   std::int32_t worker, SubproblemRecord* records,
                                   const SubproblemListener* listener = nullptr);

// Subproblem k as an instance of its own, for another solver or machine: a copy of `instance`
// (which the decomposition was made on) with one unary table per decision, x = v allowing v
// alone and x != v every other value of x. In the calling thread's pools (deletePooled).
CspInstance* subproblemInstance(const CspInstance& instance, const Decomposition& decomposition,
                                std::int32_t k);

// --- Inline definitions ------------------------------------------------------------------

inline PathDecision Decomposition::decision(std::int32_t k, std::int32_t i) const {
  const std::int32_t at = starts_[k] + 3 * i;
  return PathDecision{paths_[at], paths_[at + 1], paths_[at + 2] != 0};
}

}  // namespace varnel
