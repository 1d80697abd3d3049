// The command line: strtol conversion clamped to 32 bits, defaults, ignored extra arguments,
// and the checks that keep each problem within what it can run.
#include "driver/cli.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace varnel::driver {
namespace {

TEST(CommandLine, ArgumentsConvertAsStrtolDoesAndClampTo32Bits) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {{"2", 2},
               {"2abc", 2},
               {"12x", 12},
               {"x", 0},
               {"abc", 0},
               {"", 0},
               {"  -5", -5},
               {"+7", 7},
               {"-", 0},
               {"+", 0},
               {" \t 42", 42},
               {"0x10", 0},
               {"99999999999", INT32_MAX},
               {"-99999999999", INT32_MIN},
               {"2147483647", INT32_MAX},
               {"2147483648", INT32_MAX},
               {"-2147483648", INT32_MIN},
               {"-2147483649", INT32_MIN},
               {"999999999999999999999999", INT32_MAX},
               {"\xc3\xa9"
                "5",
                0}};
  for (const auto& c : cases) {
    EXPECT_EQ(parseArgument(c.text), c.value) << "text \"" << c.text << "\"";
  }
}

RunParameters parse(std::vector<const char*> args) {
  args.insert(args.begin(), "varnel-bench");
  return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, MissingArgumentsTakeDefaultsAndExtraOnesAreIgnored) {
  const RunParameters defaults = parse({});
  EXPECT_EQ(defaults.pb, 0);
  EXPECT_EQ(defaults.numThreads, 1);
  EXPECT_EQ(defaults.mem, 0);
  EXPECT_EQ(defaults.arity, 10);
  EXPECT_EQ(defaults.numTuples, 500);
  EXPECT_EQ(defaults.upper, 10);

  const RunParameters two = parse({"1", "3"});
  EXPECT_EQ(two.pb, 1);
  EXPECT_EQ(two.numThreads, 3);
  EXPECT_EQ(two.mem, 0) << "third argument absent: default";

  const RunParameters seven = parse({"1", "2", "-5", "6", "2000", "5", "77"});
  EXPECT_EQ(seven.mem, -5);
  EXPECT_EQ(seven.arity, 6);
  EXPECT_EQ(seven.numTuples, 2000);
  EXPECT_EQ(seven.upper, 5) << "the seventh argument must not shift or overwrite anything";
}

TEST(CommandLine, OutOfRangeParametersAreNamedWithTheirRange) {
  RunParameters p;
  EXPECT_EQ(invalidParameterMessage(p), "") << "defaults are valid";
  p.numThreads = 0;
  EXPECT_EQ(invalidParameterMessage(p),
            "Error: invalid argument numThreads=0: accepted range is 1 to 2147483647");
  p.pb = 2;
  EXPECT_EQ(invalidParameterMessage(p), "") << "problem 2 runs with n = 0";
  p.numThreads = -1;
  EXPECT_NE(invalidParameterMessage(p).find("numThreads=-1"), std::string::npos)
      << "problem 2 refuses a negative element count";

  RunParameters table;
  table.pb = 1;
  table.arity = 0;
  EXPECT_NE(invalidParameterMessage(table).find("arity=0"), std::string::npos);
  table.arity = 3;
  table.numTuples = 0;
  EXPECT_NE(invalidParameterMessage(table).find("numTuples=0"), std::string::npos);
  table.numTuples = 1;
  table.upper = -4;
  EXPECT_NE(invalidParameterMessage(table).find("upper=-4"), std::string::npos);
  table.pb = 0;
  EXPECT_EQ(invalidParameterMessage(table), "") << "table sizes do not concern problem 0";

  RunParameters unknown;
  unknown.pb = 7;
  unknown.numThreads = -3;
  EXPECT_EQ(invalidParameterMessage(unknown), "") << "an unknown problem is reported elsewhere";
}

}  // namespace
}  // namespace varnel::driver
