// Digraph: a directed graph of fixed size whose arcs are created first (endpoints and slot
// numbers fixed) and added afterwards, so that adding one only links precomputed numbers.
#pragma once

#include <cstdint>

#include "varnel/containers/set.h"
#include "varnel/solver/arc_adjacency.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class Digraph : public Reversible {
 public:
  static constexpr std::int32_t kNodeCount = 1000;      // node ids 0 .. 999
  static constexpr std::int32_t kSlotCapacity = 100;    // arcs per node and side
  static constexpr std::int32_t kArcCapacity = 100000;  // arcs created, at most
  static constexpr std::int32_t kArcIdCount = 1000000;  // universe of the arc set

  // inArcs and outArcs with their own 1000 records of 100 slots, then the arc and node sets.
  Digraph();
  // Destroys nodeSet, arcSet, outArcs, inArcs.
  ~Digraph() override = default;

  // Creates the next arc id from tail to head: known at both ends, not present. Precondition:
  // fewer than kArcCapacity arcs, fewer than kSlotCapacity arcs at each endpoint and side.
  std::int32_t createArc(std::int32_t tail, std::int32_t head);
  // Makes created arc a present: into the arc set, then its slot at the head, then at the tail.
  // Precondition: a is not present.
  void addArc(std::int32_t a);

  // Arcs filed under their head.
  const ArcAdjacency& inArcs() const { return inArcs_; }
  // Arcs filed under their tail.
  const ArcAdjacency& outArcs() const { return outArcs_; }
  // Present arcs, in order of addition.
  const Set& arcSet() const { return arcSet_; }
  // Built empty; node operations are not offered yet.
  const Set& nodeSet() const { return nodeSet_; }

 private:
  ArcAdjacency inArcs_;
  ArcAdjacency outArcs_;
  Set arcSet_;
  Set nodeSet_;
};

// --- Inline definitions ------------------------------------------------------------------

inline std::int32_t Digraph::createArc(std::int32_t tail, std::int32_t head) {
  const std::int32_t a = inArcs_.fileArc(head);
  outArcs_.fileArc(tail);
  return a;
}

inline void Digraph::addArc(std::int32_t a) {
  arcSet_.pushBack(a);
  inArcs_.linkArc(a);
  outArcs_.linkArc(a);
}

}  // namespace varnel
