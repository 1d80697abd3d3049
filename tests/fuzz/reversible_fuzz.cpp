// Fuzz target: the trail and the reversible containers (SetRev, SuccessionIntRev, DigraphRev,
// GraphRev) on one solver, driven by nested pushes, updates and pops decoded from the input.
// Each pop must give back exactly the plain copy taken at the matching push; every update keeps
// to its container's preconditions.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "solver/reversible_world.h"

namespace {

using namespace varnel;

constexpr std::int32_t kSetUniverse = 24;
constexpr std::int32_t kDigraphNodes = 6;  // of the digraph's 1000, the ones the input uses
constexpr std::int32_t kGraphNodes = 8;
constexpr std::int32_t kGraphSlots = 4;
constexpr std::int32_t kGraphEdgeIds = 64;
constexpr std::size_t kMaxDepth = 12;

using testing::Copy;
using testing::World;

constexpr testing::WorldSizes kSizes{kSetUniverse, kDigraphNodes, kGraphNodes, kGraphSlots,
                                     kGraphEdgeIds};

// Names the first part that differs, for the failure message.
const char* firstDifference(const Copy& now, const Copy& saved) {
  if (now.set != saved.set) return "SetRev members";
  if (now.setSize != saved.setSize) return "SetRev size";
  if (now.succession != saved.succession) return "SuccessionIntRev elements";
  if (now.inArcCount != saved.inArcCount || now.outArcCount != saved.outArcCount) {
    return "digraph arc counts";
  }
  if (now.inSlotCounts != saved.inSlotCounts || now.outSlotCounts != saved.outSlotCounts) {
    return "digraph slot counts";
  }
  if (now.inSlots != saved.inSlots || now.outSlots != saved.outSlots) return "digraph slots";
  if (now.arcs != saved.arcs) return "digraph arcs";
  if (now.edgeCount != saved.edgeCount) return "graph edge count";
  if (now.graphSlotCounts != saved.graphSlotCounts) return "graph slot counts";
  if (now.graphSlots != saved.graphSlots) return "graph slots";
  if (now.edges != saved.edges) return "graph edges";
  return "nothing";
}

// One update of one container, skipped when it would break that container's preconditions.
void update(World& w, fuzz::ByteReader& in, std::int32_t step) {
  switch (in.below(8)) {
    case 0: {
      // Members cannot be pushed; nor can elements popped since the set's last restoration,
      // whose prev is still their old predecessor.
      const auto x = static_cast<std::int32_t>(in.below(kSetUniverse));
      if (w.set.contains(x) || w.set.prevLinks()[x] >= 0) return;
      if (in.below(2) == 0) {
        w.set.pushBack(x);
      } else {
        w.set.pushFront(x);
      }
      return;
    }
    case 1:
      if (w.set.size() == 0) return;
      if (in.below(2) == 0) {
        w.set.popBack();
      } else {
        w.set.popFront();
      }
      return;
    case 2:
      w.succession.pushBack(step);
      return;
    case 3: {
      const auto tail = static_cast<std::int32_t>(in.below(kDigraphNodes));
      const auto head = static_cast<std::int32_t>(in.below(kDigraphNodes));
      if (w.digraph.outArcs().node(tail).slotCount == DigraphRev::kSlotCapacity) return;
      if (w.digraph.inArcs().node(head).slotCount == DigraphRev::kSlotCapacity) return;
      w.digraph.createArc(tail, head);
      return;
    }
    case 4: {
      const std::int32_t created = w.digraph.inArcs().arcCount();
      if (created == 0) return;
      const auto a = static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(created)));
      if (!w.digraph.arcSet().contains(a)) w.digraph.addArc(a);
      return;
    }
    case 5: {
      const auto u = static_cast<std::int32_t>(in.below(kGraphNodes));
      const auto v = (u + 1 + static_cast<std::int32_t>(in.below(kGraphNodes - 1))) % kGraphNodes;
      const auto& ends = w.graph.edgeEnds().firstEnds();
      if (ends.node(u).slotCount == kGraphSlots || ends.node(v).slotCount == kGraphSlots) return;
      if (ends.arcCount() == kGraphEdgeIds) return;
      w.graph.createEdge(u, v);
      return;
    }
    default: {
      const std::int32_t created = w.graph.edgeEnds().firstEnds().arcCount();
      if (created == 0) return;
      const auto e = static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(created)));
      if (!w.graph.edgeSet().contains(e)) w.graph.addEdge(e);
      return;
    }
  }
}

// One solver and one set of containers for the whole process: building the digraph's
// million-element arc set for every input would leave a few inputs a second. Every input runs
// inside a base restoration point and pops it at its end, so the next input starts from the
// state at construction, which it checks first.
struct Fixture {
  Fixture() : world(solver, kSizes), atConstruction(world.copy()) {}
  Solver solver;
  World world;
  Copy atConstruction;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture* fixture = new Fixture;  // never destroyed: inputs run until the process ends
  Solver& solver = fixture->solver;
  World& w = fixture->world;
  fuzz::ByteReader in(data, size);

  const Copy start = w.copy();
  VARNEL_FUZZ_CHECK(start == fixture->atConstruction,
                    "the previous input's pops did not restore the start state: %s differ",
                    firstDifference(start, fixture->atConstruction));
  std::vector<Copy> copies{start};
  solver.pushRestorationPoint();
  for (std::int32_t step = 0; in.more() && step < 2000; ++step) {
    const std::uint32_t action = in.below(8);
    if (action == 0 && copies.size() < kMaxDepth) {
      copies.push_back(w.copy());
      solver.pushRestorationPoint();
    } else if (action == 1 && copies.size() > 1) {
      solver.popRestorationPoint();
      const Copy now = w.copy();
      VARNEL_FUZZ_CHECK(now == copies.back(), "step %d, pop to depth %zu: %s differ", step,
                        copies.size() - 1, firstDifference(now, copies.back()));
      VARNEL_FUZZ_CHECK(w.set.audit(), "step %d: SetRev invariants broken after a pop", step);
      copies.pop_back();
    } else {
      update(w, in, step);
    }
  }
  while (!copies.empty()) {
    solver.popRestorationPoint();
    const Copy now = w.copy();
    VARNEL_FUZZ_CHECK(now == copies.back(), "final pop to depth %zu: %s differ", copies.size() - 1,
                      firstDifference(now, copies.back()));
    copies.pop_back();
  }
  VARNEL_FUZZ_CHECK(solver.pushPopCount == 2 * solver.timestamp,
                    "%llu pushes and pops after %llu pushes: a point is still open",
                    static_cast<unsigned long long>(solver.pushPopCount),
                    static_cast<unsigned long long>(solver.timestamp));
  return 0;
}
