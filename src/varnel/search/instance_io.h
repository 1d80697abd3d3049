// The plain-text instance format (docs/search.md): variables with their values, then each
// table with its scope and its allowed tuples. Reading reports the first problem with its line
// number instead of failing; writing gives back a file that reads as the same instance.
#pragma once

#include <iosfwd>
#include <string>

#include "varnel/search/csp_instance.h"

namespace varnel {

// Largest magnitude of a value in a file.
inline constexpr std::int64_t kLargestInstanceValue = 1000000000;

struct InstanceReadResult {
  CspInstance* instance = nullptr;  // null when the text is malformed
  std::int64_t line = 0;            // the line of the problem (1-based); 0 when none
  std::string error;                // what is wrong there, in a sentence
  std::int64_t droppedTuples = 0;   // tuples with a value outside its variable's domain
};

// Reads an instance from `in` into the calling thread's pools (release it with deletePooled).
// Tuples holding a value outside its variable's domain can never be allowed and are dropped.
InstanceReadResult readInstance(std::istream& in);

// Writes `instance` in the format readInstance reads; `comment` (one line, may be empty) goes
// in a comment line after the header.
void writeInstance(std::ostream& out, const CspInstance& instance, const std::string& comment);

}  // namespace varnel
