// ArcAdjacency and ArcAdjacencyRev: one side of a graph. For every arc id, the node it is filed
// under and its slot number there; the node records hold which of those slots are present.
#pragma once

#include <concepts>
#include <cstdint>

#include "varnel/containers/array.h"
#include "varnel/platform/assert.h"
#include "varnel/solver/graph_node.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

template <class Node>
class BasicArcAdjacency : public Reversible {
 public:
  using NodeTable = Array<Node*>;

  // nodeCount null node pointers (filled by createNodes) and room for arcCapacity arc ids; the
  // node records will be this side's own.
  BasicArcAdjacency(std::int32_t nodeCount, std::int32_t arcCapacity);
  // The same, then createNodes(slotCapacity): the side with its records, ready for arcs.
  BasicArcAdjacency(std::int32_t nodeCount, std::int32_t arcCapacity,
                    std::int32_t slotCapacity) requires std::same_as<Node, GraphNode>
      : BasicArcAdjacency(nodeCount, arcCapacity) {
    createNodes(slotCapacity);
  }
  BasicArcAdjacency(Solver& solver, std::int32_t nodeCount, std::int32_t arcCapacity,
                    std::int32_t slotCapacity) requires std::same_as<Node, GraphNodeRev>
      : BasicArcAdjacency(nodeCount, arcCapacity) {
    createNodes(solver, slotCapacity);
  }
  // Shares the node table of `owner` (the same table, not a copy) with arrays of its own for
  // arcCapacity arcs. It never destroys the shared records.
  BasicArcAdjacency(const BasicArcAdjacency& owner, std::int32_t arcCapacity);
  // When the records are its own: destroys every non-null record (index order), then the
  // table. Then releases arcNode and arcSlot.
  ~BasicArcAdjacency() override;

  // Fills the node table in index order with fresh records of `slotCapacity` slots.
  void createNodes(std::int32_t slotCapacity) requires std::same_as<Node, GraphNode>;
  void createNodes(Solver& solver,
                   std::int32_t slotCapacity) requires std::same_as<Node, GraphNodeRev>;

  // Creates the next arc id under node v, with the next slot number of v. Returns the id.
  std::int32_t fileArc(std::int32_t v);
  // Files the existing arc id a under node v with the next slot number of v, without
  // advancing arcCount: the second end of an edge whose id another side created.
  void fileArcAs(std::int32_t a, std::int32_t v);
  // Makes arc a present at its node: its slot joins the node's slot set.
  void linkArc(std::int32_t a);
  // Every node record back to fresh (shared ones too) and no arc created. The arc arrays keep
  // their contents: they are overwritten when arcs are created again.
  void clear();

  // Node record v.
  Node& node(std::int32_t v) const { return *nodes_->data()[v]; }
  // The node table, shared between the two sides of an undirected graph.
  NodeTable* nodes() const { return nodes_; }
  std::int32_t nodeCount() const { return nodes_->length(); }
  // Arc ids created: 0 .. arcCount-1.
  std::int32_t arcCount() const { return arcCount_; }
  std::int32_t arcCapacity() const { return arcCapacity_; }
  // Slot number of arc a at its node.
  std::int32_t arcSlot(std::int32_t a) const { return arcSlot_[a]; }
  // Node arc a is filed under.
  std::int32_t arcNode(std::int32_t a) const { return arcNode_[a]; }
  // 1 when this side created its node records and destroys them.
  std::int32_t ownsNodes() const { return ownsNodes_; }

 protected:
  NodeTable* nodes_;
  std::int32_t* arcSlot_;
  std::int32_t* arcNode_;
  std::int32_t arcCount_;
  std::int32_t ownsNodes_;
  std::int32_t arcCapacity_;
};

// One side of a plain graph.
using ArcAdjacency = BasicArcAdjacency<GraphNode>;

// One side of a reversible graph: a popped restoration point forgets the arcs created since it
// was pushed and gives their slot numbers back to their nodes.
class ArcAdjacencyRev final : public BasicArcAdjacency<GraphNodeRev> {
 public:
  // As BasicArcAdjacency: owning, owning with its records, or sharing another side's records.
  using BasicArcAdjacency::BasicArcAdjacency;

  void save(Solver& solver) override { saveObject(*this, solver); }
  // Registers the side on the trail at most once per restoration point.
  void saveOnce(Solver& solver) override { saveObjectOnce(*this, stamp_, solver); }
  // Records savedArcCount on the trail of the records' solver, then savedArcCount = arcCount.
  void snapshot() override;
  // Newest first, gives the slot of every arc created since the snapshot back to its node (and
  // to the paired side's node, if any), then arcCount = savedArcCount.
  void restore() override;
  // As the plain clear, and savedArcCount 0, stamp 0.
  void clear();

  // Pairs this side with one that shares its node records and arc ids but is never saved itself
  // (the second ends of an undirected graph): undoing an arc here also gives back its slot at
  // the other side's node. Without a pair only this side's slots come back.
  void pairWith(const BasicArcAdjacency<GraphNodeRev>& other);

  std::int32_t savedArcCount() const { return savedArcCount_; }
  std::uint64_t stamp() const { return stamp_; }

 private:
  std::int32_t savedArcCount_ = 0;
  std::uint64_t stamp_ = 0;
  const BasicArcAdjacency<GraphNodeRev>* paired_ = nullptr;
};

// --- Inline definitions ------------------------------------------------------------------

template <class Node>
inline std::int32_t BasicArcAdjacency<Node>::fileArc(std::int32_t v) {
  VARNEL_ASSERT(arcCount_ < arcCapacity_);
  const std::int32_t a = arcCount_;
  fileArcAs(a, v);
  arcCount_ = a + 1;
  return a;
}

template <class Node>
inline void BasicArcAdjacency<Node>::fileArcAs(std::int32_t a, std::int32_t v) {
  VARNEL_ASSERT(a >= 0 && a < arcCapacity_ && v >= 0 && v < nodes_->length());
  Node& record = *nodes_->data()[v];
  VARNEL_ASSERT(record.slotCount < record.slotCapacity());
  arcNode_[a] = v;
  arcSlot_[a] = record.slotCount++;
}

template <class Node>
inline void BasicArcAdjacency<Node>::linkArc(std::int32_t a) {
  nodes_->data()[arcNode_[a]]->slotSet.pushBack(arcSlot_[a]);
}

}  // namespace varnel
