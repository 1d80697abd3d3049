// The trail: a typed undo log. Entries are 32-bit fields (kind 0), 64-bit fields (kinds 1 to 3:
// integers, doubles, pointers) and reversible objects (kind 4), undone newest first.
#pragma once

#include <cstdint>
#include <cstring>

#include "varnel/memory/arrays.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class Trail {
 public:
  // Entry kinds. Any kind above kObject is treated as kObject.
  enum Kind : std::int32_t { kInt = 0, kInt64 = 1, kDouble = 2, kPointer = 3, kObject = 4 };

  // Every array starts with 64 entries; every count and mark is 0.
  Trail();
  ~Trail();

  // Records a 32-bit field and its current value (kind 0).
  void recordInt(std::int32_t* field);
  // Records a 64-bit integer field (kind 1), a double field (kind 2), a pointer field (kind 3).
  void recordInt64(std::int64_t* field);
  void recordDouble(double* field);
  void recordPointer(void** field);
  // Records a reversible object (kind 4); undoing it calls its restore().
  void recordObject(Reversible* object);

  // Opens a restoration point: the current count becomes the mark.
  void pushMark();
  // Undoes every entry above the mark, newest first, and closes the innermost point.
  // Precondition: a point is open.
  void undoToMark();
  // Forgets every entry and every point without undoing anything.
  void clear();

  std::int32_t count() const { return count_; }
  std::int32_t mark() const { return mark_; }
  std::int32_t openPoints() const { return marksCount_; }
  std::int32_t kindCapacity() const { return kindCapacity_; }
  std::int32_t intCapacity() const { return intCapacity_; }
  std::int32_t intCount() const { return intCount_; }
  std::int32_t objectCount() const { return objectCount_; }
  std::int32_t marksCapacity() const { return marksCapacity_; }

 private:
  // One stack of 64-bit fields: addresses and old values share a count.
  struct WordStack {
    void** addresses;
    std::uint64_t* values;
    std::int32_t capacity;
    std::int32_t count;
  };

  void appendKind(Kind kind);
  void recordWord(Kind kind, void* field);
  void growKinds();
  void growInts();
  static void growWords(WordStack& stack);
  void growObjects();
  void growMarks();

  std::int32_t* kinds_;
  std::int32_t kindCapacity_;
  std::int32_t count_;
  std::int32_t mark_;
  std::int32_t** intAddresses_;
  std::int32_t* intValues_;
  std::int32_t intCapacity_;
  std::int32_t intCount_;
  WordStack words_[3];  // kinds 1, 2 and 3
  Reversible** objects_;
  std::int32_t objectCapacity_;
  std::int32_t objectCount_;
  std::int32_t* marks_;
  std::int32_t marksCapacity_;
  std::int32_t marksCount_;
};

// --- Inline definitions ------------------------------------------------------------------

inline void Trail::appendKind(Kind kind) {
  if (count_ == kindCapacity_) [[unlikely]]
    growKinds();
  kinds_[count_++] = kind;
}

inline void Trail::recordInt(std::int32_t* field) {
  appendKind(kInt);
  if (intCount_ == intCapacity_) [[unlikely]]
    growInts();
  intAddresses_[intCount_] = field;
  intValues_[intCount_] = *field;
  ++intCount_;
}

inline void Trail::recordWord(Kind kind, void* field) {
  appendKind(kind);
  WordStack& stack = words_[kind - kInt64];
  if (stack.count == stack.capacity) [[unlikely]]
    growWords(stack);
  stack.addresses[stack.count] = field;
  std::memcpy(&stack.values[stack.count], field, sizeof(std::uint64_t));
  ++stack.count;
}

inline void Trail::recordInt64(std::int64_t* field) { recordWord(kInt64, field); }

inline void Trail::recordDouble(double* field) { recordWord(kDouble, field); }

inline void Trail::recordPointer(void** field) {
  static_assert(sizeof(void*) == sizeof(std::uint64_t), "pointer entries hold 64-bit values");
  recordWord(kPointer, field);
}

inline void Trail::recordObject(Reversible* object) {
  appendKind(kObject);
  if (objectCount_ == objectCapacity_) [[unlikely]]
    growObjects();
  objects_[objectCount_++] = object;
}

inline void Trail::pushMark() {
  if (marksCount_ >= marksCapacity_) [[unlikely]]
    growMarks();
  marks_[marksCount_++] = mark_;
  mark_ = count_;
}

}  // namespace varnel
