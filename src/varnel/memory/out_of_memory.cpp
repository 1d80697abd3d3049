// Out-of-memory exits. Standard error is tied to standard output, so report text already written
// is flushed before the message. Only the first thread to fail writes and exits; a second one
// (two workers passing their budgets at once) waits for the process to end, so exit runs once.
#include "varnel/memory/out_of_memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace varnel {
namespace {

std::atomic_flag exiting = ATOMIC_FLAG_INIT;

template <class Number>
[[noreturn]] void exitWithLine(const char* prefix, Number number, const char* suffix) {
  if (exiting.test_and_set()) {
    for (;;) exiting.wait(true);
  }
  std::cerr << prefix << number << suffix << std::endl;
  std::cout.flush();
  std::exit(1);
}

}  // namespace

void exitBudgetExceeded(std::uint64_t capacity) {
  exitWithLine("Error: no more memory: ", capacity, " is exceeded");
}

void exitChunkRefused(std::uint64_t words) {
  exitWithLine("Error: no more memory: ", words, " resquested");
}

void exitChunkTableRefused(std::uint32_t entries) {
  exitWithLine("Error: no more memory: ", entries, " requested");
}

void exitRequestTooLarge(std::uint64_t bytes) {
  exitWithLine("Error: no more memory: ", bytes,
               " bytes requested at once, above the largest block of 137438953472 bytes");
}

void exitBeyondIndexRange(std::uint64_t count) {
  exitWithLine("Error: no more memory: ", count,
               " elements asked of one container, beyond what 32-bit positions can number");
}

void exitRecordRefused(std::uint64_t bytes) {
  exitWithLine("Error: no more memory: ", bytes, " bytes for an allocator record refused");
}

void exitBudgetRefused(std::uint64_t bytes) {
  exitWithLine("Error: no more memory: ", bytes, " bytes of budget cannot be reserved");
}

void exitNoThreadSlot() { exitWithLine("Error: no thread-local slot for the allocator", "", ""); }

}  // namespace varnel
