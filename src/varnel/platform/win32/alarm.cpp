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
  void (*fire)(void*);
  void* context;
};

unsigned __stdcall alarmMain(void* raw) {
  auto* self = static_cast<Win32Alarm*>(raw);
  if (WaitForSingleObject(self->cancel, self->milliseconds) == WAIT_TIMEOUT) {
    self->fire(self->context);
  }
  return 0;
}

}  // namespace

bool startAlarm(double seconds, void (*fire)(void* context), void* context, Alarm* out) {
  out->native = nullptr;
  auto* self = static_cast<Win32Alarm*>(std::malloc(sizeof(Win32Alarm)));
  if (self == nullptr) return false;
  self->fire = fire;
  self->context = context;
  // WaitForSingleObject takes whole milliseconds below INFINITE; longer waits are capped there.
  const double ms = seconds * 1000.0;
  self->milliseconds = ms >= 4294967294.0 ? 4294967294u : static_cast<DWORD>(ms);
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
