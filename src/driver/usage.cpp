// The usage text and the version line of varnel-bench.
#include "driver/usage.h"

#include <cstring>
#include <iostream>

#include "varnel/version.h"

namespace varnel::driver {

namespace {

constexpr const char* kUsage =
    R"(Usage: varnel-bench [pb [numThreads [mem [arity [numTuples [upper]]]]]]
       varnel-bench --help | -h | --version

Runs one benchmark of the varnel library and prints its report.

Arguments, positional and optional. Each is read as C's strtol reads a base-10
integer (abc is 0, 12x is 12) and clamped to 32 bits; a missing one takes its
default; arguments past the sixth are ignored.
  name        default
  pb          0    problem: 0 hash lookups across threads, 1 table constraint
                   across threads, 2 data-structure suite
  numThreads  1    worker threads (problems 0 and 1); element count (problem 2)
  mem         0    above 0: every worker thread gets a fixed memory budget
  arity       10   problem 1: variables of the table
  numTuples   500  problem 1: tuples of the table
  upper       10   problem 1: values per domain

--help, -h and --version count only as the whole first argument.

Exit codes:
  0  the problem ran, or pb is not 0, 1 or 2 ("type de probleme inconnu")
  1  memory ran out: a worker's budget or the heap, or the run needs more than
     the machine or a worker's budget holds ("Error: no more memory")
  2  an argument outside what the chosen problem accepts; only the run line
     is printed ("Error: invalid argument ...")
  3  the system refused to create a worker thread, or cannot run that many
  5  standard output could not be written (a full disk, a closed descriptor):
     the report is lost ("Error: standard output could not be written: why")

Examples:
  varnel-bench 0 2                  problem 0 with two worker threads
  varnel-bench 1 2 1 10 1000000 10  problem 1: two budgeted workers, 10^6 tuples
  varnel-bench 2 1000               problem 2 with 1000 elements

Documentation: README.md and docs/command-line.md, in the source tree and in
the release archives (share/doc/varnel/ on Linux, the top folder on Windows).
)";

}  // namespace

InformationRequest informationRequestOf(int argc, const char* const* argv) {
  if (argc < 2) return InformationRequest::kNone;
  const char* first = argv[1];
  if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
    return InformationRequest::kHelp;
  }
  if (std::strcmp(first, "--version") == 0) return InformationRequest::kVersion;
  return InformationRequest::kNone;
}

void printUsage(std::ostream& out) { out << kUsage << std::flush; }

void printVersion(std::ostream& out) { out << "varnel-bench " VARNEL_VERSION << std::endl; }

bool answerInformationRequest(int argc, const char* const* argv) {
  switch (informationRequestOf(argc, argv)) {
    case InformationRequest::kHelp:
      printUsage(std::cout);
      return true;
    case InformationRequest::kVersion:
      printVersion(std::cout);
      return true;
    case InformationRequest::kNone:
      break;
  }
  return false;
}

}  // namespace varnel::driver
