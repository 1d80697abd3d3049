// EdgeAdjacency and EdgeAdjacencyRev: the two ends of every edge of an undirected graph, filed
// in two sides that share one table of node records, so a node numbers all its edges together.
#pragma once

#include <cstdint>

#include "varnel/solver/arc_adjacency.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class EdgeAdjacency : public Reversible {
 public:
  static constexpr std::int32_t kNodeCount = 1000;
  static constexpr std::int32_t kSlotCapacity = 100;
  static constexpr std::int32_t kArcCapacity = 100000;

  // firstEnds with its 1000 records of 100 slots, then secondEnds sharing them.
  EdgeAdjacency();
  // Destroys secondEnds (its own arrays only), then firstEnds (the records too).
  ~EdgeAdjacency() override = default;

  // Creates the next edge id between u and v: a slot at u (first end), then one at v (second
  // end). Ids are counted by firstEnds alone. Precondition: capacities as for the graphs.
  std::int32_t createEdge(std::int32_t u, std::int32_t v);
  // Makes created edge e present at both ends: first end, then second end.
  void linkEdge(std::int32_t e);

  const ArcAdjacency& firstEnds() const { return firstEnds_; }
  const ArcAdjacency& secondEnds() const { return secondEnds_; }

 private:
  ArcAdjacency firstEnds_;
  ArcAdjacency secondEnds_;
};

class EdgeAdjacencyRev : public Reversible {
 public:
  // firstEnds with nodeCount reversible records of slotCapacity slots built with `solver` and
  // room for nodeCount x slotCapacity edges; secondEnds sharing the records.
  EdgeAdjacencyRev(Solver& solver, std::int32_t nodeCount, std::int32_t slotCapacity);
  ~EdgeAdjacencyRev() override = default;

  // As EdgeAdjacency::createEdge, with firstEnds registered on `solver`'s trail first (the
  // solver the records were built with). A pop gives back the slots at both ends.
  std::int32_t createEdge(Solver& solver, std::int32_t u, std::int32_t v);
  void linkEdge(std::int32_t e);
  // Both sides back to fresh (the shared records are met twice).
  void clear();

  const ArcAdjacencyRev& firstEnds() const { return firstEnds_; }
  const ArcAdjacencyRev& secondEnds() const { return secondEnds_; }

 private:
  ArcAdjacencyRev firstEnds_;
  ArcAdjacencyRev secondEnds_;
};

// --- Inline definitions ------------------------------------------------------------------

inline std::int32_t EdgeAdjacency::createEdge(std::int32_t u, std::int32_t v) {
  const std::int32_t e = firstEnds_.fileArc(u);
  secondEnds_.fileArcAs(e, v);
  return e;
}

inline void EdgeAdjacency::linkEdge(std::int32_t e) {
  firstEnds_.linkArc(e);
  secondEnds_.linkArc(e);
}

inline std::int32_t EdgeAdjacencyRev::createEdge(Solver& solver, std::int32_t u, std::int32_t v) {
  firstEnds_.saveOnce(solver);
  const std::int32_t e = firstEnds_.fileArc(u);
  secondEnds_.fileArcAs(e, v);
  return e;
}

inline void EdgeAdjacencyRev::linkEdge(std::int32_t e) {
  firstEnds_.linkArc(e);
  secondEnds_.linkArc(e);
}

}  // namespace varnel
