// Restoration points on a solver: push and pop bookkeeping, saving once per point, nested
// restores of reversible objects, growth of the trail, popping everything, and objects placed
// in the allocation log.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "memory/thread_allocator.h"
#include "varnel/containers/succession_int_rev.h"
#include "varnel/memory/pooled.h"
#include "varnel/solver/solver.h"

namespace varnel {
namespace {

// A reversible value with one snapshotted field, built the way reversible containers are:
// snapshot() records `saved` then copies `value` into it; restore() copies it back.
class Cell : public Reversible {
 public:
  explicit Cell(Solver& solver) : solver_(&solver) {}

  void save(Solver& solver) override { saveObject(*this, solver); }
  void saveOnce(Solver& solver) override { saveObjectOnce(*this, stamp_, solver); }
  void snapshot() override {
    ++snapshots;
    solver_->trail->recordInt(&saved);
    saved = value;
  }
  void restore() override {
    savedSeenByRestore.push_back(saved);
    value = saved;
  }

  // Saves once at the current point, then changes the value.
  void set(std::int32_t v) {
    saveOnce(*solver_);
    value = v;
  }

  std::int32_t value = 0;
  std::int32_t saved = 0;
  int snapshots = 0;
  std::vector<std::int32_t> savedSeenByRestore;

 private:
  Solver* solver_;
  std::uint64_t stamp_ = 0;
};

// Counts its destructions in a counter owned by the test.
class Tracked : public Reversible {
 public:
  explicit Tracked(int& destroyed) : destroyed_(&destroyed) {}
  ~Tracked() override { ++*destroyed_; }

 private:
  int* destroyed_;
  char padding_[40] = {};  // a size class of its own, away from the solver's small blocks
};

struct Counts {
  std::int32_t trailCount, trailMark, openPoints, intCount, objectCount;
  std::int32_t logCount, logMark, logTop;
};

Counts countsOf(const Solver& solver) {
  const AllocationLog& log = **solver.allocationLog;
  return {solver.trail->count(),
          solver.trail->mark(),
          solver.trail->openPoints(),
          solver.trail->intCount(),
          solver.trail->objectCount(),
          log.count(),
          log.mark(),
          log.top()};
}

void expectSameCounts(const Counts& a, const Counts& b, const char* when) {
  EXPECT_EQ(a.trailCount, b.trailCount) << "trail count differs " << when;
  EXPECT_EQ(a.trailMark, b.trailMark) << "trail mark differs " << when;
  EXPECT_EQ(a.openPoints, b.openPoints) << "open points differ " << when;
  EXPECT_EQ(a.intCount, b.intCount) << "int stack differs " << when;
  EXPECT_EQ(a.objectCount, b.objectCount) << "object stack differs " << when;
  EXPECT_EQ(a.logCount, b.logCount) << "log count differs " << when;
  EXPECT_EQ(a.logMark, b.logMark) << "log mark differs " << when;
  EXPECT_EQ(a.logTop, b.logTop) << "log top differs " << when;
}

SizeClassPool& poolOf(unsigned sizeClass) { return *currentAllocator()->pools[sizeClass]; }

TEST(RestorationPoint, PushThenPopLeavesEveryCountAsBefore) {
  Solver solver;
  Cell cell(solver);
  int destroyed = 0;
  // Something below every mark, so that a pop that resets counts to 0 would show.
  solver.trail->recordInt(&cell.value);
  Tracked* unlogged = solver.newLogged<Tracked>(destroyed);
  solver.pushRestorationPoint();
  cell.set(1);
  const Counts before = countsOf(solver);
  const std::uint64_t timestamp = solver.timestamp;
  const std::uint64_t pushPopCount = solver.pushPopCount;

  solver.pushRestorationPoint();
  solver.popRestorationPoint();

  expectSameCounts(countsOf(solver), before, "after an empty push and pop");
  EXPECT_EQ(solver.timestamp, timestamp + 1) << "a push must advance timestamp by 1";
  EXPECT_EQ(solver.pushPopCount, pushPopCount + 2) << "a push and a pop count 2";
  EXPECT_EQ(cell.value, 1) << "an empty pop changed an object saved at the outer point";
  EXPECT_EQ(destroyed, 0) << "an empty pop destroyed a logged object";
  solver.popRestorationPoint();
  EXPECT_EQ(solver.depth(), 0u) << "depth must be 2 x timestamp - pushPopCount";
  deletePooled(unlogged);
}

TEST(RestorationPoint, TwoSavesAtOnePointRecordOneObjectAndOneSnapshot) {
  Solver solver;
  Cell cell(solver);
  SuccessionIntRev succession(4, solver);
  solver.pushRestorationPoint();
  const std::int32_t count = solver.trail->count();
  cell.set(1);
  cell.set(2);
  EXPECT_EQ(cell.snapshots, 1) << "saveOnce snapshotted twice at one point";
  succession.pushBack(10);
  succession.pushBack(11);
  EXPECT_EQ(solver.trail->count(), count + 4)
      << "each object must add one int entry and one object entry, once per point";
  EXPECT_EQ(solver.trail->objectCount(), 2) << "one object entry per object";
  EXPECT_EQ(solver.trail->intCount(), 2) << "one snapshot entry per object";

  solver.popRestorationPoint();
  EXPECT_EQ(cell.value, 0) << "cell not back to its value at the push";
  EXPECT_EQ(succession.size(), 0) << "succession not back to its size at the push";
}

TEST(RestorationPoint, NestedSavesRestoreLevelByLevel) {
  Solver solver;
  SuccessionIntRev succession(2, solver);
  succession.pushBack(7);  // before any point: recorded below every mark

  solver.pushRestorationPoint();  // outer: size 1
  succession.pushBack(8);
  solver.pushRestorationPoint();  // inner: size 2
  succession.pushBack(9);
  succession.pushBack(10);
  ASSERT_EQ(succession.size(), 4) << "pushBack did not append";

  solver.popRestorationPoint();
  EXPECT_EQ(succession.size(), 2) << "inner pop must restore the size at the inner push";

  // The pop set the stamp back, so the change between the pops registers again (one int and
  // one object entry); the outer pop still returns to the outer push's size.
  const std::int32_t count = solver.trail->count();
  succession.pushBack(11);
  EXPECT_EQ(solver.trail->count(), count + 2)
      << "a change between the pops must register again after the inner pop";
  EXPECT_EQ(succession.size(), 3) << "pushBack did not append";

  solver.popRestorationPoint();
  EXPECT_EQ(succession.size(), 1) << "outer pop must restore the size at the outer push";
  EXPECT_EQ(succession[0], 7) << "element written before the points was lost";

  // A new point has a larger timestamp than every stamp: the next change is recorded again.
  solver.pushRestorationPoint();
  succession.pushBack(12);
  solver.popRestorationPoint();
  EXPECT_EQ(succession.size(), 1) << "change after a fresh push was not recorded";
}

TEST(RestorationPoint, ChangeFirstMadeAfterAnInnerPopIsUndoneByTheOuterPop) {
  // Saved only at the inner point: after that pop the object's stamp equals the timestamp,
  // which pops do not lower. A change at the outer level must still be undone by the outer pop.
  Solver solver;
  SuccessionIntRev succession(4, solver);
  solver.pushRestorationPoint();
  solver.pushRestorationPoint();
  succession.pushBack(1);
  solver.popRestorationPoint();
  EXPECT_EQ(succession.size(), 0) << "inner pop";
  succession.pushBack(2);
  solver.popRestorationPoint();
  EXPECT_EQ(succession.size(), 0) << "the change made between the pops escaped the outer pop";
}

TEST(RestorationPoint, RestoreRunsBeforeTheSnapshotFieldIsReset) {
  // save() records the snapshot field first and the object second, so the object entry is
  // undone first and must see the snapshot taken at the save, not the older one.
  Solver solver;
  Cell cell(solver);
  cell.value = 5;
  cell.saved = 3;
  solver.pushRestorationPoint();
  cell.value = 7;
  cell.save(solver);  // recordInt(&saved: 3), saved = 7, recordObject
  cell.value = 9;
  solver.popRestorationPoint();
  ASSERT_EQ(cell.savedSeenByRestore.size(), 1u) << "restore() must run once";
  EXPECT_EQ(cell.savedSeenByRestore[0], 7) << "restore() ran after the field entry was undone";
  EXPECT_EQ(cell.value, 7) << "value must come back to the snapshot taken at the save";
  EXPECT_EQ(cell.saved, 3) << "the snapshot field must be reset after restore()";
}

TEST(RestorationPoint, WordFieldsComeBackInReverseOrderThroughAPop) {
  Solver solver;
  std::int64_t count = 1;
  double weight = 0.5;
  int target = 0;
  void* pointer = nullptr;
  solver.pushRestorationPoint();
  solver.trail->recordInt64(&count);
  count = 2;
  solver.trail->recordPointer(&pointer);
  pointer = &target;
  solver.trail->recordDouble(&weight);
  weight = 1.5;
  solver.trail->recordInt64(&count);
  count = 3;
  solver.trail->recordDouble(&weight);
  weight = 2.5;
  solver.popRestorationPoint();
  EXPECT_EQ(count, 1) << "int64 field not back to its value at the push";
  EXPECT_EQ(weight, 0.5) << "double field not back to its value at the push";
  EXPECT_EQ(pointer, nullptr) << "pointer field not back to its value at the push";
}

TEST(RestorationPoint, SixtyFiveIntEntriesDoubleTheArraysWhichThenStay) {
  Solver solver;
  std::int32_t fields[65] = {};
  solver.pushRestorationPoint();
  for (int k = 0; k < 64; ++k) solver.trail->recordInt(&fields[k]);
  EXPECT_EQ(solver.trail->kindCapacity(), 64) << "64 entries fit the initial kinds";
  EXPECT_EQ(solver.trail->intCapacity(), 64) << "64 entries fit the initial int stack";
  solver.trail->recordInt(&fields[64]);
  EXPECT_EQ(solver.trail->kindCapacity(), 128) << "the 65th entry must double kinds";
  EXPECT_EQ(solver.trail->intCapacity(), 128) << "the 65th entry must double the int stack";
  for (std::int32_t& f : fields) f = 42;
  solver.popRestorationPoint();
  EXPECT_EQ(solver.trail->kindCapacity(), 128) << "kinds shrank after the pop";
  EXPECT_EQ(solver.trail->intCapacity(), 128) << "the int stack shrank after the pop";
  for (int k = 0; k < 65; ++k) EXPECT_EQ(fields[k], 0) << "int entry " << k << " not undone";
}

TEST(RestorationPoint, PopAllClosesThreeOpenPointsAndNothingWhenNoneIsOpen) {
  Solver solver;
  Cell cell(solver);
  solver.popAllRestorationPoints();
  EXPECT_EQ(solver.pushPopCount, 0u) << "popAll with no open point must not pop";
  EXPECT_TRUE(cell.savedSeenByRestore.empty()) << "popAll with no open point restored";

  for (std::int32_t v = 1; v <= 3; ++v) {
    solver.pushRestorationPoint();
    cell.set(v);
  }
  solver.popAllRestorationPoints();
  EXPECT_EQ(solver.pushPopCount, 6u) << "three pushes and three pops";
  EXPECT_EQ(solver.pushPopCount, 2 * solver.timestamp) << "points left open";
  EXPECT_EQ(cell.savedSeenByRestore.size(), 3u) << "one restore() per pop";
  EXPECT_EQ(cell.value, 0) << "value not back to its state before the first push";

  const std::uint64_t pushPopCount = solver.pushPopCount;
  solver.popAllRestorationPoints();
  EXPECT_EQ(solver.pushPopCount, pushPopCount) << "a second popAll must do nothing";
}

TEST(RestorationPoint, EntriesRecordedWithNoOpenPointSurvivePops) {
  Solver solver;
  Cell cell(solver);
  solver.pushRestorationPoint();
  solver.popRestorationPoint();
  // timestamp is 1 now, above the cell's stamp 0: this change is recorded, but below every mark.
  cell.set(5);
  ASSERT_EQ(solver.trail->count(), 2) << "the change with no open point was not recorded";
  for (int k = 0; k < 3; ++k) {
    solver.pushRestorationPoint();
    cell.set(6 + k);
    solver.popRestorationPoint();
    EXPECT_EQ(cell.value, 5) << "pop " << k << " went below its own mark";
  }
  EXPECT_EQ(solver.trail->count(), 2) << "entries below every mark were consumed";
  EXPECT_EQ(cell.savedSeenByRestore.size(), 3u) << "only the three popped saves may restore";
}

TEST(RestorationPoint, RandomChangesMatchCopiesTakenAtEachPush) {
  // Model check: random pushes, pops and appends on three successions, against a stack of
  // sizes copied at every push, with appends at any moment, also between two pops.
  Solver solver;
  std::vector<SuccessionIntRev*> successions;
  for (int k = 0; k < 3; ++k) successions.push_back(new SuccessionIntRev(1, solver));
  std::vector<std::vector<std::int32_t>> copies;
  std::mt19937 random(12345);
  int pops = 0;
  for (int step = 0; step < 5000; ++step) {
    const unsigned action = random() % 8;
    if (action == 0 && copies.size() < 40) {
      std::vector<std::int32_t> sizes;
      for (auto* s : successions) sizes.push_back(s->size());
      copies.push_back(sizes);
      solver.pushRestorationPoint();
    } else if (action == 1 && !copies.empty()) {
      solver.popRestorationPoint();
      ++pops;
      for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(successions[k]->size(), copies.back()[k])
            << "step " << step << ": succession " << k << " not back to its size at the push";
      }
      copies.pop_back();
    } else {
      successions[random() % 3]->pushBack(step);
    }
  }
  EXPECT_GT(pops, 100) << "the random walk popped too rarely to test anything";
  EXPECT_EQ(solver.depth(), copies.size()) << "depth disagrees with the model";
  solver.popAllRestorationPoints();  // before the successions its trail refers to go
  for (auto* s : successions) delete s;
}

// Logs what happens to it, in order, in a journal owned by the test.
class Journaled : public Reversible {
 public:
  explicit Journaled(std::vector<const char*>& journal) : journal_(&journal) {}
  ~Journaled() override { journal_->push_back("destroyed"); }
  void restore() override { journal_->push_back("restored"); }

 private:
  std::vector<const char*>* journal_;
};

TEST(RestorationPoint, PopRestoresObjectsBeforeDestroyingTheLoggedOnes) {
  // An object created and changed under one point: its restore() must still find it alive.
  Solver solver;
  std::vector<const char*> journal;
  solver.pushRestorationPoint();
  Journaled* object = solver.newLogged<Journaled>(journal);
  solver.trail->recordObject(object);
  solver.popRestorationPoint();
  ASSERT_EQ(journal.size(), 2u) << "one restore and one destruction expected";
  EXPECT_STREQ(journal[0], "restored") << "the allocation log was undone before the trail";
  EXPECT_STREQ(journal[1], "destroyed") << "the logged object was not destroyed by its pop";
}

TEST(RestorationPoint, LoggedObjectsDieWithTheirPoint) {
  testing::onFreshAllocator(0, [] {
    Solver* solver = newPooled<Solver>();
    SizeClassPool& pool = poolOf(kSizeClassOf<Tracked>);
    int destroyed = 0;

    // Logged with no point open: forgotten by pops, never destroyed by them.
    Tracked* survivor = solver->newLogged<Tracked>(destroyed);
    const std::uint64_t freeWithSurvivor = pool.freeCount;

    solver->pushRestorationPoint();
    solver->newLogged<Tracked>(destroyed);
    solver->pushRestorationPoint();
    solver->newLogged<Tracked>(destroyed);
    solver->newLogged<Tracked>(destroyed);
    EXPECT_EQ(pool.freeCount, freeWithSurvivor - 3) << "newLogged must take pooled blocks";

    solver->popRestorationPoint();
    EXPECT_EQ(destroyed, 2) << "inner pop must destroy the two objects logged since its push";
    EXPECT_EQ(pool.freeCount, freeWithSurvivor - 1) << "inner pop must return their blocks";
    solver->popRestorationPoint();
    EXPECT_EQ(destroyed, 3) << "outer pop must destroy the object logged since its push";
    EXPECT_EQ(pool.freeCount, freeWithSurvivor) << "outer pop must return its block";

    solver->pushRestorationPoint();
    solver->popRestorationPoint();
    EXPECT_EQ(destroyed, 3) << "an object logged with no point open was destroyed by a pop";
    EXPECT_EQ(pool.freeCount, freeWithSurvivor) << "the survivor's block went back";

    // The newest block handed out is the next one reused: the survivor's stays taken.
    void* next = allocateBlock(kSizeClassOf<Tracked>);
    EXPECT_NE(next, static_cast<void*>(survivor)) << "the survivor's block was freed";
    freeBlock(next, kSizeClassOf<Tracked>);

    deletePooled(solver);
    EXPECT_EQ(destroyed, 3) << "destroying the solver must forget, not destroy, the survivor";
    deletePooled(survivor);
  });
}

}  // namespace
}  // namespace varnel
