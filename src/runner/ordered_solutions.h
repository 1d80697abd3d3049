// The solutions of a parallel search handed on as they are found, in the order the one-thread
// search finds them (subproblem by subproblem, each in its own search's order): the worker on the
// earliest unfinished subproblem passes its solutions straight on; the others hold theirs until
// their subproblem's turn, up to a cap of memory beyond which they wait for it. So a search that
// prints millions of solutions keeps its memory flat, and a stop request ends every wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "varnel/search/dfs.h"

namespace varnel::runner {

class OrderedSolutions {
 public:
  // Called with each solution in order, one call at a time, until `limit` were handed on.
  using Sink = void (*)(const std::vector<std::int64_t>& values, void* context);

  OrderedSolutions(std::int32_t workers, std::int32_t subproblems, std::uint64_t limit, Sink sink,
                   void* context, const StopRequest* stop,
                   std::uint64_t heldCap = std::uint64_t(16) << 20);

  // Worker w starts subproblem k, finds a solution in it, ends it (searched to its end).
  void started(std::int32_t worker, std::int32_t k);
  void found(std::int32_t worker, std::vector<std::int64_t>&& values);
  void ended(std::int32_t worker, std::int32_t k);

  // True once `limit` solutions were handed on: the rest need not be looked at.
  bool full() const { return full_.load(std::memory_order_relaxed); }

 private:
  void deliver(const std::vector<std::int64_t>& values);
  // Hands on what the earliest subproblems hold while they are ended. Holds the lock.
  void advance();

  std::mutex mutex_;
  std::condition_variable turn_;
  std::vector<std::int32_t> current_;  // per worker: its subproblem
  std::vector<std::uint8_t> ended_;    // per subproblem
  std::map<std::int32_t, std::vector<std::vector<std::int64_t>>> held_;
  std::int32_t next_ = 0;  // the earliest subproblem not handed on in full
  std::uint64_t limit_;
  std::uint64_t delivered_ = 0;
  std::atomic<bool> full_{false};  // delivered_ reached limit_: found() returns without the lock
  std::uint64_t heldBytes_ = 0;
  std::uint64_t heldCap_;
  Sink sink_;
  void* context_;
  const StopRequest* stop_;
};

}  // namespace varnel::runner
