// Construction, destruction, clearing and undo of the arc adjacencies.
#include "varnel/solver/arc_adjacency.h"

#include "varnel/memory/pooled.h"

namespace varnel {

template <class Node>
BasicArcAdjacency<Node>::BasicArcAdjacency(std::int32_t nodeCount, std::int32_t arcCapacity)
    : nodes_(newPooled<NodeTable>(nodeCount)),
      arcSlot_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(arcCapacity))),
      arcNode_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(arcCapacity))),
      arcCount_(0),
      ownsNodes_(1),
      arcCapacity_(arcCapacity) {
  VARNEL_ASSERT(nodeCount >= 0 && arcCapacity >= 0);
  // Null until createNodes: a side destroyed before its records exist frees none.
  for (std::int32_t v = 0; v < nodeCount; ++v) nodes_->data()[v] = nullptr;
}

template <class Node>
BasicArcAdjacency<Node>::BasicArcAdjacency(const BasicArcAdjacency& owner, std::int32_t arcCapacity)
    : nodes_(owner.nodes_),
      arcSlot_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(arcCapacity))),
      arcNode_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(arcCapacity))),
      arcCount_(0),
      ownsNodes_(0),
      arcCapacity_(arcCapacity) {
  VARNEL_ASSERT(arcCapacity >= 0);
}

template <class Node>
BasicArcAdjacency<Node>::~BasicArcAdjacency() {
  if (ownsNodes_ == 1) {
    deletePooledArray(nodes_->data(), nodes_->length());
    deletePooled(nodes_);
  }
  nodes_ = nullptr;
  freeArray(arcNode_, static_cast<std::uint64_t>(arcCapacity_));
  freeArray(arcSlot_, static_cast<std::uint64_t>(arcCapacity_));
  arcNode_ = nullptr;
  arcSlot_ = nullptr;
}

template <class Node>
void BasicArcAdjacency<Node>::createNodes(
    std::int32_t slotCapacity) requires std::same_as<Node, GraphNode> {
  for (std::int32_t v = 0; v < nodes_->length(); ++v) {
    nodes_->data()[v] = newPooled<GraphNode>(slotCapacity);
  }
}

template <class Node>
void BasicArcAdjacency<Node>::createNodes(
    Solver& solver, std::int32_t slotCapacity) requires std::same_as<Node, GraphNodeRev> {
  for (std::int32_t v = 0; v < nodes_->length(); ++v) {
    nodes_->data()[v] = newPooled<GraphNodeRev>(solver, slotCapacity);
  }
}

template <class Node>
void BasicArcAdjacency<Node>::clear() {
  for (std::int32_t v = 0; v < nodes_->length(); ++v) nodes_->data()[v]->clear();
  arcCount_ = 0;
}

// Member by member rather than `template class`: clang 14 instantiates every constrained member
// in an explicit class instantiation whatever its requires-clause, and so fails on the other
// node type's createNodes and constructor.
template BasicArcAdjacency<GraphNode>::BasicArcAdjacency(std::int32_t, std::int32_t);
template BasicArcAdjacency<GraphNode>::BasicArcAdjacency(const BasicArcAdjacency&, std::int32_t);
template BasicArcAdjacency<GraphNode>::~BasicArcAdjacency();
template void BasicArcAdjacency<GraphNode>::createNodes(std::int32_t);
template void BasicArcAdjacency<GraphNode>::clear();
template BasicArcAdjacency<GraphNodeRev>::BasicArcAdjacency(std::int32_t, std::int32_t);
template BasicArcAdjacency<GraphNodeRev>::BasicArcAdjacency(const BasicArcAdjacency&, std::int32_t);
template BasicArcAdjacency<GraphNodeRev>::~BasicArcAdjacency();
template void BasicArcAdjacency<GraphNodeRev>::createNodes(Solver&, std::int32_t);
template void BasicArcAdjacency<GraphNodeRev>::clear();

void ArcAdjacencyRev::snapshot() {
  // The side has no solver field: its records were built with the solver it records on.
  VARNEL_ASSERT(nodes_->length() > 0);
  node(0).slotSet.solver().trail->recordInt(&savedArcCount_);
  savedArcCount_ = arcCount_;
}

void ArcAdjacencyRev::restore() {
  GraphNodeRev* const* records = nodes_->data();
  if (paired_ != nullptr) {
    for (std::int32_t a = arcCount_ - 1; a >= savedArcCount_; --a) {
      --records[paired_->arcNode(a)]->slotCount;
      --records[arcNode_[a]]->slotCount;
    }
  } else {
    for (std::int32_t a = arcCount_ - 1; a >= savedArcCount_; --a) {
      --records[arcNode_[a]]->slotCount;
    }
  }
  arcCount_ = savedArcCount_;
  // The registration undone here belonged to a closed point: the next change registers again.
  stamp_ = 0;
}

void ArcAdjacencyRev::clear() {
  BasicArcAdjacency::clear();
  savedArcCount_ = 0;
  stamp_ = 0;
}

void ArcAdjacencyRev::pairWith(const BasicArcAdjacency<GraphNodeRev>& other) {
  VARNEL_ASSERT(other.nodes() == nodes_);
  paired_ = &other;
}

}  // namespace varnel
