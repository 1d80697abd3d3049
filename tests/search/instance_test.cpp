// The instance format and varnel-solve end to end: a written instance reads back as the same
// instance and solves to the same counts; every kind of malformed file is reported with its line
// and exit code 2, never a crash; the worker run prints the driver's report lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "driver/run_bench.h"
#include "search/search_oracle.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/platform.h"
#include "varnel/search/model/instance_io.h"
#include "varnel/search/model/rb_instance.h"
#include "varnel/search/search_bytes.h"
#include "varnel/version.h"

namespace varnel::testing {
namespace {

std::string written(const CspInstance& instance) {
  std::ostringstream out;
  writeInstance(out, instance, "");
  return out.str();
}

TEST(InstanceFormat, WrittenInstanceReadsBackTheSame) {
  RbParameters p;
  p.vars = 7;
  p.domain = 4;
  p.arity = 3;
  p.constraints = 5;
  p.seed = 99;
  CspInstance* generated = generateRbInstance(p);
  EXPECT_EQ(generated->tupleCount(0), rbTupleCount(p));
  std::istringstream text(written(*generated));
  InstanceReadResult read = readInstance(text);
  ASSERT_NE(read.instance, nullptr) << "line " << read.line << ": " << read.error;
  EXPECT_EQ(written(*read.instance), written(*generated));
  CspInstance* again = generateRbInstance(p);
  EXPECT_EQ(written(*again), written(*generated)) << "the same parameters gave another instance";
  // Conflicts, stars and both forms of allDifferent come back as they were.
  CspInstance* mixed = mixedInstance(*generated, 5);
  std::istringstream mixedText(written(*mixed));
  InstanceReadResult mixedRead = readInstance(mixedText);
  ASSERT_NE(mixedRead.instance, nullptr) << "line " << mixedRead.line << ": " << mixedRead.error;
  EXPECT_EQ(written(*mixedRead.instance), written(*mixed));
  const std::int32_t last = mixed->constraintCount() - 2;
  EXPECT_EQ(mixedRead.instance->kind(0), ConstraintKind::kConflicts);
  EXPECT_TRUE(mixedRead.instance->hasStars(0)) << "the starred conflict was lost";
  EXPECT_EQ(mixedRead.instance->listCount(last), 2) << "the lists form was lost";
  EXPECT_EQ(mixedRead.instance->listLength(last), 2);
  EXPECT_NE(written(*mixed).find("alldifferent-lists 2 2"), std::string::npos) << written(*mixed);
  deletePooled(mixedRead.instance);
  deletePooled(mixed);
  deletePooled(again);
  deletePooled(read.instance);
  deletePooled(generated);
  // Planted: every table keeps the hidden assignment's tuple, up to a tightness of 1.
  p.planted = true;
  for (const double tightness : {0.5, 0.9, 1.0}) {
    p.tightness = tightness;
    std::vector<std::int32_t> hidden(static_cast<std::size_t>(p.vars), -1);
    CspInstance* planted = generateRbInstance(p, hidden.data());
    const std::vector<std::int64_t> values(hidden.begin(), hidden.end());
    EXPECT_EQ(planted->firstViolatedConstraint(values.data()), -1) << "tightness " << tightness;
    EXPECT_EQ(planted->tupleCount(0), rbTupleCount(p)) << "tightness " << tightness;
    deletePooled(planted);
  }
}

TEST(InstanceFormat, MalformedTextNamesItsLine) {
  const struct {
    const char* text;
    std::int64_t line;
    const char* says;
  } cases[] = {
      {"", 1, "ends where 'variables"},  // an empty file is reported at its first line
      {"variables two\n", 1, "'two' is not an integer"},
      {"variables 2\ndomain 0 1 2\n", 2, "ends where 'domain"},
      {"variables 2\ndomain 0 1 2\ndomain 0 3\n", 3, "variable 1 was expected"},
      {"variables 1\n# note\ndomain 0 4 4\n", 3, "value 4 appears twice"},
      {"variables 1\ndomain 0 1\nconstraint 1\n", 3, "expected 'constraints'"},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\ntable 2 1 0 0\n", 5, "twice in the"},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\ntable 2 1 0\n", 5,
       "names 1 variable for 2"},
      {"variables 1\ndomain 0 1\nconstraints 1\ntable 1 2 0\n1\n1 1\n", 6, "a tuple of 2 values"},
      {"variables 1\ndomain 0 1\nconstraints 1\ntable 1 1 0\n99999999999\n", 5, "not an integer"},
      {"variables 1\ndomain 0 1\nconstraints 0\nmore\n", 4, "unexpected text"},
      {"variables 1 2\n", 1, "wrong number of fields on a 'variables'"},
      {"variables 1\ndomain 0 3 1 3\n", 2, "value 3 appears twice"},  // not in order
      {"variables 3\ndomain 0 1\ndomain 1 1\ndomain 2 1\nconstraints 1\ntable 3 0 2 0 2\n", 6,
       "variable 2 appears twice"},
      {"variables 1\ndomain 0 1\nconstraints 1\ntable 1 1 0\n1 1 1\n", 5, "a tuple of 3 values"},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\ntable 2 1 0 1\n1    \n", 6,
       "a tuple of 1 value in a table of arity 2"},
      {"variables 1\ndomain 0 1\nconstraints 1\nsupports 1 1 0\n1\n", 4, "expected 'table', "},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\nconflicts 2 1 0 1\n1 **\n", 6,
       "'**' is not an integer"},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\nalldifferent 2 0\n", 5,
       "names 1 variable for 2"},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\nalldifferent-lists 1 2 0 1\n", 5,
       "the list count '1' is not an integer from 2"},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\nalldifferent-lists 2 1 0 1 1\n", 5,
       "names 3 variables for 2"},
  };
  for (const auto& c : cases) {
    std::istringstream text(c.text);
    const InstanceReadResult read = readInstance(text);
    EXPECT_EQ(read.instance, nullptr) << c.text;
    EXPECT_EQ(read.line, c.line) << c.text << "\n" << read.error;
    EXPECT_NE(read.error.find(c.says), std::string::npos) << c.text << "\n" << read.error;
  }
  std::istringstream outside(
      "variables 2\ndomain 0 1 2\ndomain 1 5\nconstraints 1\n"
      "table 2 3 0 1\n1 5\n3 5\n2 7\n");
  InstanceReadResult read = readInstance(outside);
  ASSERT_NE(read.instance, nullptr) << read.error;
  EXPECT_EQ(read.droppedTuples, 2) << "tuples with a value outside the domain must be dropped";
  EXPECT_EQ(read.instance->tupleCount(0), 1);
  deletePooled(read.instance);
}

std::string lineStarting(const BenchRun& run, const std::string& label) {
  for (const std::string& line : run.lines()) {
    if (line.rfind(label, 0) == 0) return line.substr(label.size());
  }
  return "(no line " + label + ")";
}

TEST(VarnelSolve, SolvesAWrittenFileAlikeAndRejectsMalformedOnes) {
  const std::string path = ::testing::TempDir() + "varnel_solve_instance.txt";
  const std::string rb = "--vars 12 --domain 5 --constraints 30 --tightness 0.3 --all";
  const BenchRun generated = runBench(rb + " --write-instance " + path);
  ASSERT_EQ(generated.exitCode, 0) << generated.err;
  const BenchRun fromFile = runBench("--all --instance " + path);
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
  // The default propagator (Compact-Table) and GAC-4R walk the same tree.
  const BenchRun gac4r = runBench("--all --propagator=gac4r --instance " + path);
  ASSERT_EQ(gac4r.exitCode, 0) << gac4r.err;
  for (const char* label : {"solutions: ", "failures: ", "nodes: ", "memory: "}) {
    EXPECT_EQ(lineStarting(fromFile, label), lineStarting(generated, label)) << label;
    if (std::string_view(label) != "memory: ") {
      EXPECT_EQ(lineStarting(gac4r, label), lineStarting(generated, label)) << label;
    }
  }
  EXPECT_EQ(lineStarting(gac4r, "propagator: "), "gac4r") << gac4r.out;
  EXPECT_EQ(runBench("--propagator str2").exitCode, 2);
  const BenchRun workers = runBench(rb + " --threads 2 --split-mem");
  ASSERT_EQ(workers.exitCode, 0) << workers.err;
  EXPECT_EQ(lineStarting(workers, "workers agree: "), "yes");
  EXPECT_GT(std::atoll(lineStarting(workers, "worker memory: ").c_str()), 0) << workers.out;
  EXPECT_EQ(lineStarting(workers, "splitMem: "), "1");
  EXPECT_EQ(lineStarting(workers, "thread 1 time: ").find("(no line"), std::string::npos);
  EXPECT_GT(std::atof(lineStarting(workers, "power: ").c_str()), 0.0) << workers.out;

  std::ofstream(path) << "variables 1\ndomain 0 1\nconstraints 1\ntable 1 1 0\nx\n";
  const BenchRun malformed = runBench("--instance " + path);
  EXPECT_EQ(malformed.exitCode, 2);
  EXPECT_NE(malformed.err.find(path + ":5: the value 'x'"), std::string::npos) << malformed.err;
  const BenchRun badOption = runBench("--vars 0");
  EXPECT_EQ(badOption.exitCode, 2);
  EXPECT_NE(badOption.err.find("--vars expects an integer from 1"), std::string::npos);
  const BenchRun version = runBench("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("varnel-solve " VARNEL_VERSION, 0), 0u) << version.out;
  std::remove(path.c_str());
}

// Standard error with nothing but printable text and newlines: no raw byte reaches a terminal.
bool printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7f); });
}

TEST(VarnelSolve, RefusesWhatItCannotRunWithItsCodeAndReason) {
  const std::string missing = ::testing::TempDir() + "varnel_no_such_file";
  const std::string conflicts = ::testing::TempDir() + "varnel_conflicts.txt";
  std::ofstream(conflicts) << "variables 1\ndomain 0 1 2\nconstraints 1\nconflicts 1 1 0\n1\n";
  const struct {
    std::string args;
    int exitCode;
    std::string says;
  } cases[] = {
      {"--instance \"\"", 2, "--instance needs a file name"},
      {"--instance=", 2, "--instance needs a file name"},
      {"--write-instance \"\"", 2, "--write-instance needs a file name"},
      {"--table 3,10,4 --seed 2", 2, "--seed shapes the generated instance; --table"},
      {"--instance x --tightness 0.5", 2, "--tightness shapes the generated instance; --instance"},
      {"--arity 20 --vars 10", 2, "--arity 20 is above --vars 10"},
      {"--domain 4097", 2, "--domain^--arity = 16785409 is above 16777216"},
      {"--domain 16777216 --arity 24", 2, "--domain^--arity = 16777216^24 is above"},
      {"--instance " + missing, 2, "cannot open '" + missing + "': "},
      {"--instance " + ::testing::TempDir(), 2,
       "': " + std::make_error_code(std::errc::is_a_directory).message()},
      {"--unknown=\"\x1b[31m\"", 2, "unknown option '--unknown'"},
      {"--output xcsp3 --json", 2, "--json and --output xcsp3 name two different reports"},
      {"--output xcsp3 --threads 2", 2, "--threads (N copies and their timings) does not apply"},
      {"--output yaml", 2, "--output expects text, json or xcsp3"},
      {"--max-intension-tuples 5", 2, "applies to an XCSP3 file read with --instance"},
      {"--instance " + conflicts + " --propagator gac4r", 2, "gac4r reads positive tables"},
      {"--alldiff dom", 2, "option --alldiff expects fc or gac, not 'dom'"},
      // Sized before anything is built: refused at once, well inside a capped address space.
      {"--constraints 10000000 --node-limit 1 --propagator gac4r", 1, "bytes needed by this run"},
      {"--table 64,100000000,32768", 1, "bytes needed by this run"},
      {"--domain 4096", 1, "bytes needed by this run"},
      {"--arity 24 --domain 2", 1, "bytes needed by this run"},
      {"--arity 1 --domain 16777216 --tightness 0.999", 1, "bytes needed by this run"},
      {"--vars 10000000 --arity 1 --domain 16777216 --constraints 0", 1,
       "bytes needed by this run"},
      {"--vars 10 --domain 4000 --tightness 0 --constraints 30 --threads 1 --split-mem "
       "--propagator gac4r",
       1, "bytes needed by each worker, above its budget of"},
      // Below physical memory but above the process's address-space cap: refused at once too,
      // naming the cap, instead of growing until the heap refuses a block.
      {"--constraints 10000000 --node-limit 1", 1,
       "above the 1,073,741,824-byte address-space limit (ulimit -v)"},
      {"--constraints 3000000 --node-limit 1 --parallel 2", 1,
       "above the 1,073,741,824-byte address-space limit (ulimit -v)"},
  };
  for (const auto& c : cases) {
    // The oversized requests need 32 to 400 GB; a machine with more would run them.
    if (c.exitCode == 1 && platform::totalPhysicalMemory() > (std::uint64_t(32) << 30)) continue;
    // The cap's own refusals need the cap, which sanitized builds leave off; the budget's refusal
    // runs without it, since the cap would refuse the whole run first.
    const bool capRefusal = c.says.find("ulimit -v") != std::string::npos;
#if !defined(WIFEXITED)
    if (capRefusal) continue;  // no ulimit to cap the child's address space with
#endif
    if (capRefusal && kSafetyAddressSpaceCap != std::uint64_t(1) << 30) continue;
    const bool budgetRefusal = c.says.find("each worker") != std::string::npos;
    const BenchRun run = runBench(c.args, budgetRefusal ? 0 : kSafetyAddressSpaceCap);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args << ": " << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.args << ": " << run.err;
    EXPECT_TRUE(printable(run.err)) << c.args << ": raw bytes on standard error";
  }
  // The instance line reruns the same instance: the shortest text of --tightness that reads back.
  EXPECT_EQ(lineStarting(runBench("--tightness 0.123456789 --node-limit 1"), "instance: "),
            "model RB vars=30 domain=10 arity=2 constraints=120 tightness=0.123456789 seed=1");
  EXPECT_EQ(lineStarting(runBench("--tightness 0.5 --node-limit 1"), "instance: "),
            "model RB vars=30 domain=10 arity=2 constraints=120 tightness=0.5 seed=1");
#if defined(WIFEXITED)
  // A report that cannot be written is not a success.
  const std::string err = ::testing::TempDir() + "varnel_solve_full.err";
  const int status =
      std::system(("\"" VARNEL_BENCH_PATH "\" --node-limit 5 >/dev/full 2>" + err).c_str());
  EXPECT_EQ(detail::exitCodeOf(status), 5);
  EXPECT_NE(detail::readWholeFile(err).find("standard output could not be written"),
            std::string::npos);
#endif
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int k = 0; k < times; ++k) out += text;
  return out;
}

TEST(VarnelSolve, HostileFilesEndWithTheirLineInPrintableText) {
  const std::string corpus = VARNEL_CORPUS_DIR "/instance_reader/";
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << corpus << " is not reachable here";
  const std::string big = ::testing::TempDir() + "varnel_hostile_";
  std::ofstream(big + "ten_mb_line") << "variables 1\ndomain 0 " << repeated("7 ", 5000000);
  std::ofstream(big + "ten_mb_field") << "variables " << std::string(10000000, '1');
  std::ofstream(big + "million_blanks") << "variables 1\n" << std::string(1000000, ' ') << "x\n";
  const struct {
    std::string file;
    std::int64_t line;
    std::string says;
  } cases[] = {
      {corpus + "hostile_huge_variable_count", 1, "the file ends where 'domain"},
      {corpus + "hostile_huge_constraint_count", 5, "the file ends where 'table"},
      {corpus + "hostile_huge_tuple_count", 4, "2147483647 tuple lines cannot fit"},
      {corpus + "hostile_huge_arity", 5, "the arity '10000000' is not an integer from 1 to 2"},
      {corpus + "hostile_huge_value", 2, "the value '99999999999999999999999' is not an integer"},
      {corpus + "hostile_truncated_domains", 2, "the file ends where 'domain"},
      {corpus + "hostile_truncated_tuples", 6, "the file ends where a tuple"},
      {corpus + "hostile_truncated_keyword", 1, "expected 'variables', found 'variab'"},
      {corpus + "hostile_nul_bytes", 2, "the control byte \\x00 is not text"},
      {corpus + "hostile_high_bytes", 2, "the value '\\xFF\\xFE\\xC3\\xA9' is not an integer"},
      {corpus + "hostile_escape_sequence", 1, "the control byte \\x1B"},
      {corpus + "hostile_utf16_text", 1, "the control byte \\x00"},
      {corpus + "hostile_bom_then_typo", 1,
       "expected 'variables', found 'variablez'"},  // the mark itself is skipped
      {corpus + "hostile_bom_on_second_line", 2,
       "expected 'domain', found '\\xEF\\xBB\\xBFdomain'"},
      {corpus + "hostile_bare_cr_line_ends", 1, "a carriage return without a line feed"},
      {corpus + "hostile_bare_cr_in_comment", 1, "a carriage return without a line feed"},
      {corpus + "hostile_long_field", 1,
       "a field longer than 64 characters: '" + std::string(40, '9') + "...'"},
      {big + "ten_mb_line", 2, "value 7 appears twice"},
      {big + "ten_mb_field", 1, "a field longer than 64 characters"},
      {big + "million_blanks", 2, "expected 'domain', found 'x'"},
  };
  for (const auto& c : cases) {
    const BenchRun run = runBench("--instance " + c.file, kSafetyAddressSpaceCap);
    EXPECT_EQ(run.exitCode, 2) << c.file << ": " << run.err;
    EXPECT_NE(run.err.find(c.file + ":" + std::to_string(c.line) + ": " + c.says),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(printable(run.err) && printable(run.out)) << c.file << ": raw bytes printed";
  }
  const BenchRun valid = runBench("--all --instance " + corpus + "valid_bom_crlf");
  EXPECT_EQ(lineStarting(valid, "solutions: "), "2")
      << "a leading BOM and CRLF ends are read" << valid.err;
  for (const char* name : {"ten_mb_line", "ten_mb_field", "million_blanks"})
    std::remove((big + name).c_str());
}

// The estimates against the memory: line of real runs: never above it, and not far below.
// An n x n Latin square, allDifferent on every row and column, with a table on each row's
// first two cells.
std::string latinSquareFile(int n) {
  const std::string path = ::testing::TempDir() + "varnel_latin_square.txt";
  std::ofstream out(path);
  out << "variables " << n * n << "\n";
  for (int x = 0; x < n * n; ++x) {
    out << "domain " << x;
    for (int v = 0; v < n; ++v) out << ' ' << v;
    out << "\n";
  }
  out << "constraints " << 3 * n << "\n";
  for (int i = 0; i < n; ++i) {
    out << "alldifferent " << n;
    for (int j = 0; j < n; ++j) out << ' ' << i * n + j;
    out << "\nalldifferent " << n;
    for (int j = 0; j < n; ++j) out << ' ' << j * n + i;
    out << "\ntable 2 2 " << i * n << ' ' << i * n + 1 << "\n"
        << i << ' ' << (i + 1) % n << "\n"
        << (i + 1) % n << ' ' << (i + 2) % n << "\n";
  }
  return path;
}

InstanceShape fileShape(const std::string& path) {
  std::ifstream in(path);
  InstanceReadResult read = readInstance(in);
  InstanceShape shape = shapeOf(*read.instance);
  deletePooled(read.instance);
  return shape;
}

TEST(SearchBytes, NeedsAreLowerBoundsNearWhatRunsTake) {
  const std::string latin = latinSquareFile(40);
  const struct {
    std::string args;
    InstanceShape shape;
  } runs[] = {
      {"--vars 40 --domain 20 --constraints 200 --tightness 0.6",
       rbShape({40, 20, 2, 200, 0.6, 1})},
      {"--vars 20 --domain 8 --arity 3 --constraints 60 --tightness 0.3",
       rbShape({20, 8, 3, 60, 0.3, 1})},
      {"--vars 30 --domain 1000 --arity 1 --constraints 3000",
       rbShape({30, 1000, 1, 3000, 0.5, 1})},
      {"--table 10,100000,10", tableShape(10, 100000)},
      {"--instance " + latin, fileShape(latin)},
  };
  for (const auto& r : runs) {
    for (const bool compactTable : {true, false}) {
      const std::string args = r.args + (compactTable ? "" : " --propagator gac4r");
      const BenchRun run = runBench(args + " --node-limit 100");
      ASSERT_EQ(run.exitCode, 0) << args << ": " << run.err;
      const auto taken = std::stoull(lineStarting(run, "memory: "));
      InstanceShape shape = r.shape;
      shape.compactTable = compactTable;
      const auto need = [&](Measure m) {
        return instanceBytes(shape, m) + supportMaskBytes(shape, m) + spaceBytes(shape, m);
      };
      const ByteCount carved = need(Measure::carved);
      EXPECT_FALSE(carved.exceeds(taken) || need(Measure::resident).exceeds(carved))
          << args << ": " << carved.toString() << " bytes, more than " << taken;
      EXPECT_TRUE((carved * 4).exceeds(taken))
          << args << ": " << taken << " bytes taken, over 4 x " << carved.toString();
    }
  }
  // The refusals themselves, on a fixed machine: physical memory, then a worker's budget.
  const InstanceShape shape = rbShape({30, 100, 2, 1000, 0.5, 1});
  const ByteCount space = spaceBytes(shape, Measure::resident);
  const ByteCount all = instanceBytes(shape, Measure::resident) + space * 8;
  EXPECT_EQ(searchMemoryRefusal(shape, 0, 8, 0, 2000000000), "");
  EXPECT_EQ(searchMemoryRefusal(shape, 0, 8, 0, 100000000),
            "Error: no more memory: " + all.toString() +
                " bytes needed by this run, above the 100000000 bytes of physical memory");
  EXPECT_NE(searchMemoryRefusal(shape, 0, 8, 1000000, 0)
                .find(" bytes needed by each worker, above its budget of 1000000 bytes"),
            std::string::npos);
  EXPECT_EQ(searchMemoryRefusal(shape, 0, 8, 1000000000, 0), "");
}

TEST(VarnelSolve, ParallelLimitsAndSolutionOptionsEndAsTheySay) {
  const std::string small = "--vars 12 --domain 5 --constraints 30 --tightness 0.3 ";
  // About 10^47 solutions: no machine counts them before a limit stops it.
  const std::string endless = "--vars 50 --domain 10 --constraints 60 --tightness 0.1 --all ";
  const struct {
    std::string arguments;
    int exitCode;
    const char* out;  // a line standard output must hold
    const char* err;  // what standard error must say
  } cases[] = {
      {small + "--all --parallel 3", 0, "solutions: 12374", ""},
      {small + "--all --parallel 2 --node-limit 500", 0, "stopped: node limit", ""},
      {small + "--parallel 4", 0, "stopped: first solution", ""},
      {small + "--all --print-solutions 1", 0, "solution: 0 0 4 2 1 2 0 2 0 0 1 0", ""},
      {endless + "--time-limit 0.2", 0, "stopped: time limit", ""},
      {endless + "--time-limit 0.2 --threads 2", 0, "workers agree: not compared (stopped)", ""},
      {small + "--print-solutions 2", 2, "", "--print-solutions applies to --all"},
      {small + "--time-limit 0", 2, "", "--time-limit expects seconds above 0"},
      {small + "--time-limit 1e10", 2, "", "--time-limit expects seconds above 0"},
      {small + "--parallel 2 --threads 2", 2, "", "exclude each other"},
      {small + "--subproblems 5", 2, "", "--subproblems applies to --parallel"},
      {small + "--subproblem-stats x.csv", 2, "", "--subproblem-stats applies to --parallel"},
      {small + "--parallel 0", 2, "", "--parallel expects an integer from 1"},
      {small + "--write-subproblems d --time-limit 5", 2, "", "--write-subproblems searches"},
      {small + "--write-subproblems=", 2, "", "--write-subproblems needs a file name"},
      {small + "--all --var dom/wdeg", 0,
       "branching: var dom/wdeg val min last-conflict 0 restarts none", ""},
      {small + "--var lex --val max --restarts geometric --restart-base 3", 0,
       "stopped: first solution", ""},
      {small + "--parallel 2 --var dom/ddeg --search-seed 5 --last-conflict 2", 0,
       "stopped: first solution", ""},
      {small + "--all --restarts luby", 2, "", "--restarts and --restart-base apply to first"},
      {small + "--var wdeg", 2, "", "--var expects dom, dom/wdeg, dom/ddeg or lex"},
      {"--instance x.txt --planted", 2, "", "--planted shapes the generated instance"},
      {small + "--write-subproblems d --var lex", 2, "", "--write-subproblems splits on"},
  };
  for (const auto& c : cases) {
    const BenchRun run = runBench(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << c.arguments << "\n" << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << c.arguments << "\n" << run.err;
  }
}

}  // namespace
}  // namespace varnel::testing
