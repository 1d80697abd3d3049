// Reading and writing the instance format. The reader goes field by field straight from the
// stream's buffer, keeps the number of the line it is on, and stops at the first problem; it
// never holds more than one field and the arrays the lines so far have filled.
#include "varnel/search/model/instance_io.h"

#include <algorithm>
#include <charconv>
#include <istream>
#include <ostream>
#include <string_view>
#include <vector>

#include "varnel/memory/pooled.h"

namespace varnel {
namespace {

// "1 value", "3 values": a count with its noun, singular or plural.
std::string counted(std::int64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

constexpr int kEnd = std::char_traits<char>::eof();

// The text as fields on numbered lines: blanks are spaces and tabs, '#' starts a comment to the
// end of the line, a line ends at LF or CRLF. A UTF-8 byte-order mark opening the text is
// skipped. Control bytes, a CR alone, a field longer than kLongestInstanceField and a line
// longer than kLongestInstanceLine are errors.
class FieldReader {
 public:
  explicit FieldReader(std::istream& in) : in_(in.rdbuf()) {}

  // Moves to the next line that holds a field, the rest of the current one skipped; false at
  // the end of the text or on an error.
  bool nextLine() {
    if (!error_.empty()) return false;
    if (inLine_) {
      while (peek() != kEnd && peek() != '\n') take();
      if (!error_.empty()) return false;
      if (peek() == '\n') take();
      inLine_ = false;
    }
    while (in_ != nullptr && in_->sgetc() != kEnd) {
      ++line_;
      lineBytes_ = 0;
      inLine_ = true;
      if (line_ == 1) skipByteOrderMark();
      const int c = skipBlanks();
      if (!error_.empty()) return false;
      if (c != '\n' && c != kEnd) return true;
      if (c == '\n') take();
      inLine_ = false;
    }
    return false;
  }

  // The next field of the current line, valid until the next call; false at the end of the
  // line or on an error.
  bool field(std::string_view* out) {
    if (!error_.empty() || !inLine_) return false;
    int c = skipBlanks();
    if (!error_.empty()) return false;
    if (c == '\n' || c == kEnd) return false;
    field_.clear();
    while (c != kEnd && c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '#') {
      if (c < 0x20 || c == 0x7f) return failAt(controlByte(c));
      if (field_.size() == kLongestInstanceField) {
        return failAt("a field longer than " + std::to_string(kLongestInstanceField) +
                      " characters: " + quotedText(field_));
      }
      field_ += static_cast<char>(take());
      c = peek();
    }
    *out = field_;
    return error_.empty();
  }

  // The number of fields left on the current line (read and dropped).
  std::int64_t countRest() {
    std::int64_t count = 0;
    std::string_view ignored;
    while (field(&ignored)) ++count;
    return count;
  }

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  // Bytes read so far.
  std::uint64_t consumed() const { return consumed_; }
  // The current line, 1-based; 0 before the first.
  std::int64_t line() const { return line_; }

 private:
  static std::string controlByte(int c) {
    const char byte = static_cast<char>(c);
    return "the control byte " + printableText(std::string_view(&byte, 1)) + " is not text";
  }
  bool failAt(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  int peek() { return error_.empty() ? in_->sgetc() : kEnd; }
  int take() {
    ++consumed_;
    if (++lineBytes_ > kLongestInstanceLine) {
      failAt("the line is longer than " + std::to_string(kLongestInstanceLine) + " bytes");
      return kEnd;
    }
    return in_->sbumpc();
  }
  void skipByteOrderMark() {
    static constexpr unsigned char kMark[] = {0xEF, 0xBB, 0xBF};
    if (in_->sgetc() != kMark[0]) return;
    take();
    for (int k = 1; k < 3; ++k) {
      if (in_->sgetc() != kMark[k]) {
        failAt("the text starts with the byte \\xEF but not with a UTF-8 byte-order mark");
        return;
      }
      take();
    }
  }
  // Skips blanks and a comment; returns the next byte left in place: a field's first, '\n', or
  // kEnd. A CR is taken only before a LF.
  int skipBlanks() {
    while (true) {
      const int c = peek();
      if (c == ' ' || c == '\t') {
        take();
      } else if (c == '#') {
        while (peek() != kEnd && peek() != '\n' && peek() != '\r') take();
      } else if (c == '\r') {
        take();
        if (peek() != '\n') {
          failAt("a carriage return without a line feed (lines must end with LF or CRLF)");
          return kEnd;
        }
      } else {
        return c;
      }
    }
  }

  std::streambuf* in_;
  std::string field_;
  std::string error_;
  std::int64_t line_ = 0;
  std::int64_t lineBytes_ = 0;
  std::uint64_t consumed_ = 0;
  bool inLine_ = false;  // the current line's end has not been read
};

// A decimal integer within [low, high], the whole field.
bool parseInteger(std::string_view token, std::int64_t low, std::int64_t high, std::int64_t* out) {
  const char* begin = token.data();
  const char* end = begin + token.size();
  if (begin != end && *begin == '+') ++begin;
  std::int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end || value < low || value > high) return false;
  *out = value;
  return true;
}

class Parser {
 public:
  Parser(std::istream& in, const InstanceShapeCheck& check, std::uint64_t size)
      : fields_(in), check_(check), size_(size) {}

  InstanceReadResult run() {
    InstanceReadResult result;
    if (!readModel()) {
      result.line = std::max<std::int64_t>(fields_.line(), 1);
      result.error = fields_.failed() ? fields_.error() : error_;
      result.outOfMemory = outOfMemory_;
      deletePooled(instance_);
      return result;
    }
    result.instance = instance_;
    result.droppedTuples = dropped_;
    return result;
  }

 private:
  // Keeps the first problem; the reader's own (a control byte, a line too long) comes first in
  // the result, so a message made after it is never shown.
  bool fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  bool expectLine(const char* what) {
    if (fields_.nextLine()) return true;
    return fail(std::string("the file ends where ") + what + " was expected");
  }
  bool keyword(const char* word) {
    std::string_view first;
    fields_.field(&first);  // a line from nextLine holds one
    if (first != word)
      return fail("expected '" + std::string(word) + "', found " + quotedText(first));
    return true;
  }
  bool fewerFields(const char* word) {
    return fail("wrong number of fields on a '" + std::string(word) + "' line");
  }
  // The next field, an integer within [low, high]; `word` names the line when it is missing.
  bool integer(const char* word, std::int64_t low, std::int64_t high, const char* what,
               std::int64_t* out) {
    std::string_view text;
    if (!fields_.field(&text)) return fewerFields(word);
    if (!parseInteger(text, low, high, out)) {
      return fail(std::string(what) + " " + quotedText(text) + " is not an integer from " +
                  std::to_string(low) + " to " + std::to_string(high));
    }
    return true;
  }
  bool lineEnds(const char* word) {
    if (fields_.countRest() == 0) return !fields_.failed();
    return fail("wrong number of fields on a '" + std::string(word) + "' line");
  }

  bool readModel() {
    std::int64_t n = 0;
    if (!expectLine("'variables <count>'") || !keyword("variables") ||
        !integer("variables", 0, 10000000, "the variable count", &n) || !lineEnds("variables")) {
      return false;
    }
    // Grown as the domain lines arrive: a count alone reserves nothing.
    for (std::int64_t x = 0; x < n; ++x) {
      std::int64_t index = 0;
      if (!expectLine("'domain <variable> <values>...'") || !keyword("domain") ||
          !integer("domain", 0, n - 1, "the variable", &index)) {
        return false;
      }
      if (index != x) {
        return fail("the domain of variable " + std::to_string(x) + " was expected, found " +
                    std::to_string(index));
      }
      if (!readDomain()) return false;
    }
    instance_ = newPooled<CspInstance>(static_cast<std::int32_t>(n));
    for (std::int64_t x = 0; x < n; ++x) {
      const std::vector<std::int64_t>& values = domains_[static_cast<std::size_t>(x)];
      instance_->setDomain(static_cast<std::int32_t>(x), values.data(),
                           static_cast<std::int32_t>(values.size()));
      shape_.addVariables(1, values.size());
    }
    std::int64_t m = 0;
    if (!expectLine("'constraints <count>'") || !keyword("constraints") ||
        !integer("constraints", 0, 10000000, "the constraint count", &m) ||
        !lineEnds("constraints")) {
      return false;
    }
    for (std::int64_t c = 0; c < m; ++c) {
      if (!readConstraint()) return false;
    }
    if (fields_.nextLine()) return fail("unexpected text after the last constraint");
    return !fields_.failed();
  }

  // The values of a domain line, kept sorted. Values written in increasing order (as
  // writeInstance does) are checked for repeats as they come, so that a line repeating one
  // value is stopped at once rather than stored whole.
  bool readDomain() {
    std::vector<std::int64_t>& values = domains_.emplace_back();
    bool increasing = true;
    std::int64_t v = 0;
    std::string_view text;
    while (fields_.field(&text)) {
      if (!parseInteger(text, -kLargestInstanceValue, kLargestInstanceValue, &v)) {
        return fail("the value " + quotedText(text) + " is not an integer from " +
                    std::to_string(-kLargestInstanceValue) + " to " +
                    std::to_string(kLargestInstanceValue));
      }
      if (!values.empty() && v <= values.back()) {
        if (v == values.back())
          return fail("value " + std::to_string(v) + " appears twice in the domain");
        increasing = false;
      }
      values.push_back(v);
    }
    if (fields_.failed()) return false;
    if (values.empty()) return fail("wrong number of fields on a 'domain' line");
    if (!increasing) {
      std::sort(values.begin(), values.end());
      const auto repeat = std::adjacent_find(values.begin(), values.end());
      if (repeat != values.end()) {
        return fail("value " + std::to_string(*repeat) + " appears twice in the domain");
      }
    }
    return true;
  }

  // One constraint: its first line names its kind.
  bool readConstraint() {
    if (!expectLine("'table', 'conflicts' or 'alldifferent'")) return false;
    std::string_view first;
    fields_.field(&first);  // a line from nextLine holds one
    if (first == "table") return readTable(ConstraintKind::kSupports, "table");
    if (first == "conflicts") return readTable(ConstraintKind::kConflicts, "conflicts");
    if (first == "alldifferent") return readAllDifferent(false);
    if (first == "alldifferent-lists") return readAllDifferent(true);
    return fail("expected 'table', 'conflicts', 'alldifferent' or 'alldifferent-lists', found " +
                quotedText(first));
  }

  // `count` variables, the rest of the line, into `scope`; `distinct`: none twice.
  bool readScope(const char* word, std::int64_t count, bool distinct,
                 std::vector<std::int32_t>* scope) {
    std::string_view text;
    std::int64_t x = 0;
    while (static_cast<std::int64_t>(scope->size()) < count && fields_.field(&text)) {
      if (!parseInteger(text, 0, instance_->varCount() - 1, &x)) {
        return fail("the variable " + quotedText(text) + " is not an integer from 0 to " +
                    std::to_string(instance_->varCount() - 1));
      }
      scope->push_back(static_cast<std::int32_t>(x));
    }
    const std::int64_t named = static_cast<std::int64_t>(scope->size()) + fields_.countRest();
    if (fields_.failed()) return false;
    if (named != count) {
      return fail("the " + std::string(word) + " line names " + counted(named, "variable") +
                  " for " + std::to_string(count));
    }
    if (!distinct) return true;
    std::vector<std::int32_t> sorted = *scope;
    std::sort(sorted.begin(), sorted.end());
    const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
    if (twice != sorted.end()) {
      return fail("variable " + std::to_string(*twice) + " appears twice in the " + word +
                  "'s scope");
    }
    return true;
  }

  // alldifferent <count> <variables>..., or alldifferent-lists <lists> <length> <variables>...
  // (lists x length of them, list after list; a variable may stand in several lists). A
  // variable named twice in one list can never differ from itself: kept, it makes the instance
  // unsatisfiable, as it says.
  bool readAllDifferent(bool lists) {
    const char* word = lists ? "alldifferent-lists" : "alldifferent";
    std::int64_t listCount = 1;
    std::int64_t length = 0;
    if (lists && !integer(word, 2, instance_->varCount(), "the list count", &listCount)) {
      return false;
    }
    if (!integer(word, 1, instance_->varCount(), lists ? "the list length" : "the variable count",
                 &length)) {
      return false;
    }
    if (listCount * length > INT32_MAX / 2) return fail("the lists hold too many variables");
    std::vector<std::int32_t> scope;
    if (!readScope(word, listCount * length, false, &scope)) return false;
    std::uint64_t buckets = 0;
    for (const std::int32_t v : scope)
      buckets += static_cast<std::uint64_t>(instance_->domainSize(v));
    InstanceShape claimed = shape_;
    claimed.addAllDifferent(1, scope.size(), buckets);
    if (check_) {
      if (std::string refusal = check_(claimed); !refusal.empty()) {
        outOfMemory_ = true;
        return fail(refusal);
      }
    }
    instance_->addAllDifferent(scope.data(), static_cast<std::int32_t>(length),
                               static_cast<std::int32_t>(listCount));
    shape_ = claimed;
    return true;
  }

  bool readTable(ConstraintKind kind, const char* word) {
    std::int64_t arity = 0;
    std::int64_t count = 0;
    if (!integer(word, 1, instance_->varCount(), "the arity", &arity) ||
        !integer(word, 0, INT32_MAX / arity, "the tuple count", &count)) {
      return false;
    }
    std::vector<std::int32_t> scope;
    if (!readScope(word, arity, true, &scope)) return false;
    // A tuple count is checked against the rest of the text first, so that a cut file is told
    // as such rather than refused for the memory its count would take.
    if (!claimFits(count, 2 * arity, "tuple line")) return false;
    // The counts claimed so far, this table's included, against the caller's limits.
    std::uint64_t buckets = 0;
    for (const std::int32_t v : scope) {
      buckets += static_cast<std::uint64_t>(instance_->domainSize(v));
    }
    InstanceShape claimed = shape_;
    claimed.addTables(1, static_cast<std::uint64_t>(arity), static_cast<std::uint64_t>(count),
                      buckets);
    if (check_) {
      if (std::string refusal = check_(claimed); !refusal.empty()) {
        outOfMemory_ = true;
        return fail(refusal);
      }
    }
    std::vector<std::int32_t> rows;
    std::int32_t kept = 0;
    for (std::int64_t t = 0; t < count; ++t) {
      if (!expectLine("a tuple") || !readTuple(scope, &rows, &kept)) return false;
    }
    instance_->addTable(kind, scope.data(), static_cast<std::int32_t>(arity), rows.data(), kept);
    shape_.addTables(1, static_cast<std::uint64_t>(arity), static_cast<std::uint64_t>(kept),
                     buckets);
    return true;
  }

  // One tuple line: appended to `rows` unless a value is outside its variable's domain.
  bool readTuple(const std::vector<std::int32_t>& scope, std::vector<std::int32_t>* rows,
                 std::int32_t* kept) {
    const auto arity = static_cast<std::int64_t>(scope.size());
    bool allowed = true;
    std::int64_t i = 0;
    std::string_view text;
    for (; i < arity && fields_.field(&text); ++i) {
      std::int64_t v = 0;
      if (text == "*") {
        rows->push_back(kStar);
        continue;
      }
      if (!parseInteger(text, -kLargestInstanceValue, kLargestInstanceValue, &v)) {
        return fail("the value " + quotedText(text) + " is not an integer from " +
                    std::to_string(-kLargestInstanceValue) + " to " +
                    std::to_string(kLargestInstanceValue));
      }
      const auto& values = domains_[static_cast<std::size_t>(scope[static_cast<std::size_t>(i)])];
      const auto at = std::lower_bound(values.begin(), values.end(), v);
      if (at == values.end() || *at != v) {
        allowed = false;
        continue;
      }
      rows->push_back(static_cast<std::int32_t>(at - values.begin()));
    }
    const std::int64_t given = i + fields_.countRest();
    if (fields_.failed()) return false;
    if (given != arity) {
      return fail("a tuple of " + counted(given, "value") + " in a table of arity " +
                  std::to_string(arity));
    }
    if (allowed) {
      ++*kept;
    } else {
      rows->resize(static_cast<std::size_t>(*kept) * static_cast<std::size_t>(arity));
      ++dropped_;
    }
    return true;
  }

  // A count of `items` lines of at least `lineBytes` bytes each, against what is left of a text
  // of known size.
  bool claimFits(std::int64_t items, std::int64_t lineBytes, const char* what) {
    if (size_ == 0) return true;
    const std::uint64_t left = size_ > fields_.consumed() ? size_ - fields_.consumed() : 0;
    if (static_cast<std::uint64_t>(items) <= left / static_cast<std::uint64_t>(lineBytes)) {
      return true;
    }
    return fail(counted(items, what) + " cannot fit in the " + std::to_string(left) +
                " bytes left in the file");
  }

  FieldReader fields_;
  const InstanceShapeCheck& check_;
  std::uint64_t size_;  // bytes of the whole text; 0 when unknown
  CspInstance* instance_ = nullptr;
  std::vector<std::vector<std::int64_t>> domains_;
  InstanceShape shape_;
  std::string error_;
  bool outOfMemory_ = false;
  std::int64_t dropped_ = 0;
};

}  // namespace

std::string printableText(std::string_view text, std::size_t limit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::size_t shown = limit == 0 ? text.size() : std::min(text.size(), limit);
  std::string out;
  for (std::size_t k = 0; k < shown; ++k) {
    const auto byte = static_cast<unsigned char>(text[k]);
    if (byte >= 0x20 && byte < 0x7f) {
      out += static_cast<char>(byte);
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  if (shown < text.size()) out += "...";
  return out;
}

std::string quotedText(std::string_view text, std::size_t limit) {
  // Appended rather than "'" + printableText(text) + "'": GCC 12 warns falsely (-Wrestrict) on
  // a literal prepended to a temporary string.
  std::string quoted(1, '\'');
  quoted += printableText(text, limit);
  quoted += '\'';
  return quoted;
}

InstanceReadResult readInstance(std::istream& in, const InstanceShapeCheck& check) {
  // The size, when the stream can tell it (a file, a string; not a pipe).
  std::uint64_t size = 0;
  const std::streampos start = in.tellg();
  if (start != std::streampos(-1) && in.seekg(0, std::ios::end)) {
    const std::streampos end = in.tellg();
    if (end != std::streampos(-1) && end > start) size = static_cast<std::uint64_t>(end - start);
  }
  if (start != std::streampos(-1)) {
    in.clear();
    in.seekg(start);
  }
  return Parser(in, check, size).run();
}

void writeInstance(std::ostream& out, const CspInstance& instance, const std::string& comment) {
  out << "# varnel instance: variables with their values, then the constraints\n";
  if (!comment.empty()) out << "# " << comment << "\n";
  out << "variables " << instance.varCount() << "\n";
  for (std::int32_t x = 0; x < instance.varCount(); ++x) {
    out << "domain " << x;
    for (std::int32_t k = 0; k < instance.domainSize(x); ++k) out << ' ' << instance.value(x, k);
    out << "\n";
  }
  out << "constraints " << instance.constraintCount() << "\n";
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
    const std::int32_t arity = instance.arity(c);
    const std::int32_t* scope = instance.scope(c);
    if (!instance.isTable(c)) {
      if (instance.listCount(c) == 1) {
        out << "alldifferent " << arity;
      } else {
        out << "alldifferent-lists " << instance.listCount(c) << ' ' << instance.listLength(c);
      }
      for (std::int32_t i = 0; i < arity; ++i) out << ' ' << scope[i];
      out << "\n";
      continue;
    }
    out << (instance.kind(c) == ConstraintKind::kConflicts ? "conflicts " : "table ") << arity
        << ' ' << instance.tupleCount(c);
    for (std::int32_t i = 0; i < arity; ++i) out << ' ' << scope[i];
    out << "\n";
    const std::int32_t* rows = instance.tuples(c);
    for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
      for (std::int32_t i = 0; i < arity; ++i) {
        if (i > 0) out << ' ';
        const std::int32_t v = rows[std::int64_t(t) * arity + i];
        if (v == kStar) {
          out << '*';
        } else {
          out << instance.value(scope[i], v);
        }
      }
      out << "\n";
    }
  }
}

}  // namespace varnel
