// The two forms of varnel-solve's report.
#include "solve/solve_output.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "varnel/platform/standard_output.h"

namespace varnel::solve {
namespace json {

std::string number(std::int64_t value) { return std::to_string(value); }
std::string number(std::uint64_t value) { return std::to_string(value); }
std::string number(std::int32_t value) { return std::to_string(value); }

std::string number(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string string(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string boolean(bool value) { return value ? "true" : "false"; }

std::string array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i > 0 ? ", " : "") + items[i];
  return out + "]";
}

std::string object(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i) {
    out += (i > 0 ? ", " : "") + string(members[i].first) + ": " + members[i].second;
  }
  return out + "}";
}

}  // namespace json

void SolveOutput::text(const std::string& line, bool flush) {
  if (json_) return;
  std::cout << (competition_ ? "c " : "") << line << '\n';
  if (flush) std::cout.flush();
  noteStandardOutputState();
}

void SolveOutput::verbatim(const std::string& line) {
  if (json_) return;
  std::cout << line << std::endl;
  noteStandardOutputState();
}

void SolveOutput::member(const std::string& key, const std::string& value) {
  if (json_) members_.emplace_back(key, value);
}

void SolveOutput::field(const std::string& label, const std::string& text, const std::string& key,
                        const std::string& value) {
  text.empty() ? this->text(label + ":") : this->text(label + ": " + text);
  member(key, value);
}

void SolveOutput::writeMembers() {
  if (!opened_) std::cout << "{";
  opened_ = true;
  for (const auto& [key, value] : members_) {
    std::cout << (written_ ? ", " : "") << json::string(key) << ": " << value;
    written_ = true;
  }
  members_.clear();
}

void SolveOutput::beginArray(const std::string& key) {
  if (!json_) return;
  writeMembers();
  std::cout << (written_ ? ", " : "") << json::string(key) << ": [";
  written_ = true;
  firstItem_ = true;
}

void SolveOutput::arrayItem(const std::string& value) {
  if (!json_) return;
  std::cout << (firstItem_ ? "" : ", ") << value;
  firstItem_ = false;
  noteStandardOutputState();
}

void SolveOutput::endArray() {
  if (json_) std::cout << "]";
}

void SolveOutput::finish() {
  if (!json_) return;
  writeMembers();
  std::cout << "}" << std::endl;
  noteStandardOutputState();
}

}  // namespace varnel::solve
