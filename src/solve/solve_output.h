// varnel-solve's report: plain text lines, each written as soon as it is known, or with --json
// one JSON object on standard output, and nothing else there: its members are held until the end,
// or until an array is streamed (the solutions of a long search), which writes those before it.
// Every caller states both forms of a fact at once, so the two cannot drift apart.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varnel::solve {

// JSON texts of single values.
namespace json {
std::string number(std::int64_t value);
std::string number(std::uint64_t value);
std::string number(std::int32_t value);
std::string number(double value);  // null when not finite
std::string string(const std::string& text);
std::string boolean(bool value);
std::string array(const std::vector<std::string>& items);  // items already JSON
std::string object(const std::vector<std::pair<std::string, std::string>>& members);
}  // namespace json

class SolveOutput {
 public:
  // `competition`: the text lines become comment lines ("c ...") of the competitions' output,
  // around the lines written with `verbatim`.
  explicit SolveOutput(bool json, bool competition = false)
      : json_(json), competition_(competition) {}

  bool json() const { return json_; }
  bool competition() const { return competition_; }
  // A line of the text report (newline added); nothing in JSON mode. `flush` false leaves it in
  // the stream's buffer (the many lines of a solution listing).
  void text(const std::string& line, bool flush = true);
  // A member of the JSON object (its value already JSON); nothing in text mode.
  void member(const std::string& key, const std::string& value);
  // Both at once: "label: text" in text mode, "key": value in JSON mode.
  void field(const std::string& label, const std::string& text, const std::string& key,
             const std::string& value);
  // JSON mode: an array member written item by item as the items come (the members given before
  // it are written first); nothing in text mode. One array at a time.
  void beginArray(const std::string& key);
  void arrayItem(const std::string& value);
  void endArray();
  // A line as it stands (newline added), in text mode only: the competitions' s and v lines.
  void verbatim(const std::string& line);
  // JSON mode: writes the object and a newline. Text mode: nothing (every line is out).
  void finish();

 private:
  // Writes the held members, opening the object first if needed.
  void writeMembers();

  bool json_;
  bool competition_;
  bool opened_ = false;    // "{" is written
  bool written_ = false;   // a member is written
  bool firstItem_ = true;  // the streamed array has no item yet
  std::vector<std::pair<std::string, std::string>> members_;
};

}  // namespace varnel::solve
