// Win32 alarm: a thread that waits on an event with a time-out; the event is the cancellation.
// clang-format off
#include "windows_api.h"  // first: the Windows headers, lean
// clang-format on
#include <process.h>

#include <cstdlib>

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

struct Win32Alarm {
  HANDLE thread;
  HANDLE cancel;
  DWORD milliseconds;
  ULONGLONG periodMs;  // 0: one shot
  void (*fire)(void*);
  void* context;
};

unsigned __stdcall alarmMain(void* raw) {
  auto* self = static_cast<Win32Alarm*>(raw);
  // Deadlines on the tick count, so that fire's own time does not make a period drift.
  ULONGLONG deadline = GetTickCount64() + self->milliseconds;
  DWORD wait = self->milliseconds;
  while (WaitForSingleObject(self->cancel, wait) == WAIT_TIMEOUT) {
    self->fire(self->context);
    if (self->periodMs == 0) break;
    deadline += self->periodMs;
    const ULONGLONG now = GetTickCount64();
    wait = deadline > now ? static_cast<DWORD>(deadline - now) : 0;
  }
  return 0;
}

}  // namespace

bool startAlarm(double seconds, void (*fire)(void* context), void* context, Alarm* out,
                double period) {
  out->native = nullptr;
  auto* self = static_cast<Win32Alarm*>(std::malloc(sizeof(Win32Alarm)));
  if (self == nullptr) return false;
  self->fire = fire;
  self->context = context;
  // WaitForSingleObject takes whole milliseconds below INFINITE; longer waits are capped there.
  const double ms = seconds * 1000.0;
  self->milliseconds = ms >= 4294967294.0 ? 4294967294u : static_cast<DWORD>(ms);
  self->periodMs = period > 0 ? (period < 1e-3 ? 1 : static_cast<ULONGLONG>(period * 1000.0)) : 0;
  self->cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (self->cancel == nullptr) {
    std::free(self);
    return false;
  }
  unsigned id = 0;
  const std::uintptr_t thread = _beginthreadex(nullptr, 0, alarmMain, self, 0, &id);
  if (thread == 0) {
    CloseHandle(self->cancel);
    std::free(self);
    return false;
  }
  self->thread = reinterpret_cast<HANDLE>(thread);
  out->native = self;
  return true;
}

void cancelAlarm(Alarm alarm) {
  auto* self = static_cast<Win32Alarm*>(alarm.native);
  SetEvent(self->cancel);
  WaitForSingleObject(self->thread, INFINITE);
  CloseHandle(self->thread);
  CloseHandle(self->cancel);
  std::free(self);
}

}  // namespace varnel::platform
