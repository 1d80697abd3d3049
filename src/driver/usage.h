// --help, -h and --version: answered before the command line is read as numbers, and only when
// the whole first argument is one of these words; anything else converts as before (--helpx is 0).
#pragma once

#include <iosfwd>

namespace varnel::driver {

enum class InformationRequest { kNone, kHelp, kVersion };

// Which request the first argument makes, if any.
InformationRequest informationRequestOf(int argc, const char* const* argv);

// The usage text: the six arguments with defaults and meaning, the exit codes, the docs.
void printUsage(std::ostream& out);

// "varnel-bench <version>", the version of this build.
void printVersion(std::ostream& out);

// Prints the usage or the version on standard output when asked and returns true (the program
// then ends with code 0 without running anything); returns false otherwise.
bool answerInformationRequest(int argc, const char* const* argv);

}  // namespace varnel::driver
