// Report lines shared by the problems: separators, the thread-count line and the closing
// scalability block. Every line ends with a newline and a flush.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace varnel::runner {

// "----------------------------------------------" (46 hyphens).
void printSeparator(std::ostream& out);
void printSeparator();

// "#threads " and the count.
void printThreadCount(std::int32_t numThreads, std::ostream& out);
void printThreadCount(std::int32_t numThreads);

// The figures of the closing block: the workers' truncated mean time, ratio = mean / main time
// and power = threadCount x main time / mean. Precondition: threadCount >= 1.
struct ScalabilityFigures {
  std::int64_t mean;
  double ratio;
  double power;
};
ScalabilityFigures scalabilityFigures(std::int64_t mainTime, const std::int64_t* threadTimes,
                                      std::int32_t threadCount);

// splitMem, main time, elapsed time, one line per worker, their truncated mean, ratio and power.
// Precondition: threadCount >= 1.
void printScalabilityReport(bool splitMem, std::int64_t mainTime, std::int64_t elapsedTime,
                            const std::int64_t* threadTimes, std::int32_t threadCount,
                            std::ostream& out);
void printScalabilityReport(bool splitMem, std::int64_t mainTime, std::int64_t elapsedTime,
                            const std::int64_t* threadTimes, std::int32_t threadCount);

}  // namespace varnel::runner
