// Depth-first search with one restoration point per node and binary branching: by default the
// unassigned variable with the smallest domain (lowest index on ties), left x = its smallest
// value, right x != that value; other variable and value orders, last-conflict reasoning and
// restarts with nogoods on request (branching.h). Counts nodes, failures and solutions; stops at
// the first solution or explores the whole tree; optionally stops after a number of nodes, or
// when another thread asks.
#pragma once

#include <atomic>
#include <cstdint>

#include "varnel/search/branching.h"
#include "varnel/search/search_space.h"

namespace varnel {

// Why a search ended before exploring its whole tree.
enum class StopReason : std::uint8_t {
  kNone = 0,       // not stopped: the tree was exhausted
  kFirstSolution,  // first-solution mode found one
  kNodeLimit,      // the node limit was reached
  kTimeLimit,      // the wall-clock limit passed
  kInterrupted,    // the user interrupted the program
};

// A request to stop, shared by every worker of one search and by whoever else may end it (a
// timer, a signal handler). The first reason set wins and is never replaced. Lock-free, so a
// signal handler may set it; searches poll it once per node with a relaxed load (the flag
// orders nothing: each worker's results are read after its thread is joined).
class StopRequest {
 public:
  // Sets `reason` unless a reason is already set; true when this call set it.
  bool request(StopReason reason);
  // The reason set, kNone while nobody asked.
  StopReason reason() const {
    return static_cast<StopReason>(flag_.load(std::memory_order_relaxed));
  }
  bool requested() const { return flag_.load(std::memory_order_relaxed) != 0; }
  // The flag itself, for a handler that can only store a byte (the platform's interrupt watch).
  std::atomic<std::uint8_t>* flag() { return &flag_; }

 private:
  std::atomic<std::uint8_t> flag_{0};
};
static_assert(std::atomic<std::uint8_t>::is_always_lock_free, "signal handlers set the flag");

// A node limit shared by several searches: each takes nodes in slices, so that the total over
// all of them never passes the limit while they rarely touch the shared counter.
class NodeBudget {
 public:
  explicit NodeBudget(std::uint64_t nodes) : remaining_(nodes) {}
  // Takes up to `want` nodes; returns how many were taken (0 once the budget is spent).
  std::uint64_t take(std::uint64_t want);
  // Gives back nodes taken and not used.
  void giveBack(std::uint64_t nodes) { remaining_.fetch_add(nodes, std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> remaining_;
};

// Counts a search adds to as it goes, for a reporter on another thread (progress lines): relaxed
// atomics on a cache line of their own, added to every kProgressNodes nodes and when a search
// ends, so that the search pays one test per node. Several searches (the workers of one parallel
// run) may add to one. Read them as a snapshot of about where the searches are.
struct alignas(64) SearchProgress {
  std::atomic<std::uint64_t> nodes{0};
  std::atomic<std::uint64_t> failures{0};
  std::atomic<std::uint64_t> solutions{0};
  std::atomic<std::uint64_t> restarts{0};
  std::atomic<std::uint64_t> subproblems{0};  // subproblems searched to their end
};
inline constexpr std::uint64_t kProgressNodes = 4096;

struct SearchOptions {
  bool allSolutions = false;    // false: stop at the first solution
  std::uint64_t nodeLimit = 0;  // stop once this many nodes were visited; 0: no limit
  // Called at every solution with every variable assigned, before backtracking from it.
  void (*onSolution)(const SearchSpace& space, void* context) = nullptr;
  void* onSolutionContext = nullptr;
  // Polled before every node; a set request ends the search at once. May be null. (Searches
  // that race for a first solution stop each other through it from onSolution.)
  StopRequest* stop = nullptr;
  // When set, nodes are taken from it instead of nodeLimit (a limit over several searches).
  NodeBudget* nodeBudget = nullptr;
  // When set, the search adds its counts to it as it goes.
  SearchProgress* progress = nullptr;
  // Variable and value orders, last conflict and restarts; the default is the original
  // branching, node for node. Restarts stay exact in all-solutions mode too: the nogoods keep
  // every subtree already explored, and its solutions, out of the next runs.
  BranchingOptions branching;
  // When set (and the branching is not the original one), the search learns into it instead of
  // a Branching of its own: a worker keeps its weights and conflicts from one subproblem to the
  // next. Built over the same space, with the same branching options.
  Branching* learnt = nullptr;
  // Called before every left branch x = value: the test's view of the decisions, step by step.
  void (*onDecision)(const SearchSpace& space, std::int32_t x, std::int32_t value,
                     void* context) = nullptr;
  void* onDecisionContext = nullptr;
};

struct SearchStatistics {
  std::uint64_t nodes = 0;                 // propagated nodes, the root included
  std::uint64_t failures = 0;              // nodes whose propagation wiped out a domain
  std::uint64_t solutions = 0;             // nodes with every variable assigned
  std::int32_t maxDepth = 0;               // deepest node below the root
  std::uint64_t restarts = 0;              // restarts made (each restart's root is a node)
  std::uint64_t nogoods = 0;               // nogoods recorded at the restarts
  bool complete = false;                   // the whole tree was explored
  StopReason stopped = StopReason::kNone;  // why not, when complete is false
};

// Searches `space` on the calling thread, posting it first if needed (the root node). Every
// node's decision is a pooled object in the solver's allocation log, released by the node's pop;
// the space is back in the state it was called in when the search returns, however it stopped.
// The search may start below open restoration points (a subproblem's decisions, made inside a
// point of the caller's): it never pops below the depth it started at, and measures maxDepth
// from there. Precondition: the space is posted, or no restoration point is open.
SearchStatistics depthFirstSearch(SearchSpace& space, const SearchOptions& options);

}  // namespace varnel
