// Progress of a long search on standard error: every period, the elapsed time, the nodes, failures,
// solutions and restarts (where there are any) so far, the nodes per second since the last line
// and, for a parallel search, the
// subproblems done out of the total with an estimate of the time left. On a terminal the line is
// rewritten in place; otherwise each report is a line of its own. Standard output never sees it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "varnel/platform/platform.h"
#include "varnel/search/dfs.h"

namespace varnel::solve {

class ProgressLine {
 public:
  // Reports `counters` (and `subproblems`, the parallel search's total once known, 0 before; may
  // be null) every `period` seconds, timed from `startTicks` (platform::counterNow()).
  ProgressLine(double period, bool terminal, std::int64_t startTicks,
               const SearchProgress* counters, const std::atomic<std::int32_t>* subproblems);
  ~ProgressLine();
  // Starts the reports; false when the system refuses the alarm's thread.
  bool start();
  // Stops them: once this returns no report is being written, and on a terminal the line is
  // cleared so that the report that follows starts on a clean line.
  void stop();

  // The text of one report (without line ending) at `seconds` from the start, with `rate` nodes
  // per second.
  static std::string format(double seconds, std::uint64_t nodes, std::uint64_t failures,
                            std::uint64_t solutions, std::uint64_t restarts, double rate,
                            std::int32_t subproblemsDone, std::int32_t subproblems);

  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  static void tick(void* self);
  void report();

  double period_;
  bool terminal_;
  std::int64_t startTicks_;
  const SearchProgress* counters_;
  const std::atomic<std::int32_t>* subproblems_;
  platform::Alarm alarm_;
  bool running_ = false;
  std::uint64_t lastNodes_ = 0;
  std::int64_t lastTicks_ = 0;
  std::size_t lastWidth_ = 0;  // the terminal line's length, to blank what a shorter one leaves
};

}  // namespace varnel::solve
