// DigraphRev: the reversible Digraph. Arc creation and addition are recorded on the solver's
// trail; popping a restoration point forgets the arcs created and added since it was pushed.
#pragma once

#include <cstdint>

#include "varnel/containers/set_rev.h"
#include "varnel/solver/arc_adjacency.h"
#include "varnel/solver/digraph.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class DigraphRev : public Reversible {
 public:
  static constexpr std::int32_t kNodeCount = Digraph::kNodeCount;
  static constexpr std::int32_t kSlotCapacity = Digraph::kSlotCapacity;
  static constexpr std::int32_t kArcCapacity = Digraph::kArcCapacity;
  static constexpr std::int32_t kArcIdCount = Digraph::kArcIdCount;

  // The sizes of Digraph; every reversible part records on `solver`.
  explicit DigraphRev(Solver& solver);
  // Destroys nodeSet, arcSet, outArcs, inArcs.
  ~DigraphRev() override = default;

  // As Digraph::createArc; each side registers on the trail before its first change at the
  // current restoration point.
  std::int32_t createArc(std::int32_t tail, std::int32_t head);
  // As Digraph::addArc, with the three set updates recorded.
  void addArc(std::int32_t a);

  const ArcAdjacencyRev& inArcs() const { return inArcs_; }
  const ArcAdjacencyRev& outArcs() const { return outArcs_; }
  const SetRev& arcSet() const { return arcSet_; }
  const SetRev& nodeSet() const { return nodeSet_; }

 private:
  ArcAdjacencyRev inArcs_;
  ArcAdjacencyRev outArcs_;
  SetRev arcSet_;
  SetRev nodeSet_;
};

// --- Inline definitions ------------------------------------------------------------------

inline std::int32_t DigraphRev::createArc(std::int32_t tail, std::int32_t head) {
  Solver& solver = arcSet_.solver();
  inArcs_.saveOnce(solver);
  const std::int32_t a = inArcs_.fileArc(head);
  outArcs_.saveOnce(solver);
  outArcs_.fileArc(tail);
  return a;
}

inline void DigraphRev::addArc(std::int32_t a) {
  arcSet_.pushBack(a);
  inArcs_.linkArc(a);
  outArcs_.linkArc(a);
}

}  // namespace varnel
