// SetRev: the link states and log marks of its four updates, registration once per point,
// restoration at one level and at nested levels, and clear. Random nested sequences are in
// tests/solver/reversible_model_test.cpp.
#include "varnel/containers/set_rev.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "containers/set_members.h"
#include "varnel/solver/solver.h"

namespace varnel {
namespace {

using testing::membersOf;

std::vector<std::int32_t> logOf(const SuccessionIntRev& log) {
  return std::vector<std::int32_t>(log.data(), log.data() + log.size());
}

// A solver whose timestamp has reached `timestamp` with no point left open.
void advanceTimestamp(Solver& solver, std::uint64_t timestamp) {
  while (solver.timestamp < timestamp) {
    solver.pushRestorationPoint();
    solver.popRestorationPoint();
  }
}

TEST(SetRev, UpdatesAtTimestampZeroLinkAndLogWithoutRegistering) {
  Solver solver;
  SetRev set(solver, 4);
  set.pushBack(1);
  set.pushFront(3);
  EXPECT_EQ(membersOf(set), (std::vector<std::int32_t>{3, 1})) << "pushFront must link first";
  EXPECT_EQ(logOf(set.added()), (std::vector<std::int32_t>{1, 3})) << "added log, oldest first";
  EXPECT_EQ(set.size(), 2) << "size after two links";
  EXPECT_EQ(set.prevLinks()[3], 4) << "pushFront must hang 3 after the sentinel";
  EXPECT_EQ(set.prevLinks()[1], 3) << "1 must follow 3";
  EXPECT_EQ(solver.trail->count(), 0) << "nothing may be recorded while the timestamp is 0";
  EXPECT_EQ(set.stamp(), 0u) << "the stamp moved with a timestamp of 0";
  EXPECT_TRUE(set.audit()) << "invariants broken by pushBack/pushFront";
}

TEST(SetRev, PopsMarkEachRemovedElementWithTheComplementOfItsLogPosition) {
  Solver solver;
  SetRev set(solver, 4);
  set.pushBack(1);
  set.pushFront(3);
  set.popBack();
  EXPECT_EQ(set.nextLinks()[1], -1) << "first removal: log position 0, mark ~0";
  EXPECT_EQ(set.prevLinks()[1], 3) << "a popped element keeps its former predecessor";
  EXPECT_FALSE(set.contains(1)) << "a popped element is no member";
  set.popBack();
  EXPECT_EQ(set.nextLinks()[3], -2) << "second removal: log position 1, mark ~1";
  EXPECT_EQ(set.size(), 0) << "both popped";
  EXPECT_EQ(logOf(set.removed()), (std::vector<std::int32_t>{1, 3})) << "removed log order";

  set.restore();
  EXPECT_EQ(set.size(), 0) << "the additions were undone too";
  EXPECT_TRUE(membersOf(set).empty()) << "restore must leave the set empty";
  EXPECT_EQ(set.prevLinks()[1], -1) << "an element whose addition was undone has prev -1";
  EXPECT_EQ(set.prevLinks()[3], -1) << "an element whose addition was undone has prev -1";
  EXPECT_EQ(set.added().size(), 0) << "added log not emptied";
  EXPECT_EQ(set.removed().size(), 0) << "removed log not emptied";
  EXPECT_TRUE(set.audit()) << "invariants broken by restore";
}

TEST(SetRev, PopFrontTakesTheFirstMemberAndRestoreRelinksItInPlace) {
  Solver solver;
  SetRev set(solver, 6);
  for (std::int32_t x : {4, 0, 5, 2}) set.pushBack(x);
  solver.pushRestorationPoint();
  set.popFront();
  set.popFront();
  set.popBack();
  EXPECT_EQ(membersOf(set), (std::vector<std::int32_t>{5})) << "pops took the wrong members";
  EXPECT_EQ(set.nextLinks()[4], ~0) << "first pop front: mark ~0";
  EXPECT_EQ(set.nextLinks()[0], ~1) << "second pop front: mark ~1";
  EXPECT_EQ(set.nextLinks()[2], ~2) << "pop back: mark ~2";
  solver.popRestorationPoint();
  EXPECT_EQ(membersOf(set), (std::vector<std::int32_t>{4, 0, 5, 2}))
      << "restore must relink every popped element in its former place";
  EXPECT_EQ(set.size(), 4) << "size not restored";
  EXPECT_TRUE(set.audit()) << "invariants broken by the pop";
}

TEST(SetRev, RegistersOnceAtAPointAndRecordsTheLogMarks) {
  Solver solver;
  SetRev set(solver, 8);
  set.pushBack(6);  // at timestamp 0: logged, not registered
  advanceTimestamp(solver, 5);
  const std::int32_t objects = solver.trail->objectCount();
  const std::int32_t entries = solver.trail->count();
  set.pushBack(2);
  EXPECT_EQ(solver.trail->objectCount(), objects + 1) << "first change: one object entry";
  EXPECT_EQ(solver.trail->count(), entries + 2) << "first change: the log marks and the object";
  EXPECT_EQ(set.stamp(), 5u) << "stamp must take the solver's timestamp";
  EXPECT_EQ(set.addedMark(), 1) << "the mark must be the added log's size at registration";
  EXPECT_EQ(set.removedMark(), 0) << "the mark must be the removed log's size at registration";
  set.pushBack(3);
  set.popFront();
  EXPECT_EQ(solver.trail->count(), entries + 2) << "later changes must record nothing";
}

TEST(SetRev, NestedPointsRestoreLevelByLevel) {
  Solver solver;
  SetRev set(solver, 10);
  for (std::int32_t x : {0, 1, 2, 3}) set.pushBack(x);

  solver.pushRestorationPoint();
  const std::vector<std::int32_t> atOuter = membersOf(set);
  set.popFront();  // 0
  set.pushBack(7);
  set.pushFront(8);

  solver.pushRestorationPoint();
  const std::vector<std::int32_t> atInner = membersOf(set);
  set.popBack();   // 7
  set.popFront();  // 8
  set.pushBack(9);
  set.pushFront(5);

  solver.popRestorationPoint();
  EXPECT_EQ(membersOf(set), atInner) << "the inner pop must stop at the inner push";
  EXPECT_EQ(set.size(), static_cast<std::int32_t>(atInner.size())) << "size after inner pop";
  EXPECT_TRUE(set.audit()) << "invariants broken by the inner pop";

  // More changes at the outer level, then the outer pop undoes them with the outer ones.
  set.popBack();  // 7
  set.pushBack(6);
  solver.popRestorationPoint();
  EXPECT_EQ(membersOf(set), atOuter) << "the outer pop must return to the outer push";
  EXPECT_EQ(set.size(), static_cast<std::int32_t>(atOuter.size())) << "size after outer pop";
  for (std::int32_t x : {5, 6, 7, 8, 9}) {
    EXPECT_FALSE(set.contains(x)) << x << " was added after the outer push and is still there";
  }
  EXPECT_TRUE(set.audit()) << "invariants broken by the outer pop";
}

TEST(SetRev, ChangeFirstMadeInsideAClosedPointIsStillUndoneByTheOuterPop) {
  // The set is registered only at the inner point; after that pop, the solver's timestamp
  // still equals the set's stamp. A change at the outer level must nevertheless be recorded.
  Solver solver;
  SetRev set(solver, 6);
  set.pushBack(0);
  solver.pushRestorationPoint();
  solver.pushRestorationPoint();
  set.pushBack(1);
  solver.popRestorationPoint();
  set.pushBack(2);
  set.popFront();
  solver.popRestorationPoint();
  EXPECT_EQ(membersOf(set), (std::vector<std::int32_t>{0}))
      << "changes made between the two pops survived the outer pop";
}

TEST(SetRev, ClearGivesAFreshSetThatRegistersAgain) {
  Solver solver;
  advanceTimestamp(solver, 3);
  SetRev set(solver, 5);
  set.pushBack(4);
  set.pushFront(1);
  set.popBack();
  set.clear();
  for (std::int32_t x = 0; x < 5; ++x) {
    EXPECT_EQ(set.nextLinks()[x], 0) << "next[" << x << "] of a cleared set";
    EXPECT_EQ(set.prevLinks()[x], -1) << "prev[" << x << "] of a cleared set";
  }
  EXPECT_EQ(set.nextLinks()[5], 5) << "sentinel must link to itself";
  EXPECT_EQ(set.prevLinks()[5], 5) << "sentinel must link to itself";
  EXPECT_EQ(set.size(), 0) << "size of a cleared set";
  EXPECT_EQ(set.added().size(), 0) << "added log not emptied";
  EXPECT_EQ(set.removed().size(), 0) << "removed log not emptied";
  EXPECT_EQ(set.addedMark(), 0) << "added log mark not reset";
  EXPECT_EQ(set.removedMark(), 0) << "removed log mark not reset";
  EXPECT_EQ(set.stamp(), 0u) << "stamp not reset";

  const std::int32_t objects = solver.trail->objectCount();
  set.pushBack(2);
  EXPECT_EQ(solver.trail->objectCount(), objects + 1) << "a cleared set must register again";
}

}  // namespace
}  // namespace varnel
