// POSIX high-resolution counter: CLOCK_MONOTONIC in nanoseconds.
#include <time.h>

#include "varnel/platform/platform.h"

namespace varnel::platform {

std::int64_t counterFrequency() { return 1000000000; }

std::int64_t counterNow() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace varnel::platform
