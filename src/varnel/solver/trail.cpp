// Growth and undo of the trail.
#include "varnel/solver/trail.h"

#include <cstring>

namespace varnel {
namespace {
constexpr std::int32_t kInitialCapacity = 64;
}  // namespace

Trail::Trail()
    : kinds_(allocateArray<std::int32_t>(kInitialCapacity)),
      kindCapacity_(kInitialCapacity),
      count_(0),
      mark_(0),
      intAddresses_(allocateArray<std::int32_t*>(kInitialCapacity)),
      intValues_(allocateArray<std::int32_t>(kInitialCapacity)),
      intCapacity_(kInitialCapacity),
      intCount_(0) {
  for (WordStack& stack : words_) {
    stack.addresses = allocateArray<void*>(kInitialCapacity);
    stack.values = allocateArray<std::uint64_t>(kInitialCapacity);
    stack.capacity = kInitialCapacity;
    stack.count = 0;
  }
  objects_ = allocateArray<Reversible*>(kInitialCapacity);
  objectCapacity_ = kInitialCapacity;
  objectCount_ = 0;
  marks_ = allocateArray<std::int32_t>(kInitialCapacity);
  marksCapacity_ = kInitialCapacity;
  marksCount_ = 0;
}

Trail::~Trail() {
  // Reverse order of construction.
  freeArray(marks_, marksCapacity_);
  freeArray(objects_, objectCapacity_);
  for (int k = 2; k >= 0; --k) {
    freeArray(words_[k].values, words_[k].capacity);
    freeArray(words_[k].addresses, words_[k].capacity);
  }
  freeArray(intValues_, intCapacity_);
  freeArray(intAddresses_, intCapacity_);
  freeArray(kinds_, kindCapacity_);
}

void Trail::growKinds() {
  const std::int32_t capacity = doubledCapacity(kindCapacity_);
  kinds_ = growArray(kinds_, kindCapacity_, capacity);
  kindCapacity_ = capacity;
}

void Trail::growInts() {
  const std::int32_t capacity = doubledCapacity(intCount_);
  intAddresses_ = growArray(intAddresses_, intCapacity_, capacity);
  intValues_ = growArray(intValues_, intCapacity_, capacity);
  intCapacity_ = capacity;
}

void Trail::growWords(WordStack& stack) {
  const std::int32_t capacity = doubledCapacity(stack.count);
  stack.addresses = growArray(stack.addresses, stack.capacity, capacity);
  stack.values = growArray(stack.values, stack.capacity, capacity);
  stack.capacity = capacity;
}

void Trail::growObjects() {
  const std::int32_t capacity = doubledCapacity(objectCapacity_);
  objects_ = growArray(objects_, objectCapacity_, capacity);
  objectCapacity_ = capacity;
}

void Trail::growMarks() {
  const std::int32_t capacity = std::max(doubledCapacity(marksCapacity_), marksCount_);
  marks_ = growArray(marks_, marksCapacity_, capacity);
  marksCapacity_ = capacity;
}

void Trail::undoToMark() {
  VARNEL_ASSERT(marksCount_ > 0);
  for (std::int32_t i = count_ - 1; i >= mark_; --i) {
    const std::int32_t kind = kinds_[i];
    if (kind == kInt) {
      --intCount_;
      *intAddresses_[intCount_] = intValues_[intCount_];
    } else if (kind >= kObject) {
      objects_[--objectCount_]->restore();
    } else {
      WordStack& stack = words_[kind - kInt64];
      --stack.count;
      std::memcpy(stack.addresses[stack.count], &stack.values[stack.count], sizeof(std::uint64_t));
    }
  }
  count_ = mark_;
  mark_ = marks_[--marksCount_];
}

void Trail::clear() {
  intCount_ = 0;
  for (WordStack& stack : words_) stack.count = 0;
  objectCount_ = 0;
  count_ = 0;
  mark_ = 0;
  marksCount_ = 0;
}

}  // namespace varnel
