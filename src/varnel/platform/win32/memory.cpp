// Win32 total physical memory from the global memory status.
// clang-format off
#include "windows_api.h"  // first: the Windows headers, lean
// clang-format on

#include "varnel/platform/platform.h"

namespace varnel::platform {

std::uint64_t totalPhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);  // the call fails unless the caller states the size (64)
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

}  // namespace varnel::platform
