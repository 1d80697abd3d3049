// nextRandom: the library's reproducible random numbers. A linear congruential generator
// (state x 214013 + 2531011, result bits 16 to 30) with one state per thread, starting at 1 and
// never reseeded, so that runs with the same arguments draw the same numbers.
#pragma once

#include <cstdint>

namespace varnel {

namespace detail {
inline constinit thread_local std::uint32_t randomState = 1;
}  // namespace detail

// Next number of the calling thread's sequence, in 0 .. 32767.
inline std::int32_t nextRandom() {
  detail::randomState = detail::randomState * 214013u + 2531011u;
  return static_cast<std::int32_t>((detail::randomState >> 16) & 0x7FFF);
}

}  // namespace varnel
