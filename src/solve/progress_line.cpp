// The progress reports, written by the alarm's thread while the search runs on others.
#include "solve/progress_line.h"

#include <cstdio>

namespace varnel::solve {

namespace {

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

ProgressLine::ProgressLine(double period, bool terminal, std::int64_t startTicks,
                           const SearchProgress* counters,
                           const std::atomic<std::int32_t>* subproblems)
    : period_(period),
      terminal_(terminal),
      startTicks_(startTicks),
      counters_(counters),
      subproblems_(subproblems),
      lastTicks_(startTicks) {}

ProgressLine::~ProgressLine() { stop(); }

bool ProgressLine::start() {
  running_ = platform::startAlarm(period_, tick, this, &alarm_, period_);
  return running_;
}

void ProgressLine::stop() {
  if (!running_) return;
  platform::cancelAlarm(alarm_);
  running_ = false;
  if (terminal_ && lastWidth_ > 0) {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(lastWidth_), "");
    std::fflush(stderr);
  }
}

void ProgressLine::tick(void* self) { static_cast<ProgressLine*>(self)->report(); }

std::string ProgressLine::format(double seconds, std::uint64_t nodes, std::uint64_t failures,
                                 std::uint64_t solutions, std::uint64_t restarts, double rate,
                                 std::int32_t subproblemsDone, std::int32_t subproblems) {
  std::string text = "progress: " + fixed(seconds, 1) + " s nodes " + std::to_string(nodes) +
                     " failures " + std::to_string(failures) + " solutions " +
                     std::to_string(solutions);
  if (restarts > 0) text += " restarts " + std::to_string(restarts);
  text += " nodes/s " + fixed(rate, 0);
  if (subproblems > 0) {
    text += " subproblems " + std::to_string(subproblemsDone) + "/" + std::to_string(subproblems);
    // What is left at the pace so far; unknown until one subproblem is done.
    if (subproblemsDone > 0 && subproblemsDone < subproblems) {
      const double left = seconds * (subproblems - subproblemsDone) / subproblemsDone;
      text += " left ~" + fixed(left, 0) + " s";
    }
  }
  return text;
}

void ProgressLine::report() {
  const std::int64_t now = platform::counterNow();
  const double frequency = static_cast<double>(platform::counterFrequency());
  const std::uint64_t nodes = counters_->nodes.load(std::memory_order_relaxed);
  const double interval = static_cast<double>(now - lastTicks_) / frequency;
  const double rate = interval > 0 ? static_cast<double>(nodes - lastNodes_) / interval : 0.0;
  lastNodes_ = nodes;
  lastTicks_ = now;
  const std::int32_t total =
      subproblems_ != nullptr ? subproblems_->load(std::memory_order_relaxed) : 0;
  const std::string text = format(
      static_cast<double>(now - startTicks_) / frequency, nodes,
      counters_->failures.load(std::memory_order_relaxed),
      counters_->solutions.load(std::memory_order_relaxed),
      counters_->restarts.load(std::memory_order_relaxed), rate,
      static_cast<std::int32_t>(counters_->subproblems.load(std::memory_order_relaxed)), total);
  if (terminal_) {
    const int pad = lastWidth_ > text.size() ? static_cast<int>(lastWidth_ - text.size()) : 0;
    std::fprintf(stderr, "\r%s%*s", text.c_str(), pad, "");
    lastWidth_ = text.size();
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  std::fflush(stderr);
}

}  // namespace varnel::solve
