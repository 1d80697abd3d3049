// Win32 memory: total physical memory from the global memory status. Pages fault in at first
// touch: nothing here prefaults them.
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

void prefaultRange(void* /*start*/, std::uint64_t /*bytes*/) {}

}  // namespace varnel::platform
