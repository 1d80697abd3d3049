// Win32 interrupts: a console control handler, which Windows runs on a thread of its own; it
// only sets the flag, so the search stops at its next node and the program ends on its terms.
// clang-format off
#include "windows_api.h"  // first: the Windows headers, lean
// clang-format on

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

std::atomic<std::uint8_t>* watchedFlag = nullptr;
std::uint8_t watchedValue = 0;
std::atomic<int> firstExitCode{0};
std::atomic<int> interruptCount{0};

BOOL WINAPI onControl(DWORD event) {
  // The codes a POSIX shell would report: Ctrl-C and Ctrl-Break as SIGINT, the others as SIGTERM.
  const int code = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130 : 143;
  if (interruptCount.fetch_add(1, std::memory_order_relaxed) > 0) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  }
  firstExitCode.store(code, std::memory_order_relaxed);
  std::uint8_t none = 0;
  watchedFlag->compare_exchange_strong(none, watchedValue, std::memory_order_relaxed);
  return TRUE;  // handled: the default handler would end the process at once
}

}  // namespace

bool watchInterrupts(std::atomic<std::uint8_t>* flag, std::uint8_t value) {
  watchedFlag = flag;
  watchedValue = value;
  return SetConsoleCtrlHandler(onControl, TRUE) != 0;
}

int interruptExitCode() { return firstExitCode.load(std::memory_order_relaxed); }

}  // namespace varnel::platform
