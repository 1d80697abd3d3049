// Restoration points and SetRev updates against the plain Set operations they extend. The
// measured loops are out-of-line functions; with --fixed-counts the program runs each of them a
// known number of times instead, for callgrind to count instructions per operation (see
// docs/performance.md).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "varnel/containers/set.h"
#include "varnel/containers/set_rev.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/compiler.h"
#include "varnel/solver/solver.h"

namespace {

using varnel::Set;
using varnel::SetRev;
using varnel::Solver;

constexpr std::int32_t kElements = 10000;
constexpr std::int32_t kPointPairs = 1000;

// --- The measured loops ---------------------------------------------------------------------

[[gnu::noinline]] void pushPopPoints(Solver& solver, std::int32_t pairs) {
  for (std::int32_t i = 0; i < pairs; ++i) {
    solver.pushRestorationPoint();
    solver.popRestorationPoint();
  }
}

[[gnu::noinline]] void setPushBackRange(Set& set, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) set.pushBack(i);
}

[[gnu::noinline]] void setPopBackAll(Set& set, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) set.popBack();
}

[[gnu::noinline]] void setRevPushBackRange(SetRev& set, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) set.pushBack(i);
}

[[gnu::noinline]] void setRevPopBackAll(SetRev& set, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) set.popBack();
}

[[gnu::noinline]] void setRevPushFrontRange(SetRev& set, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) set.pushFront(i);
}

[[gnu::noinline]] void setRevPopFrontAll(SetRev& set, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) set.popFront();
}

// Short points: push, `updates` links at the end, pop (which unlinks them again).
[[gnu::noinline]] void shortPoints(Solver& solver, SetRev& set, std::int32_t points,
                                   std::int32_t updates) {
  for (std::int32_t p = 0; p < points; ++p) {
    solver.pushRestorationPoint();
    for (std::int32_t i = 0; i < updates; ++i) set.pushBack(i);
    solver.popRestorationPoint();
  }
}

// --- Benchmarks -----------------------------------------------------------------------------

void PushPopRestorationPoint(benchmark::State& state) {
  Solver* solver = varnel::newPooled<Solver>();
  for (auto _ : state) pushPopPoints(*solver, kPointPairs);
  state.SetItemsProcessed(state.iterations() * kPointPairs);
  varnel::deletePooled(solver);
}
BENCHMARK(PushPopRestorationPoint);

// The plain set: n links at the end, then n unlinks from the end.
void SetPushBackPopBack(benchmark::State& state) {
  Set set(kElements);
  for (auto _ : state) {
    setPushBackRange(set, kElements);
    setPopBackAll(set, kElements);
    varnel::clobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 2 * kElements);
}
BENCHMARK(SetPushBackPopBack);

// The same updates on a SetRev inside a restoration point (registered once, then logged); the
// pop that restores the set between rounds is not timed.
template <void (*Push)(SetRev&, std::int32_t), void (*Pop)(SetRev&, std::int32_t)>
void SetRevUpdates(benchmark::State& state) {
  Solver* solver = varnel::newPooled<Solver>();
  {
    SetRev set(*solver, kElements);
    for (auto _ : state) {
      solver->pushRestorationPoint();
      Push(set, kElements);
      Pop(set, kElements);
      state.PauseTiming();
      solver->popRestorationPoint();
      state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * kElements);
  }
  varnel::deletePooled(solver);
}
BENCHMARK(SetRevUpdates<setRevPushBackRange, setRevPopBackAll>)->Name("SetRevPushBackPopBack");
BENCHMARK(SetRevUpdates<setRevPushFrontRange, setRevPopFrontAll>)->Name("SetRevPushFrontPopFront");

// The pop alone: undoing n removals and n additions logged at one point.
void SetRevRestore(benchmark::State& state) {
  Solver* solver = varnel::newPooled<Solver>();
  {
    SetRev set(*solver, kElements);
    for (auto _ : state) {
      state.PauseTiming();
      solver->pushRestorationPoint();
      setRevPushBackRange(set, kElements);
      setRevPopFrontAll(set, kElements);
      state.ResumeTiming();
      solver->popRestorationPoint();
    }
    state.SetItemsProcessed(state.iterations() * 2 * kElements);
  }
  varnel::deletePooled(solver);
}
BENCHMARK(SetRevRestore);

// Short points, as a search makes them: push, a few updates, pop. Here registration (one
// object entry and the two log marks) and restoration weigh as much as the updates.
void SetRevShortPoints(benchmark::State& state) {
  const auto updates = static_cast<std::int32_t>(state.range(0));
  Solver* solver = varnel::newPooled<Solver>();
  {
    SetRev set(*solver, kElements);
    for (auto _ : state) shortPoints(*solver, set, kPointPairs, updates);
    state.SetItemsProcessed(state.iterations() * kPointPairs * updates);
  }
  varnel::deletePooled(solver);
}
BENCHMARK(SetRevShortPoints)->Arg(1)->Arg(4)->Arg(16);

// Every measured loop a known number of times: instructions per operation are the loop
// function's inclusive count divided by the operations printed here.
void runFixedCounts() {
  constexpr std::int32_t kRounds = 100;
  constexpr std::int32_t kPairs = 1000000;
  Solver* solver = varnel::newPooled<Solver>();
  pushPopPoints(*solver, kPairs);
  std::printf("pushPopPoints: %d push/pop pairs\n", kPairs);
  {
    Set set(kElements);
    for (std::int32_t r = 0; r < kRounds; ++r) {
      setPushBackRange(set, kElements);
      setPopBackAll(set, kElements);
    }
  }
  {
    SetRev set(*solver, kElements);
    for (std::int32_t r = 0; r < kRounds; ++r) {
      solver->pushRestorationPoint();
      setRevPushBackRange(set, kElements);
      setRevPopBackAll(set, kElements);
      solver->popRestorationPoint();
      solver->pushRestorationPoint();
      setRevPushFrontRange(set, kElements);
      setRevPopFrontAll(set, kElements);
      solver->popRestorationPoint();
    }
  }
  {
    SetRev set(*solver, kElements);
    shortPoints(*solver, set, kPairs, 1);
    std::printf("shortPoints: %d points of 1 update\n", kPairs);
  }
  std::printf("each Set and SetRev loop function: %d calls of %d operations\n", kRounds, kElements);
  std::printf("SetRev::restore: %d calls undoing %d log entries each\n", 2 * kRounds,
              2 * kElements);
  varnel::deletePooled(solver);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--fixed-counts") == 0) {
    runFixedCounts();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
