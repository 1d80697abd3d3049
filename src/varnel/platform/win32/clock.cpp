// Win32 high-resolution counter: QueryPerformanceCounter and its fixed frequency.
// clang-format off
#include "windows_api.h"  // first: the Windows headers, lean
// clang-format on

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
