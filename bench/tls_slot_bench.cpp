// One read of the allocator's thread-local slot through the platform layer, next to the same read
// of a compiler thread_local, each inline and through a call the compiler cannot see into (which
// keeps it from hoisting a thread_local's address computation out of the loop). On Linux both are
// one load; on MinGW-w64 the thread_local goes through __emutls_get_address and loses to
// TlsGetValue, which is why the Win32 layer uses TlsGetValue (docs/windows.md has the numbers).
#include <benchmark/benchmark.h>

#include "varnel/memory/allocator.h"
#include "varnel/platform/thread_slot.h"

namespace {

thread_local void* compilerSlot = nullptr;

void* readPlatformSlot() { return varnel::platform::threadSlotGet(varnel::allocatorTlsIndex); }
void* readCompilerSlot() { return compilerSlot; }

// Calls through a volatile pointer are never inlined, on any compiler.
void* (*volatile platformSlotCall)() = &readPlatformSlot;
void* (*volatile compilerSlotCall)() = &readCompilerSlot;

void PlatformSlotInline(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(readPlatformSlot());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(PlatformSlotInline);

void CompilerThreadLocalInline(benchmark::State& state) {
  compilerSlot = &state;
  for (auto _ : state) {
    benchmark::DoNotOptimize(readCompilerSlot());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CompilerThreadLocalInline);

void PlatformSlotOutOfLine(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(platformSlotCall());
}
BENCHMARK(PlatformSlotOutOfLine);

void CompilerThreadLocalOutOfLine(benchmark::State& state) {
  compilerSlot = &state;
  for (auto _ : state) benchmark::DoNotOptimize(compilerSlotCall());
}
BENCHMARK(CompilerThreadLocalOutOfLine);

}  // namespace

BENCHMARK_MAIN();
