// Depth-first search with one restoration point per node and binary branching: the unassigned
// variable with the smallest domain (lowest index on ties), left x = its smallest value, right
// x != that value. Counts nodes, failures and solutions; stops at the first solution or explores
// the whole tree; optionally stops after a number of nodes.
#pragma once

#include <cstdint>

#include "varnel/search/search_space.h"

namespace varnel {

struct SearchOptions {
  bool allSolutions = false;    // false: stop at the first solution
  std::uint64_t nodeLimit = 0;  // stop once this many nodes were visited; 0: no limit
  // Called at every solution with every variable assigned, before backtracking from it.
  void (*onSolution)(const SearchSpace& space, void* context) = nullptr;
  void* onSolutionContext = nullptr;
};

struct SearchStatistics {
  std::uint64_t nodes = 0;      // propagated nodes, the root included
  std::uint64_t failures = 0;   // nodes whose propagation wiped out a domain
  std::uint64_t solutions = 0;  // nodes with every variable assigned
  std::int32_t maxDepth = 0;    // deepest node below the root
  bool complete = false;        // the whole tree was explored
};

// Searches `space` on the calling thread, posting it first if needed (the root node). Every
// node's decision is a pooled object in the solver's allocation log, released by the node's pop;
// the space is back in its root state when the search returns, however it stopped.
// Precondition: no restoration point open on the space's solver.
SearchStatistics depthFirstSearch(SearchSpace& space, const SearchOptions& options);

}  // namespace varnel
