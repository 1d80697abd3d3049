// Wall-clock intervals in whole milliseconds from the high-resolution counter.
#pragma once

#include <cstdint>

#include "varnel/platform/platform.h"

namespace varnel {

// (end - start) x 1000 / frequency in signed 64-bit arithmetic, multiplication first, the
// division truncating toward zero.
constexpr std::int64_t elapsedMilliseconds(std::int64_t start, std::int64_t end,
                                           std::int64_t frequency) {
  return (end - start) * 1000 / frequency;
}

}  // namespace varnel
