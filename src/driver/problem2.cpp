// Problem 2: the data-structure micro-benchmark suite. Eighteen timed tests, one operation kind
// each, on the main thread and its allocator; every rate is in millions of operations per second.
#include <cstdint>
#include <iostream>
#include <new>

#include "driver/problems.h"
#include "varnel/containers/array.h"
#include "varnel/containers/collection.h"
#include "varnel/containers/heap_min.h"
#include "varnel/containers/set.h"
#include "varnel/containers/set_rev.h"
#include "varnel/containers/succession_int.h"
#include "varnel/containers/succession_int_pimpl.h"
#include "varnel/memory/out_of_memory.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/assert.h"
#include "varnel/platform/compiler.h"
#include "varnel/platform/platform.h"
#include "varnel/solver/digraph.h"
#include "varnel/solver/digraph_rev.h"
#include "varnel/solver/graph.h"
#include "varnel/solver/graph_rev.h"
#include "varnel/solver/solver.h"
#include "varnel/table/next_random.h"

namespace varnel::driver {
namespace {

// One timed section: the counter frequency and the start counter are read when it begins, the
// end counter when stop() is called.
class TimedSection {
 public:
  TimedSection() : frequency_(platform::counterFrequency()), start_(platform::counterNow()) {}

  void stop() { end_ = platform::counterNow(); }

  // Millions of operations per second, evaluated in this order: (frequency / 10^6) x ops,
  // divided by the counter difference.
  double rate(std::int64_t ops) const {
    return static_cast<double>(frequency_) / 1000000.0 * static_cast<double>(ops) /
           static_cast<double>(end_ - start_);
  }

 private:
  std::int64_t frequency_;
  std::int64_t start_;
  std::int64_t end_ = 0;
};

void printRate(const char* label, double rate) { std::cout << label << rate << std::endl; }

void printChecksum(std::int64_t checksum) { std::cout << checksum << std::endl; }

// A random value in 1 .. 9999: trunc((r x 2^-15) x 9999 + 1) in double precision.
std::int64_t nextRandomValue() {
  const double r = static_cast<double>(nextRandom());
  return static_cast<std::int64_t>(r * (1.0 / 32768.0) * 9999.0 + 1.0);
}

// An object with no field of its own: 8 bytes, its virtual table pointer.
class EmptyReversible : public Reversible {};
static_assert(sizeof(EmptyReversible) == 8, "consecutive objects must lie 8 bytes apart");

constexpr std::int32_t kRestorationPairs = 10000000;
constexpr std::int32_t kSolverCycles = 10000;
constexpr std::int32_t kSolverClears = 100000;
constexpr std::int32_t kSetPasses = 10000;
constexpr std::int32_t kSuccessionPasses = 100000;
constexpr std::int32_t kHeapKeys = 20;
constexpr std::int32_t kHeapValues = 10000;
constexpr std::int32_t kSetRevElements = 10000;
constexpr std::int32_t kObjectSetUniverse = 32768;  // 4 x 2^floor(log2 10,000)
constexpr std::int32_t kGridSide = 100;
constexpr std::int32_t kEdgeAdditionOps = 5000;  // counted although 4,950 edges are added

// Key-change loop: passes = length / count; pass r gives element k the value r + k, so the
// window slides by one per pass. Each pass is a barrier: no key change moves across passes.
template <class Heap, class Values>
void changeKeys(Heap& heap, const Values& values, std::int32_t length) {
  const std::int32_t count = heap.count();
  const std::int32_t passes = length / count;
  for (std::int32_t r = 0; r < passes; ++r) {
    for (std::int32_t k = 0; k < count; ++k) heap.setKey(k, values[r + k]);
    clobberMemory();
  }
}

// Values of an int64 array read as doubles, for the double heap driven by int64 inputs.
struct AsDouble {
  const Array<std::int64_t>& values;
  double operator[](std::int32_t i) const { return static_cast<double>(values[i]); }
};

template <class G>
void timeArcAddition(const char* label, G& graph) {
  for (std::int32_t i = 0; i < kGridSide; ++i) {
    for (std::int32_t j = 0; j < kGridSide; ++j) graph.createArc(i, j);
  }
  const std::int32_t arcs = kGridSide * kGridSide;
  TimedSection section;
  for (std::int32_t a = 0; a < arcs; ++a) graph.addArc(a);
  section.stop();
  printRate(label, section.rate(arcs));
}

template <class G>
void timeEdgeAddition(const char* label, G& graph) {
  std::int32_t edges = 0;
  for (std::int32_t i = 0; i < kGridSide - 1; ++i) {
    for (std::int32_t j = i + 1; j < kGridSide; ++j) {
      graph.createEdge(i, j);
      ++edges;
    }
  }
  TimedSection section;
  for (std::int32_t e = 0; e < edges; ++e) graph.addEdge(e);
  section.stop();
  printRate(label, section.rate(kEdgeAdditionOps));
}

}  // namespace

void runDataStructureSuite(std::int32_t n) {
  VARNEL_ASSERT(n >= 0);
  const std::int64_t setOps = std::int64_t{n} * kSetPasses;
  const std::int64_t successionOps = std::int64_t{n} * kSuccessionPasses;
  Solver* solver = newPooled<Solver>();

  {  // 1
    TimedSection section;
    for (std::int32_t i = 0; i < kRestorationPairs; ++i) {
      solver->pushRestorationPoint();
      solver->popRestorationPoint();
    }
    section.stop();
    printRate("test push/pop restoration point : ", section.rate(kRestorationPairs));
  }
  {  // 2
    TimedSection section;
    for (std::int32_t i = 0; i < kSolverCycles; ++i) {
      Solver* cycled = newPooled<Solver>();
      deletePooled(cycled);
    }
    section.stop();
    printRate("test Solver creation/deletion : ", section.rate(kSolverCycles));
  }
  {  // 3: the creation is inside the timed section
    TimedSection section;
    Solver* cleared = newPooled<Solver>();
    for (std::int32_t i = 0; i < kSolverClears; ++i) cleared->clear();
    section.stop();
    deletePooled(cleared);
    printRate("test Solver clear : ", section.rate(kSolverClears));
  }
  {  // 4
    Set set(n);
    set.fill();
    std::int64_t checksum = 0;
    TimedSection section;
    for (std::int32_t pass = 0; pass < kSetPasses; ++pass) {
      clobberMemory();  // every pass walks the list again
      for (std::int32_t x = set.first(); x != set.sentinel(); x = set.next(x)) checksum += x & 1;
    }
    section.stop();
    printChecksum(checksum);
    printRate("test Set_iteration iterator : ", section.rate(setOps));
  }
  {  // 5: the reference, a plain array from the general heap
    std::int32_t* const array = new (std::nothrow) std::int32_t[static_cast<std::size_t>(n)];
    // A heap that refuses it ends the run like a refused chunk: n x 4 bytes in 8-byte words.
    if (array == nullptr)
      exitChunkRefused((std::uint64_t{4} * static_cast<std::uint64_t>(n) + 7) / 8);
    for (std::int32_t i = 0; i < n; ++i) array[i] = i;
    // The walk must not know what the array holds: only the loads can tell.
    std::int32_t* entries = array;
    keepAlive(entries);
    std::int64_t checksum = 0;
    TimedSection section;
    for (std::int32_t pass = 0; pass < kSetPasses; ++pass) {
      clobberMemory();
      for (std::int32_t i = 0; i < n; ++i) checksum += entries[i] & 1;
    }
    section.stop();
    delete[] array;
    printChecksum(checksum);
    printRate("test Array_iteration iterator : ", section.rate(setOps));
  }
  {  // 6, 7
    SuccessionIntPimpl handle(n);
    std::cout << "SuccessionInt Pimpl size: " << sizeof(SuccessionIntPimpl) << std::endl;
    for (std::int32_t i = 0; i < n; ++i) handle.pushBack(i);
    std::int64_t checksum = 0;
    TimedSection section;
    for (std::int32_t pass = 0; pass < kSuccessionPasses; ++pass) {
      clobberMemory();
      const std::int32_t size = handle.size();
      for (std::int32_t i = 0; i < size; ++i) checksum += handle[handle[i]] & 1;
    }
    section.stop();
    printChecksum(checksum);
    printRate("test Succession_Pimpl_iteration iterator : ", section.rate(successionOps));
  }
  {  // 8
    SuccessionInt succession(n);
    for (std::int32_t i = 0; i < n; ++i) succession.pushBack(i);
    std::int64_t checksum = 0;
    TimedSection section;
    for (std::int32_t pass = 0; pass < kSuccessionPasses; ++pass) {
      clobberMemory();
      const std::int32_t size = succession.size();
      for (std::int32_t i = 0; i < size; ++i) checksum += succession[succession[i]] & 1;
    }
    section.stop();
    printChecksum(checksum);
    printRate("test Succession_iteration iterator : ", section.rate(successionOps));
  }

  // The suite's only random draws, in this order.
  Array<double> doubleHeapKeys(kHeapKeys);
  for (std::int32_t i = 0; i < kHeapKeys; ++i)
    doubleHeapKeys[i] = static_cast<double>(nextRandomValue());
  Array<double> doubleValues(kHeapValues);
  for (std::int32_t i = 0; i < kHeapValues; ++i)
    doubleValues[i] = static_cast<double>(nextRandomValue());
  Array<std::int64_t> int64Values(kHeapValues);
  for (std::int32_t i = 0; i < kHeapValues; ++i) int64Values[i] = nextRandomValue();
  Array<std::int64_t> int64HeapKeys(kHeapKeys);
  for (std::int32_t i = 0; i < kHeapKeys; ++i) int64HeapKeys[i] = nextRandomValue();

  {  // 9
    HeapMinDouble heap(doubleHeapKeys);
    TimedSection section;
    changeKeys(heap, doubleValues, kHeapValues);
    section.stop();
    printRate("test HeapMinDouble : ", section.rate(kHeapValues));
  }
  {  // 10
    HeapMinDouble heap(doubleHeapKeys);
    TimedSection section;
    changeKeys(heap, AsDouble{int64Values}, kHeapValues);
    section.stop();
    printRate("test HeapMinDouble Int64: ", section.rate(kHeapValues));
  }
  {  // 11
    HeapMinInt64 heap(int64HeapKeys);
    TimedSection section;
    changeKeys(heap, int64Values, kHeapValues);
    section.stop();
    printRate("test HeapMinInt64: ", section.rate(kHeapValues));
  }
  {  // 12
    Set set(n);
    TimedSection section;
    for (std::int32_t pass = 0; pass < kSetPasses; ++pass) {
      for (std::int32_t i = 0; i < n; ++i) set.pushBack(i);
      for (std::int32_t i = 0; i < n; ++i) set.popBack();
      clobberMemory();
    }
    section.stop();
    printRate("test Set push/pop : ", section.rate(setOps));
  }
  {  // 13
    SetRev set(*solver, kSetRevElements);
    TimedSection pushes;
    for (std::int32_t i = 0; i < kSetRevElements; ++i) set.pushBack(i);
    pushes.stop();
    printRate("test SetRev push_back: ", pushes.rate(kSetRevElements));
    TimedSection pops;
    for (std::int32_t i = 0; i < kSetRevElements; ++i) set.popBack();
    pops.stop();
    printRate("test SetRev pop_back : ", pops.rate(kSetRevElements));
  }
  {  // 14
    SetRev set(*solver, kObjectSetUniverse);
    EmptyReversible* const objects = new EmptyReversible[kSetRevElements];
    AddressCollection collection(kSetRevElements);
    TimedSection inserts;
    for (std::int32_t i = 0; i < kSetRevElements; ++i) collection.push_back(&objects[i]);
    inserts.stop();
    printRate("test Collection push_back obj: ", inserts.rate(kSetRevElements));
    TimedSection pushes;
    for (std::int32_t i = 0; i < kSetRevElements; ++i)
      set.pushBack(collection.indexOf(&objects[i]));
    pushes.stop();
    printRate("test SetRev push_back obj: ", pushes.rate(kSetRevElements));
    TimedSection pops;
    for (std::int32_t i = 0; i < kSetRevElements; ++i) set.popBack();
    pops.stop();
    printRate("test SetRev pop_back obj: ", pops.rate(kSetRevElements));
    delete[] objects;
  }
  {  // 15
    SetRev set(*solver, kSetRevElements);
    TimedSection pushes;
    for (std::int32_t i = 0; i < kSetRevElements; ++i) set.pushFront(i);
    pushes.stop();
    printRate("test SetRev push_front: ", pushes.rate(kSetRevElements));
    TimedSection pops;
    for (std::int32_t i = 0; i < kSetRevElements; ++i) set.popFront();
    pops.stop();
    printRate("test SetRev pop_front : ", pops.rate(kSetRevElements));
  }
  {  // 16
    Digraph graph;
    timeArcAddition("test Digraph arc addition : ", graph);
  }
  {  // 17
    DigraphRev graph(*solver);
    timeArcAddition("test DigraphRev arc addition : ", graph);
  }
  {  // 18
    Graph graph;
    timeEdgeAddition("test Graph edge addition : ", graph);
  }
  {  // 19
    GraphRev graph(*solver, 1000, 100, 1000000);
    timeEdgeAddition("test GraphRev edge addition : ", graph);
  }

  deletePooled(solver);
}

}  // namespace varnel::driver
