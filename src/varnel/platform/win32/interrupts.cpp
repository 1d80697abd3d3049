// Win32 interrupts: a console control handler, which Windows runs on a thread of its own; it
// only sets the flag, so the search stops at its next node and the program ends on its terms.
// clang-format off
#include "windows_api.h"  // first: the Windows headers, lean
// clang-format on

#include "varnel/platform/detail/interrupt_state.h"
#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

BOOL WINAPI onControl(DWORD event) {
  // The codes a POSIX shell would report: Ctrl-C and Ctrl-Break as SIGINT, the others as SIGTERM.
  const int code = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130 : 143;
  if (!detail::noteInterrupt(code)) TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  return TRUE;  // handled: the default handler would end the process at once
}

}  // namespace

bool watchInterrupts(std::atomic<std::uint8_t>* flag, std::uint8_t value) {
  detail::watchInterruptFlag(flag, value);
  return SetConsoleCtrlHandler(onControl, TRUE) != 0;
}

}  // namespace varnel::platform
