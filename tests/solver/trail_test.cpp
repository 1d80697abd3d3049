// The trail on its own: entries of every kind undone newest first, marks nesting, growth that
// keeps every recorded entry, and clear() forgetting without undoing.
#include "varnel/solver/trail.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varnel {
namespace {

// Observes the four watched fields at the moment its restore() runs.
struct Fields {
  std::int32_t i32 = 0;
  std::int64_t i64 = 0;
  double real = 0;
  void* pointer = nullptr;
};

class Observer : public Reversible {
 public:
  Observer(const Fields& fields, std::vector<Fields>& seen) : fields_(fields), seen_(seen) {}
  void restore() override { seen_.push_back(fields_); }

 private:
  const Fields& fields_;
  std::vector<Fields>& seen_;
};

TEST(Trail, StartsEmptyWithCapacity64) {
  Trail trail;
  EXPECT_EQ(trail.count(), 0) << "fresh trail has entries";
  EXPECT_EQ(trail.mark(), 0) << "fresh trail has a mark";
  EXPECT_EQ(trail.openPoints(), 0) << "fresh trail has open points";
  EXPECT_EQ(trail.kindCapacity(), 64) << "kinds must start with 64 entries";
  EXPECT_EQ(trail.intCapacity(), 64) << "int stack must start with 64 entries";
  EXPECT_EQ(trail.marksCapacity(), 64) << "marks must start with 64 entries";
}

// Every kind recorded on one field set, interleaved, with changes in between. Undoing must
// replay the old values in exactly the reverse order of recording: each restore() sees the
// fields with every later entry undone and every earlier one not yet.
TEST(Trail, UndoesAllKindsInExactReverseOrderOfRecording) {
  Fields f;
  std::vector<Fields> seen;
  Observer first(f, seen);
  Observer second(f, seen);
  std::int32_t other = 0;

  f = {1, 2, 3.5, &other};
  Trail trail;
  trail.pushMark();
  trail.recordInt(&f.i32);
  f.i32 = 10;
  trail.recordInt64(&f.i64);
  f.i64 = 20;
  trail.recordObject(&first);
  trail.recordDouble(&f.real);
  f.real = 30.5;
  trail.recordPointer(&f.pointer);
  f.pointer = &f;
  trail.recordInt(&f.i32);
  f.i32 = 100;
  trail.recordObject(&second);
  trail.recordInt64(&f.i64);
  f.i64 = 200;
  trail.recordDouble(&f.real);
  f.real = -1.25;
  ASSERT_EQ(trail.count(), 9) << "one kind entry per record call";

  trail.undoToMark();

  ASSERT_EQ(seen.size(), 2u) << "each object entry must call restore() once";
  // `second` is newer: only the last int64 and double entries are undone when it restores.
  EXPECT_EQ(seen[0].i32, 100) << "int entry recorded before `second` undone too early";
  EXPECT_EQ(seen[0].i64, 20) << "int64 entry recorded after `second` not undone first";
  EXPECT_EQ(seen[0].real, 30.5) << "double entry recorded after `second` not undone first";
  EXPECT_EQ(seen[0].pointer, &f) << "pointer entry recorded before `second` undone too early";
  // `first`: everything recorded after it is undone, the int and int64 before it are not.
  EXPECT_EQ(seen[1].i32, 10) << "second int entry not undone before `first`";
  EXPECT_EQ(seen[1].i64, 20) << "int64 entry recorded before `first` undone too early";
  EXPECT_EQ(seen[1].real, 3.5) << "double entries recorded after `first` not undone first";
  EXPECT_EQ(seen[1].pointer, &other) << "pointer entry recorded after `first` not undone first";
  // Each field ends at its oldest recorded value (a forward replay would leave a later one).
  EXPECT_EQ(f.i32, 1) << "int field not back to its value at the mark";
  EXPECT_EQ(f.i64, 2) << "int64 field not back to its value at the mark";
  EXPECT_EQ(f.real, 3.5) << "double field not back to its value at the mark";
  EXPECT_EQ(f.pointer, &other) << "pointer field not back to its value at the mark";
  EXPECT_EQ(trail.count(), 0) << "count must return to the mark";
  EXPECT_EQ(trail.intCount(), 0) << "int stack not consumed";
  EXPECT_EQ(trail.objectCount(), 0) << "object stack not consumed";
}

TEST(Trail, SixtyFiveEntriesOfEachWordKindAllComeBack) {
  // The first growth of each 64-bit stack must carry the 64 recorded pairs over.
  std::int64_t ints[65];
  double reals[65];
  void* pointers[65];
  Trail trail;
  trail.pushMark();
  for (int k = 0; k < 65; ++k) {
    ints[k] = k;
    reals[k] = k + 0.5;
    pointers[k] = &ints[k];
    trail.recordInt64(&ints[k]);
    trail.recordDouble(&reals[k]);
    trail.recordPointer(&pointers[k]);
    ints[k] = -1;
    reals[k] = -1;
    pointers[k] = nullptr;
  }
  EXPECT_EQ(trail.kindCapacity(), 256) << "195 kinds need two doublings of 64";
  trail.undoToMark();
  for (int k = 0; k < 65; ++k) {
    EXPECT_EQ(ints[k], k) << "int64 entry " << k << " lost by the growth of its stack";
    EXPECT_EQ(reals[k], k + 0.5) << "double entry " << k << " lost by the growth of its stack";
    EXPECT_EQ(pointers[k], &ints[k]) << "pointer entry " << k << " lost by the growth";
  }
}

TEST(Trail, SixtyFiveObjectsAreAllRestoredNewestFirst) {
  Fields f;
  std::vector<Fields> seen;
  std::vector<Observer*> observers;
  Trail trail;
  trail.pushMark();
  for (int k = 0; k < 65; ++k) {
    observers.push_back(new Observer(f, seen));
    trail.recordInt(&f.i32);
    f.i32 = k + 1;
    trail.recordObject(observers.back());
  }
  trail.undoToMark();
  ASSERT_EQ(seen.size(), 65u) << "an object entry was lost when the object stack grew";
  for (int k = 0; k < 65; ++k) {
    // Object k was recorded with i32 = k + 1; newest first means it restores (64 - k)-th.
    EXPECT_EQ(seen[64 - k].i32, k + 1) << "object " << k << " restored out of order";
  }
  EXPECT_EQ(f.i32, 0) << "int field not back to its value at the mark";
  for (Observer* o : observers) delete o;
}

TEST(Trail, NestedMarksUndoLevelByLevelBeyondTheFirstGrowth) {
  // 65 nested points: the marks stack grows once and every level keeps its own mark.
  std::int32_t levels[65] = {};
  Trail trail;
  for (int depth = 0; depth < 65; ++depth) {
    trail.pushMark();
    for (int k = 0; k <= depth % 3; ++k) {
      trail.recordInt(&levels[depth]);
      levels[depth] += 1;
    }
  }
  EXPECT_EQ(trail.openPoints(), 65) << "every push opens a point";
  EXPECT_EQ(trail.marksCapacity(), 128) << "marks grow to twice 64 when the 65th is pushed";
  for (int depth = 64; depth >= 0; --depth) {
    ASSERT_EQ(levels[depth], depth % 3 + 1) << "level " << depth << " undone by an inner pop";
    trail.undoToMark();
    EXPECT_EQ(levels[depth], 0) << "level " << depth << " not undone by its own pop";
    if (depth > 0) {
      EXPECT_EQ(levels[depth - 1], (depth - 1) % 3 + 1)
          << "pop of level " << depth << " went past its mark";
    }
  }
  EXPECT_EQ(trail.count(), 0) << "entries left after the outermost pop";
  EXPECT_EQ(trail.mark(), 0) << "mark not back to 0 after the outermost pop";
  EXPECT_EQ(trail.openPoints(), 0) << "points left open";
}

TEST(Trail, ClearForgetsEntriesWithoutUndoingThem) {
  Fields f;
  std::vector<Fields> seen;
  Observer observer(f, seen);
  Trail trail;
  trail.pushMark();
  trail.recordInt(&f.i32);
  trail.recordInt64(&f.i64);
  trail.recordObject(&observer);
  f.i32 = 7;
  f.i64 = 8;
  trail.clear();
  EXPECT_TRUE(seen.empty()) << "clear() must not call restore()";
  EXPECT_EQ(f.i32, 7) << "clear() wrote an old int value back";
  EXPECT_EQ(f.i64, 8) << "clear() wrote an old int64 value back";
  EXPECT_EQ(trail.count(), 0) << "entries survive clear()";
  EXPECT_EQ(trail.intCount(), 0) << "int stack survives clear()";
  EXPECT_EQ(trail.objectCount(), 0) << "object stack survives clear()";
  EXPECT_EQ(trail.openPoints(), 0) << "points survive clear()";

  // The stacks really are empty: a new point undoes only what is recorded after clear().
  trail.pushMark();
  trail.recordInt64(&f.i64);
  f.i64 = 9;
  trail.undoToMark();
  EXPECT_EQ(f.i64, 8) << "a stale int64 entry was consumed instead of the new one";
  EXPECT_EQ(f.i32, 7) << "a stale int entry was undone after clear()";
}

}  // namespace
}  // namespace varnel
