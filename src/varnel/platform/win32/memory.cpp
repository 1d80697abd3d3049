// Win32 memory: total physical memory from the global memory status, and large blocks from
// VirtualAlloc. Committed pages are faulted in at first touch; nothing prefaults them.
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

void* mapLargeBlock(std::uint64_t bytes, bool /*prefault*/) {
  if (bytes > SIZE_MAX) return nullptr;
  return VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_RESERVE | MEM_COMMIT,
                      PAGE_READWRITE);
}

void unmapLargeBlock(void* block, std::uint64_t /*bytes*/) { VirtualFree(block, 0, MEM_RELEASE); }

void prefaultRange(void* /*start*/, std::uint64_t /*bytes*/) {}

}  // namespace varnel::platform
