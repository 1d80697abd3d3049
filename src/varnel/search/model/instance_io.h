// The plain-text instance format (docs/search.md): variables with their values, then each
// table with its scope and its allowed tuples. Reading reports the first problem with its line
// number instead of failing; writing gives back a file that reads as the same instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "varnel/search/model/csp_instance.h"
#include "varnel/search/search_bytes.h"

namespace varnel {

// Largest magnitude of a value in a file.
inline constexpr std::int64_t kLargestInstanceValue = 1000000000;
// Longest line the reader goes through, in bytes (comments and blanks included): the bound on
// a line without end. A domain of 16,777,216 values of up to 8 digits fits in it.
inline constexpr std::int64_t kLongestInstanceLine = std::int64_t(1) << 28;
// Longest field: no keyword or integer of the format comes near it.
inline constexpr std::size_t kLongestInstanceField = 64;

struct InstanceReadResult {
  CspInstance* instance = nullptr;  // null when the text is malformed or too large
  std::int64_t line = 0;            // the line of the problem (1-based; 1 for an empty file)
  std::string error;                // what is wrong there, in a sentence
  bool outOfMemory = false;         // the check refused the file's counts: `error` is its line
  std::int64_t droppedTuples = 0;   // tuples with a value outside its variable's domain
};

// Called as the counts are read, after each table's first line, with the shape the instance will
// have up to that table if the rest of the file matches its counts. A non-empty answer (the
// "Error: no more memory: ..." line) stops the reading before that table is stored.
using InstanceShapeCheck = std::function<std::string(const InstanceShape&)>;

// Reads an instance from `in` into the calling thread's pools (release it with deletePooled).
// Tuples holding a value outside its variable's domain can never be allowed and are dropped.
// The reader holds one field at a time and grows its arrays only as lines arrive, so its memory
// is bounded by what the text holds, not by the counts it claims.
InstanceReadResult readInstance(std::istream& in, const InstanceShapeCheck& check = {});

// Writes `instance` in the format readInstance reads; `comment` (one line, may be empty) goes
// in a comment line after the header.
void writeInstance(std::ostream& out, const CspInstance& instance, const std::string& comment);

// `text` fit for a terminal line: every byte outside printable ASCII as \xNN (a backslash
// stays as it is, so that Windows paths read as typed), and at most `limit` bytes of it (then
// "..."); limit 0: all of it.
std::string printableText(std::string_view text, std::size_t limit = 40);

// printableText between single quotes, as messages show a field.
std::string quotedText(std::string_view text, std::size_t limit = 40);

}  // namespace varnel
