// Graph: an undirected graph of fixed size whose edges are created first (endpoints and slot
// numbers fixed) and added afterwards, so that adding one only links precomputed numbers.
#pragma once

#include <cstdint>

#include "varnel/containers/set.h"
#include "varnel/solver/edge_adjacency.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class Graph : public Reversible {
 public:
  static constexpr std::int32_t kNodeCount = EdgeAdjacency::kNodeCount;
  static constexpr std::int32_t kEdgeIdCount = 1000000;  // universe of the edge set

  // The edge ends (1000 shared records of 100 slots, 100,000 edges), then the edge and node sets.
  Graph();
  // Destroys nodeSet, edgeSet, then the edge ends.
  ~Graph() override = default;

  // Creates the next edge id between u and v: known at both ends, not present. Precondition:
  // at most 100 edges at a node (both ends together) and 100,000 edges in all.
  std::int32_t createEdge(std::int32_t u, std::int32_t v);
  // Makes created edge e present: into the edge set, then its slot at each end. Precondition:
  // e is not present.
  void addEdge(std::int32_t e);

  const EdgeAdjacency& edgeEnds() const { return edgeEnds_; }
  // Present edges, in order of addition.
  const Set& edgeSet() const { return edgeSet_; }
  // Built empty; node operations are not offered yet.
  const Set& nodeSet() const { return nodeSet_; }

 private:
  EdgeAdjacency edgeEnds_;
  Set edgeSet_;
  Set nodeSet_;
};

// --- Inline definitions ------------------------------------------------------------------

inline std::int32_t Graph::createEdge(std::int32_t u, std::int32_t v) {
  return edgeEnds_.createEdge(u, v);
}

inline void Graph::addEdge(std::int32_t e) {
  edgeSet_.pushBack(e);
  edgeEnds_.linkEdge(e);
}

}  // namespace varnel
