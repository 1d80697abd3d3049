// Report lines, written by stream insertion in the stream's default formats.
#include "runner/report.h"

#include <cmath>
#include <iostream>

namespace varnel::runner {

void printSeparator(std::ostream& out) {
  out << "----------------------------------------------" << std::endl;
}
void printSeparator() { printSeparator(std::cout); }

void printThreadCount(std::int32_t numThreads, std::ostream& out) {
  out << "#threads " << numThreads << std::endl;
}
void printThreadCount(std::int32_t numThreads) { printThreadCount(numThreads, std::cout); }

void printScalabilityReport(bool splitMem, std::int64_t mainTime, std::int64_t elapsedTime,
                            const std::int64_t* threadTimes, std::int32_t threadCount,
                            std::ostream& out) {
  out << "splitMem: " << (splitMem ? 1 : 0) << std::endl;
  out << "main time: " << mainTime << std::endl;
  out << "elapsed time: " << elapsedTime << std::endl;
  for (std::int32_t i = 0; i < threadCount; ++i) {
    out << "thread " << i << " time: " << threadTimes[i] << std::endl;
  }
  const ScalabilityFigures figures = scalabilityFigures(mainTime, threadTimes, threadCount);
  out << "thread moyenne: " << figures.mean << std::endl;
  // A time of 0 ms is below the clock's resolution: a quotient of it means nothing (inf, nan,
  // or 0).
  const bool measured = mainTime > 0 && figures.mean > 0;
  const auto figure = [&](double value) -> std::ostream& {
    if (measured && std::isfinite(value)) return out << value;
    return out << "too short to measure";
  };
  out << "ratio ";
  figure(figures.ratio) << std::endl;
  out << "power: ";
  figure(figures.power) << std::endl;
}

ScalabilityFigures scalabilityFigures(std::int64_t mainTime, const std::int64_t* threadTimes,
                                      std::int32_t threadCount) {
  std::int64_t sum = 0;
  for (std::int32_t i = 0; i < threadCount; ++i) sum += threadTimes[i];
  const std::int64_t mean = sum / threadCount;
  return {mean, static_cast<double>(mean) / static_cast<double>(mainTime),
          static_cast<double>(std::int64_t{threadCount} * mainTime) / static_cast<double>(mean)};
}

void printScalabilityReport(bool splitMem, std::int64_t mainTime, std::int64_t elapsedTime,
                            const std::int64_t* threadTimes, std::int32_t threadCount) {
  printScalabilityReport(splitMem, mainTime, elapsedTime, threadTimes, threadCount, std::cout);
}

}  // namespace varnel::runner
