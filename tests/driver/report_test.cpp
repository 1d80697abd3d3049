// Report lines: exact text, the truncating mean, ratio and power, and millisecond conversion.
#include "runner/report.h"

#include <gtest/gtest.h>

#include <sstream>

#include "varnel/platform/clock.h"

namespace varnel::driver {

using namespace runner;  // the launch, budgets and report lines both programs share
namespace {

TEST(Report, ScalabilityBlockForOneThread) {
  std::ostringstream out;
  const std::int64_t times[] = {500};
  printScalabilityReport(false, 400, 510, times, 1, out);
  EXPECT_EQ(out.str(),
            "splitMem: 0\n"
            "main time: 400\n"
            "elapsed time: 510\n"
            "thread 0 time: 500\n"
            "thread moyenne: 500\n"
            "ratio 1.25\n"
            "power: 0.8\n");
}

TEST(Report, MeanTruncatesAndPowerUsesTheThreadCount) {
  std::ostringstream out;
  const std::int64_t times[] = {10, 10, 11};
  printScalabilityReport(true, 3, 12, times, 3, out);
  EXPECT_EQ(out.str(),
            "splitMem: 1\n"
            "main time: 3\n"
            "elapsed time: 12\n"
            "thread 0 time: 10\n"
            "thread 1 time: 10\n"
            "thread 2 time: 11\n"
            "thread moyenne: 10\n"
            "ratio 3.33333\n"
            "power: 0.9\n")
      << "mean is 31 / 3 truncated; power is 3 x 3 / 10";
}

TEST(Report, TimesBelowTheClocksResolutionAreSaidSoInsteadOfAQuotient) {
  // 0/0, x/0 and 0/x: a 0 ms time would print nan, inf or 0; the lines keep their labels.
  const std::int64_t zero[] = {0, 0}, some[] = {7, 9};
  for (const auto& [mainTime, times] :
       {std::pair{std::int64_t{0}, zero}, std::pair{std::int64_t{5}, zero},
        std::pair{std::int64_t{0}, some}}) {
    std::ostringstream out;
    printScalabilityReport(false, mainTime, 9, times, 2, out);
    const std::string text = out.str();
    EXPECT_NE(text.find("\nratio too short to measure\npower: too short to measure\n"),
              std::string::npos)
        << "main " << mainTime << ": " << text;
  }
}

TEST(Report, SeparatorAndThreadCountLines) {
  std::ostringstream out;
  printSeparator(out);
  printThreadCount(12, out);
  EXPECT_EQ(out.str(), std::string(46, '-') + "\n#threads 12\n");
}

TEST(Report, MillisecondsMultiplyBeforeTheTruncatingDivision) {
  EXPECT_EQ(elapsedMilliseconds(0, 25, 10), 2500) << "2.5 units of frequency 10";
  EXPECT_EQ(elapsedMilliseconds(0, 9, 10000), 0) << "0.0009 units";
  EXPECT_EQ(elapsedMilliseconds(100, 100 + 1999999, 1000000000), 1) << "1.999999 ms truncates";
  EXPECT_EQ(elapsedMilliseconds(0, 3000000000000, 1000000000), 3000000)
      << "large counters do not overflow";
}

}  // namespace
}  // namespace varnel::driver
