// Win32 threads that start suspended: _beginthreadex with CREATE_SUSPENDED, so that the C
// runtime sets up its per-thread data, released with ResumeThread.
// clang-format off
#include "windows_api.h"  // first: the Windows headers, lean
// clang-format on
#include <process.h>

#include <cstdlib>

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

// The thread's own record. The runtime wants a __stdcall start routine, which ThreadEntry is
// not on 32-bit targets, so the thread starts in a trampoline that reads entry and argument here.
struct Win32Thread {
  HANDLE handle;
  ThreadEntry entry;
  void* argument;
};

unsigned __stdcall threadStart(void* raw) {
  auto* self = static_cast<Win32Thread*>(raw);
  return self->entry(self->argument);
}

}  // namespace

bool createSuspendedThread(ThreadEntry entry, void* argument, ThreadHandle* out) {
  out->native = nullptr;
  auto* self = static_cast<Win32Thread*>(std::malloc(sizeof(Win32Thread)));
  if (self == nullptr) return false;
  self->entry = entry;
  self->argument = argument;
  unsigned threadId = 0;
  const std::uintptr_t handle =
      _beginthreadex(nullptr, 0, threadStart, self, CREATE_SUSPENDED, &threadId);
  if (handle == 0) {
    std::free(self);
    return false;
  }
  self->handle = reinterpret_cast<HANDLE>(handle);
  out->native = self;
  return true;
}

void releaseThread(ThreadHandle handle) {
  ResumeThread(static_cast<Win32Thread*>(handle.native)->handle);
}

unsigned joinThread(ThreadHandle handle) {
  const HANDLE thread = static_cast<Win32Thread*>(handle.native)->handle;
  WaitForSingleObject(thread, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeThread(thread, &exitCode);
  return exitCode;
}

void closeThread(ThreadHandle handle) {
  auto* self = static_cast<Win32Thread*>(handle.native);
  CloseHandle(self->handle);
  std::free(self);
}

// Windows fixes no number of threads: each one costs its stack reservation and kernel objects,
// so only memory bounds them, and a refusal shows when a thread is created.
std::uint64_t maxThreadCount() { return UINT64_MAX; }

bool pinCurrentThread(unsigned cpu) {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) {
    return false;
  }
  unsigned count = 0;
  for (DWORD_PTR m = process; m != 0; m &= m - 1) ++count;
  unsigned wanted = cpu % count;
  for (unsigned k = 0; k < sizeof(DWORD_PTR) * 8; ++k) {
    const DWORD_PTR bit = DWORD_PTR{1} << k;
    if ((process & bit) == 0 || wanted-- != 0) continue;
    return SetThreadAffinityMask(GetCurrentThread(), bit) != 0;
  }
  return false;
}

unsigned currentProcessor() { return GetCurrentProcessorNumber(); }

}  // namespace varnel::platform
