// Report lines, written by stream insertion in the stream's default formats.
#include "runner/report.h"

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
  std::int64_t sum = 0;
  for (std::int32_t i = 0; i < threadCount; ++i) {
    out << "thread " << i << " time: " << threadTimes[i] << std::endl;
    sum += threadTimes[i];
  }
  const std::int64_t mean = sum / threadCount;
  out << "thread moyenne: " << mean << std::endl;
  out << "ratio " << static_cast<double>(mean) / static_cast<double>(mainTime) << std::endl;
  out << "power: "
      << static_cast<double>(std::int64_t{threadCount} * mainTime) / static_cast<double>(mean)
      << std::endl;
}

void printScalabilityReport(bool splitMem, std::int64_t mainTime, std::int64_t elapsedTime,
                            const std::int64_t* threadTimes, std::int32_t threadCount) {
  printScalabilityReport(splitMem, mainTime, elapsedTime, threadTimes, threadCount, std::cout);
}

}  // namespace varnel::runner
