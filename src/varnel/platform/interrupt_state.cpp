// The interrupt state shared by the POSIX and Win32 handlers.
#include "varnel/platform/detail/interrupt_state.h"

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

std::atomic<std::uint8_t>* watchedFlag = nullptr;
std::uint8_t watchedValue = 0;
std::atomic<int> firstExitCode{0};
std::atomic<int> interruptCount{0};
static_assert(std::atomic<int>::is_always_lock_free, "touched by signal handlers");

}  // namespace

namespace detail {

void watchInterruptFlag(std::atomic<std::uint8_t>* flag, std::uint8_t value) {
  watchedFlag = flag;
  watchedValue = value;
}

bool noteInterrupt(int exitCode) {
  if (interruptCount.fetch_add(1, std::memory_order_relaxed) > 0) return false;
  firstExitCode.store(exitCode, std::memory_order_relaxed);
  std::uint8_t none = 0;
  watchedFlag->compare_exchange_strong(none, watchedValue, std::memory_order_relaxed);
  return true;
}

}  // namespace detail

int interruptExitCode() { return firstExitCode.load(std::memory_order_relaxed); }

}  // namespace varnel::platform
