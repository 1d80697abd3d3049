// GraphNode and GraphNodeRev: the node records of the graphs. A node hands out slot numbers
// 0, 1, 2, ... to the arcs created at it and keeps the slots of its present arcs in a set.
#pragma once

#include <concepts>
#include <cstdint>

#include "varnel/containers/set.h"
#include "varnel/containers/set_rev.h"
#include "varnel/memory/arrays.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class Solver;

template <class SlotSet>
class BasicGraphNode : public Reversible {
 public:
  // A plain record: no slot handed out, no slot present.
  explicit BasicGraphNode(std::int32_t slotCapacity) requires std::same_as<SlotSet, Set>;
  // A reversible record whose slot set records its changes on `solver`'s trail.
  BasicGraphNode(Solver& solver, std::int32_t slotCapacity) requires std::same_as<SlotSet, SetRev>;
  // Releases slotTable, then the slot set.
  ~BasicGraphNode() override;

  // Back to a fresh record: no slot handed out, the slot set emptied.
  void clear();

  // Slot capacity fixed at construction.
  std::int32_t slotCapacity() const { return slotSet.universe(); }

  SlotSet slotSet;          // slots of the node's present arcs
  std::int32_t* slotTable;  // slotCapacity entries, kept for the node's own future use
  std::int32_t slotCount;   // slot numbers handed out to created arcs
};

// A node record of a plain graph.
using GraphNode = BasicGraphNode<Set>;
// A node record of a reversible graph: its slot set is a SetRev.
using GraphNodeRev = BasicGraphNode<SetRev>;

// --- Inline definitions ------------------------------------------------------------------

template <class SlotSet>
BasicGraphNode<SlotSet>::BasicGraphNode(
    std::int32_t slotCapacity) requires std::same_as<SlotSet, Set>
    : slotSet(slotCapacity),
      slotTable(allocateArray<std::int32_t>(static_cast<std::uint64_t>(slotCapacity))),
      slotCount(0) {}

template <class SlotSet>
BasicGraphNode<SlotSet>::BasicGraphNode(
    Solver& solver, std::int32_t slotCapacity) requires std::same_as<SlotSet, SetRev>
    : slotSet(solver, slotCapacity),
      slotTable(allocateArray<std::int32_t>(static_cast<std::uint64_t>(slotCapacity))),
      slotCount(0) {}

template <class SlotSet>
BasicGraphNode<SlotSet>::~BasicGraphNode() {
  freeArray(slotTable, static_cast<std::uint64_t>(slotSet.universe()));
  slotTable = nullptr;
}

template <class SlotSet>
void BasicGraphNode<SlotSet>::clear() {
  slotCount = 0;
  slotSet.clear();
}

}  // namespace varnel
