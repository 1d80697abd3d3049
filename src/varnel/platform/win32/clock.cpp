// Win32 high-resolution counter: QueryPerformanceCounter and its fixed frequency.
#include "windows_api.h"

#include "varnel/platform/platform.h"

namespace varnel::platform {

std::int64_t counterFrequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);  // cannot fail since Windows XP
  return frequency.QuadPart;
}

std::int64_t counterNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

}  // namespace varnel::platform
