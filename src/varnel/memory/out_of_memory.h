// The program's only way of failing for lack of memory: one line on standard error, standard
// output flushed first, and exit code 1. Safe to call from any thread; the first caller wins.
#pragma once

#include <cstdint>

namespace varnel {

// "Error: no more memory: <capacity> is exceeded": a carving would pass a thread's budget.
[[noreturn]] void exitBudgetExceeded(std::uint64_t capacity);

// "Error: no more memory: <words> resquested": the heap refused a chunk of `words` 8-byte words.
[[noreturn]] void exitChunkRefused(std::uint64_t words);

// "Error: no more memory: <entries> requested": the heap refused an enlarged chunk table.
[[noreturn]] void exitChunkTableRefused(std::uint32_t entries);

// A request larger than the largest size class (2^37 bytes).
[[noreturn]] void exitRequestTooLarge(std::uint64_t bytes);

// A container asked to hold `count` elements or slots, more than its 32-bit positions can number
// (2^31 slots, 2147483647 elements): refused rather than truncated.
[[noreturn]] void exitBeyondIndexRange(std::uint64_t count);

// The heap refused one of an allocator's own records (no budget).
[[noreturn]] void exitRecordRefused(std::uint64_t bytes);

// The heap refused a whole budget buffer.
[[noreturn]] void exitBudgetRefused(std::uint64_t bytes);

// No thread-local slot could be had for the allocators.
[[noreturn]] void exitNoThreadSlot();

}  // namespace varnel
