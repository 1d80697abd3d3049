// Reading and writing the instance format. The reader goes line by line, keeps the number of the
// line it is on, and stops at the first problem.
#include "varnel/search/instance_io.h"

#include <algorithm>
#include <charconv>
#include <istream>
#include <ostream>
#include <string_view>
#include <vector>

#include "varnel/memory/pooled.h"

namespace varnel {
namespace {

class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(in) {}

  // The next line with at least one token (comments from '#' on and blank lines skipped);
  // false at the end of the input.
  bool next() {
    while (std::getline(in_, text_)) {
      ++line_;
      const std::size_t hash = text_.find('#');
      if (hash != std::string::npos) text_.resize(hash);
      tokens_.clear();
      std::size_t k = 0;
      while (k < text_.size()) {
        while (k < text_.size() && isBlank(text_[k])) ++k;
        const std::size_t from = k;
        while (k < text_.size() && !isBlank(text_[k])) ++k;
        if (k > from) tokens_.emplace_back(text_.data() + from, k - from);
      }
      if (!tokens_.empty()) return true;
    }
    return false;
  }
  std::int64_t line() const { return line_; }
  const std::vector<std::string_view>& tokens() const { return tokens_; }

 private:
  static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

  std::istream& in_;
  std::string text_;
  std::vector<std::string_view> tokens_;
  std::int64_t line_ = 0;
};

// A decimal integer within [low, high], the whole token.
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
  explicit Parser(std::istream& in) : lines_(in) {}

  InstanceReadResult run() {
    InstanceReadResult result;
    if (!readModel()) {
      result.line = lines_.line();
      result.error = error_;
      deletePooled(instance_);
      return result;
    }
    result.instance = instance_;
    result.droppedTuples = dropped_;
    return result;
  }

 private:
  bool fail(const std::string& why) {
    error_ = why;
    return false;
  }
  bool expectLine(const char* what) {
    if (!lines_.next()) return fail(std::string("the file ends where ") + what + " was expected");
    return true;
  }
  bool keyword(const char* word, std::size_t minTokens, std::size_t maxTokens) {
    const auto& t = lines_.tokens();
    if (t[0] != word) {
      return fail("expected '" + std::string(word) + "', found '" + std::string(t[0]) + "'");
    }
    if (t.size() < minTokens || t.size() > maxTokens) {
      return fail("wrong number of fields on a '" + std::string(word) + "' line");
    }
    return true;
  }
  bool integer(std::size_t k, std::int64_t low, std::int64_t high, const char* what,
               std::int64_t* out) {
    if (!parseInteger(lines_.tokens()[k], low, high, out)) {
      return fail(std::string(what) + " '" + std::string(lines_.tokens()[k]) +
                  "' is not an integer from " + std::to_string(low) + " to " +
                  std::to_string(high));
    }
    return true;
  }

  bool readModel() {
    std::int64_t n = 0;
    if (!expectLine("'variables <count>'") || !keyword("variables", 2, 2) ||
        !integer(1, 0, 10000000, "the variable count", &n)) {
      return false;
    }
    instance_ = newPooled<CspInstance>(static_cast<std::int32_t>(n));
    domains_.resize(static_cast<std::size_t>(n));
    for (std::int64_t x = 0; x < n; ++x) {
      std::int64_t index = 0;
      if (!expectLine("'domain <variable> <values>...'") || !keyword("domain", 3, SIZE_MAX) ||
          !integer(1, 0, n - 1, "the variable", &index)) {
        return false;
      }
      if (index != x) {
        return fail("the domain of variable " + std::to_string(x) + " was expected, found " +
                    std::to_string(index));
      }
      std::vector<std::int64_t>& values = domains_[static_cast<std::size_t>(x)];
      for (std::size_t k = 2; k < lines_.tokens().size(); ++k) {
        std::int64_t v = 0;
        if (!integer(k, -kLargestInstanceValue, kLargestInstanceValue, "the value", &v)) {
          return false;
        }
        values.push_back(v);
      }
      std::sort(values.begin(), values.end());
      const auto repeat = std::adjacent_find(values.begin(), values.end());
      if (repeat != values.end()) {
        return fail("value " + std::to_string(*repeat) + " appears twice in the domain");
      }
      instance_->setDomain(static_cast<std::int32_t>(x), values.data(),
                           static_cast<std::int32_t>(values.size()));
    }
    std::int64_t m = 0;
    if (!expectLine("'constraints <count>'") || !keyword("constraints", 2, 2) ||
        !integer(1, 0, 10000000, "the constraint count", &m)) {
      return false;
    }
    for (std::int64_t c = 0; c < m; ++c) {
      if (!readTable()) return false;
    }
    if (lines_.next()) return fail("unexpected text after the last table");
    return true;
  }

  bool readTable() {
    std::int64_t arity = 0;
    std::int64_t count = 0;
    if (!expectLine("'table <arity> <tuples> <variables>...'") || !keyword("table", 4, SIZE_MAX) ||
        !integer(1, 1, instance_->varCount(), "the arity", &arity) ||
        !integer(2, 0, INT32_MAX / std::max<std::int64_t>(arity, 1), "the tuple count", &count)) {
      return false;
    }
    if (lines_.tokens().size() != static_cast<std::size_t>(3 + arity)) {
      return fail("the table names " + std::to_string(lines_.tokens().size() - 3) +
                  " variables for arity " + std::to_string(arity));
    }
    std::vector<std::int32_t> scope(static_cast<std::size_t>(arity));
    for (std::int64_t i = 0; i < arity; ++i) {
      std::int64_t x = 0;
      if (!integer(static_cast<std::size_t>(3 + i), 0, instance_->varCount() - 1, "the variable",
                   &x)) {
        return false;
      }
      if (std::find(scope.begin(), scope.begin() + i, x) != scope.begin() + i) {
        return fail("variable " + std::to_string(x) + " appears twice in the table's scope");
      }
      scope[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(x);
    }
    std::vector<std::int32_t> rows;
    std::int32_t kept = 0;
    for (std::int64_t t = 0; t < count; ++t) {
      if (!expectLine("a tuple")) return false;
      if (lines_.tokens().size() != static_cast<std::size_t>(arity)) {
        return fail("a tuple of " + std::to_string(lines_.tokens().size()) +
                    " values in a table of arity " + std::to_string(arity));
      }
      bool allowed = true;
      for (std::int64_t i = 0; i < arity; ++i) {
        std::int64_t v = 0;
        if (!integer(static_cast<std::size_t>(i), -kLargestInstanceValue, kLargestInstanceValue,
                     "the value", &v)) {
          return false;
        }
        const auto& values = domains_[static_cast<std::size_t>(scope[static_cast<std::size_t>(i)])];
        const auto at = std::lower_bound(values.begin(), values.end(), v);
        if (at == values.end() || *at != v) {
          allowed = false;
          continue;
        }
        rows.push_back(static_cast<std::int32_t>(at - values.begin()));
      }
      if (allowed) {
        ++kept;
      } else {
        rows.resize(static_cast<std::size_t>(kept) * static_cast<std::size_t>(arity));
        ++dropped_;
      }
    }
    instance_->addConstraint(scope.data(), static_cast<std::int32_t>(arity), rows.data(), kept);
    return true;
  }

  LineReader lines_;
  CspInstance* instance_ = nullptr;
  std::vector<std::vector<std::int64_t>> domains_;
  std::string error_;
  std::int64_t dropped_ = 0;
};

}  // namespace

InstanceReadResult readInstance(std::istream& in) { return Parser(in).run(); }

void writeInstance(std::ostream& out, const CspInstance& instance, const std::string& comment) {
  out << "# varnel instance: variables with their values, then tables of allowed tuples\n";
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
    out << "table " << arity << ' ' << instance.tupleCount(c);
    for (std::int32_t i = 0; i < arity; ++i) out << ' ' << scope[i];
    out << "\n";
    const std::int32_t* rows = instance.tuples(c);
    for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
      for (std::int32_t i = 0; i < arity; ++i) {
        if (i > 0) out << ' ';
        out << instance.value(scope[i], rows[std::int64_t(t) * arity + i]);
      }
      out << "\n";
    }
  }
}

}  // namespace varnel
