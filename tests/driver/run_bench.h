// Test helper for end-to-end driver tests: runs the built varnel-bench with a command line and
// hands back its exit code, standard output, standard error and output lines.
//
//   const varnel::testing::BenchRun run = varnel::testing::runBench("1 2 0 6 2000 5");
//   ASSERT_EQ(run.exitCode, 0) << run.err;
//   for (const std::string& line : run.lines()) ...
//
// The binary is VARNEL_BENCH_PATH (defined for every test of tests/driver/). Both streams go to
// scratch files under the test temporary directory, named after the running test and a random
// tag, so tests that run at the same time never share a file. Uses only the standard library:
// std::system through the command shell (sh or cmd), so the arguments must need no quoting.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace varnel::testing {

struct BenchRun {
  int exitCode = -1;  // the process's exit code; -1 when it did not end normally
  std::string out;    // everything written to standard output, "\r\n" read as "\n"
  std::string err;    // everything written to standard error, "\r\n" read as "\n"

  // Standard output split at newlines; a final line without newline is kept.
  std::vector<std::string> lines() const;
};

// Runs VARNEL_BENCH_PATH with `arguments` (blank-separated, e.g. "0 2 1") and waits for it.
// A non-zero `addressSpaceCap` (bytes) caps the child's address space with the shell's ulimit -v
// (RLIMIT_AS), so that a run gone wrong fails fast: POSIX shells only, and never under a sanitizer.
BenchRun runBench(const std::string& arguments, std::uint64_t addressSpaceCap = 0);

// Sanitizers reserve terabytes of shadow address space, which a capped address space refuses.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARNEL_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VARNEL_TEST_SANITIZED 1
#endif
#endif

// A cap for runs that must be refused or answered small: a safety net against a run that would
// fill the machine, left off in sanitized builds, whose shadow memory a cap cannot hold.
#ifdef VARNEL_TEST_SANITIZED
inline constexpr std::uint64_t kSafetyAddressSpaceCap = 0;
#else
inline constexpr std::uint64_t kSafetyAddressSpaceCap = std::uint64_t(1) << 30;
#endif

// --- Inline definitions ------------------------------------------------------------------

namespace detail {

inline std::string readWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Text with every "\r\n" folded to "\n": a Windows build writes its standard streams in text
// mode, so each line ends with "\r\n" there; the tests compare the lines themselves.
inline std::string withPlainNewlines(const std::string& text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  return plain;
}

// A scratch-file stem unique to this test and this call.
inline std::string scratchStem() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info != nullptr ? std::string(info->test_suite_name()) + "_" + info->name()
                                     : std::string("no_test");
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  std::random_device device;
  return ::testing::TempDir() + "varnel_bench_" + name + "_" + std::to_string(device());
}

// The exit code inside a std::system status: POSIX wraps it in a wait status, Windows does not.
inline int exitCodeOf(int status) {
#if defined(WIFEXITED) && defined(WEXITSTATUS)
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
  return status;
#endif
}

// The line handed to std::system. cmd /c drops the first and the last quote of a line with more
// than two, so there the whole line gets one more pair; sh takes it as it is.
inline std::string shellCommand(const std::string& command) {
#if defined(WIFEXITED)
  return command;
#else
  return "\"" + command + "\"";
#endif
}

}  // namespace detail

inline std::vector<std::string> BenchRun::lines() const {
  std::vector<std::string> result;
  std::size_t begin = 0;
  while (begin < out.size()) {
    std::size_t end = out.find('\n', begin);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    result.push_back(line);
    begin = end + 1;
  }
  return result;
}

inline BenchRun runBench(const std::string& arguments, std::uint64_t addressSpaceCap) {
  const std::string stem = detail::scratchStem();
  const std::string outPath = stem + ".out";
  const std::string errPath = stem + ".err";
  const std::string cap = addressSpaceCap == 0
                              ? std::string()
                              : "ulimit -v " + std::to_string(addressSpaceCap / 1024) + " && ";
  const std::string command = cap + "\"" + VARNEL_BENCH_PATH + "\" " + arguments + " >\"" +
                              outPath + "\" 2>\"" + errPath + "\"";
  BenchRun run;
  run.exitCode = detail::exitCodeOf(std::system(detail::shellCommand(command).c_str()));
  run.out = detail::withPlainNewlines(detail::readWholeFile(outPath));
  run.err = detail::withPlainNewlines(detail::readWholeFile(errPath));
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return run;
}

}  // namespace varnel::testing
