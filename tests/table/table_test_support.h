// Helpers for the table tests: tables from explicit rows, per-class block usage of the calling
// thread's allocator, and a fresh thread with its own allocator.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "varnel/containers/array.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/tuple_table.h"

namespace varnel::testing {

// A pooled table whose tuple t holds the values rows[t] (all rows of one length).
inline TupleTable* tableFromRows(const std::vector<std::vector<std::int64_t>>& rows,
                                 std::int32_t upper) {
  const auto arity = static_cast<std::int32_t>(rows.front().size());
  auto* table = newPooled<TupleTable>(arity, static_cast<std::int32_t>(rows.size()), upper);
  Array<std::int64_t> values(arity);
  for (const auto& row : rows) {
    for (std::int32_t i = 0; i < arity; ++i) values[i] = row[i];
    table->addTuple(values);
  }
  return table;
}

// Blocks in use per size class on the calling thread: obtained minus free.
using BlockUsage = std::array<std::int64_t, kSizeClassCount>;

inline BlockUsage blocksInUse() {
  BlockUsage usage{};
  const varnel_allocator* allocator = currentAllocator();
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    const SizeClassPool* pool = allocator->pools[c];
    usage[c] = static_cast<std::int64_t>(pool->chunkCount * pool->blocksPerChunk) -
               static_cast<std::int64_t>(pool->freeCount);
  }
  return usage;
}

// Runs `body` on a new thread that owns a new allocator (no budget) and a fresh nextRandom.
inline void onFreshThread(const std::function<void()>& body) {
  std::thread worker([&] {
    createThreadAllocator(0);
    body();
    destroyThreadAllocator();
  });
  worker.join();
}

}  // namespace varnel::testing
