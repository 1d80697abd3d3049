// Test support for model checks of restoration points: a SetRev, a SuccessionIntRev, a
// DigraphRev, a GraphRev and a SparseBitSetRev on one solver, and a plain copy of everything they
// hold, to compare after each pop with the copy taken at the matching push. Shared by the model
// test and the fuzz target.
#pragma once

#include <cstdint>
#include <vector>

#include "containers/set_members.h"
#include "varnel/containers/set_rev.h"
#include "varnel/containers/sparse_bitset_rev.h"
#include "varnel/containers/succession_int_rev.h"
#include "varnel/solver/digraph_rev.h"
#include "varnel/solver/graph_rev.h"
#include "varnel/solver/solver.h"

namespace varnel::testing {

// The sizes of the containers, and how many digraph nodes the updates use (of its 1000).
struct WorldSizes {
  std::int32_t setUniverse;
  std::int32_t digraphNodes;
  std::int32_t graphNodes;
  std::int32_t graphSlots;
  std::int32_t graphEdgeIds;
  std::int32_t bitUniverse = 150;  // three words, the last one partial
};

// Everything the updates can change, as plain values.
struct Copy {
  std::vector<std::int32_t> set;
  std::int32_t setSize = 0;
  std::vector<std::int32_t> succession;
  std::int32_t inArcCount = 0, outArcCount = 0;
  std::vector<std::int32_t> inSlotCounts, outSlotCounts;
  std::vector<std::vector<std::int32_t>> inSlots, outSlots;
  std::vector<std::int32_t> arcs;
  std::int32_t edgeCount = 0;
  std::vector<std::int32_t> graphSlotCounts;
  std::vector<std::vector<std::int32_t>> graphSlots;
  std::vector<std::int32_t> edges;
  std::vector<std::int32_t> bits;

  bool operator==(const Copy&) const = default;
};

struct World {
  World(Solver& s, const WorldSizes& sizes)
      : solver(s),
        sizes(sizes),
        set(s, sizes.setUniverse),
        succession(1, s),
        digraph(s),
        graph(s, sizes.graphNodes, sizes.graphSlots, sizes.graphEdgeIds),
        bits(s, sizes.bitUniverse) {}
  // Pops before the containers go, so that no trail entry outlives its object.
  ~World() { solver.popAllRestorationPoints(); }

  Copy copy() const {
    Copy c;
    c.set = membersOf(set);
    c.setSize = set.size();
    c.succession.assign(succession.data(), succession.data() + succession.size());
    c.inArcCount = digraph.inArcs().arcCount();
    c.outArcCount = digraph.outArcs().arcCount();
    for (std::int32_t v = 0; v < sizes.digraphNodes; ++v) {
      c.inSlotCounts.push_back(digraph.inArcs().node(v).slotCount);
      c.outSlotCounts.push_back(digraph.outArcs().node(v).slotCount);
      c.inSlots.push_back(membersOf(digraph.inArcs().node(v).slotSet));
      c.outSlots.push_back(membersOf(digraph.outArcs().node(v).slotSet));
    }
    c.arcs = membersOf(digraph.arcSet());
    c.edgeCount = graph.edgeEnds().firstEnds().arcCount();
    for (std::int32_t v = 0; v < sizes.graphNodes; ++v) {
      c.graphSlotCounts.push_back(graph.edgeEnds().firstEnds().node(v).slotCount);
      c.graphSlots.push_back(membersOf(graph.edgeEnds().firstEnds().node(v).slotSet));
    }
    c.edges = membersOf(graph.edgeSet());
    for (std::int32_t e = 0; e < bits.universe(); ++e) {
      if (bits.contains(e)) c.bits.push_back(e);
    }
    return c;
  }

  Solver& solver;
  WorldSizes sizes;
  SetRev set;
  SuccessionIntRev succession;
  DigraphRev digraph;
  GraphRev graph;
  SparseBitSetRev bits;
};

}  // namespace varnel::testing
