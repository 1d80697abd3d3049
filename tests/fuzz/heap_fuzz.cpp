// Fuzz target: HeapMinDouble and HeapMinInt64 under key changes, against a sorted model of the
// live keys. After every change each element keeps the key it was given, position 0 holds the
// smallest, the live positions hold exactly the model's keys, and the heap's audit passes.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "varnel/containers/array.h"
#include "varnel/containers/heap_min.h"
#include "varnel/memory/pooled.h"

namespace {

// Keys from a small range (many ties), extremes including the fillers' key, or any value.
template <class Key>
Key drawKey(varnel::fuzz::ByteReader& in) {
  switch (in.below(4)) {
    case 0:
      return static_cast<Key>(in.between(-4, 4));
    case 1:
      return in.below(2) == 0 ? std::numeric_limits<Key>::max()
                              : std::numeric_limits<Key>::lowest();
    case 2:
      return static_cast<Key>(in.between(-1000, 1000));
    default: {
      const auto raw = static_cast<std::int64_t>(in.word());
      if constexpr (std::is_same_v<Key, double>) {
        return static_cast<double>(raw) / 4096.0;  // finite: NaN keys have no order
      } else {
        return raw;
      }
    }
  }
}

template <class Key>
void checkAgainst(const varnel::HeapMin<Key>& heap, const std::vector<Key>& model, int step) {
  const auto count = static_cast<std::int32_t>(model.size());
  VARNEL_FUZZ_CHECK(heap.count() == count, "step %d: %d live elements, expected %d", step,
                    heap.count(), count);
  for (std::int32_t e = 0; e < count; ++e) {
    VARNEL_FUZZ_CHECK(heap.keyOf(e) == model[e], "step %d: element %d lost its key", step, e);
  }
  std::vector<Key> live;
  for (std::int32_t p = 0; p < count; ++p) live.push_back(heap.keyAt(p));
  std::vector<Key> sorted = model;
  std::sort(sorted.begin(), sorted.end());
  std::sort(live.begin(), live.end());
  VARNEL_FUZZ_CHECK(live == sorted, "step %d: the live positions hold other keys", step);
  VARNEL_FUZZ_CHECK(heap.keyAt(0) == sorted.front(), "step %d: position 0 is not the smallest",
                    step);
  for (std::int32_t p = count; p < heap.capacity(); ++p) {
    VARNEL_FUZZ_CHECK(heap.elementAt(p) == p && heap.keyAt(p) == varnel::HeapMin<Key>::kLargestKey,
                      "step %d: filler position %d was moved or changed", step, p);
  }
  VARNEL_FUZZ_CHECK(heap.audit(), "step %d: heap audit failed", step);
}

template <class Key>
void exercise(varnel::fuzz::ByteReader& in) {
  const std::int32_t n = in.between(1, 40);
  varnel::Array<Key> values(n);
  std::vector<Key> model;
  for (std::int32_t e = 0; e < n; ++e) {
    values[e] = drawKey<Key>(in);
    model.push_back(values[e]);
  }
  auto* heap = varnel::newPooled<varnel::HeapMin<Key>>(values);
  // 2^(floor(log2 n) + 1) - 1: the smallest complete tree with more than floor(log2 n) levels.
  const auto expectedCapacity =
      static_cast<std::int32_t>((std::uint32_t(1) << std::bit_width(std::uint32_t(n))) - 1);
  VARNEL_FUZZ_CHECK(heap->capacity() == expectedCapacity, "%d elements: capacity %d, expected %d",
                    n, heap->capacity(), expectedCapacity);
  checkAgainst(*heap, model, 0);
  for (int step = 1; in.more() && step <= 400; ++step) {
    const auto e = static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(n)));
    const Key key = drawKey<Key>(in);
    heap->setKey(e, key);
    model[e] = key;
    checkAgainst(*heap, model, step);
  }
  varnel::deletePooled(heap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  varnel::fuzz::ByteReader in(data, size);
  if (in.below(2) == 0) {
    exercise<double>(in);
  } else {
    exercise<std::int64_t>(in);
  }
  return 0;
}
