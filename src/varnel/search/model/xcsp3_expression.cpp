// Parsing and evaluating intension expressions. The parser keeps its open calls on an explicit
// stack and writes each operator when its call closes, which is postfix order; `set(...)` inside
// `in`/`notin` is folded into the membership operator as extra operands.
#include "varnel/search/model/xcsp3_expression.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "varnel/search/model/instance_io.h"

namespace varnel::xcsp3 {
namespace {

enum Operator : std::uint8_t {
  kNeg,
  kAbs,
  kAdd,
  kSub,
  kMul,
  kDiv,
  kMod,
  kSqr,
  kPow,
  kMin,
  kMax,
  kDist,
  kLt,
  kLe,
  kGe,
  kGt,
  kNe,
  kEq,
  kNot,
  kAnd,
  kOr,
  kXor,
  kIff,
  kImp,
  kIf,
  kSet,
  kIn,
  kNotIn,
};

struct OperatorInfo {
  const char* name;
  Operator op;
  std::int32_t minArity;
  std::int32_t maxArity;  // -1: any
};

constexpr OperatorInfo kOperators[] = {
    {"neg", kNeg, 1, 1},  {"abs", kAbs, 1, 1},  {"add", kAdd, 2, -1}, {"sub", kSub, 2, 2},
    {"mul", kMul, 2, -1}, {"div", kDiv, 2, 2},  {"mod", kMod, 2, 2},  {"sqr", kSqr, 1, 1},
    {"pow", kPow, 2, 2},  {"min", kMin, 1, -1}, {"max", kMax, 1, -1}, {"dist", kDist, 2, 2},
    {"lt", kLt, 2, 2},    {"le", kLe, 2, 2},    {"ge", kGe, 2, 2},    {"gt", kGt, 2, 2},
    {"ne", kNe, 2, 2},    {"eq", kEq, 2, -1},   {"not", kNot, 1, 1},  {"and", kAnd, 1, -1},
    {"or", kOr, 1, -1},   {"xor", kXor, 1, -1}, {"iff", kIff, 2, -1}, {"imp", kImp, 2, 2},
    {"if", kIf, 3, 3},    {"set", kSet, 0, -1}, {"in", kIn, 2, 2},    {"notin", kNotIn, 2, 2},
};

const OperatorInfo* findOperator(std::string_view name) {
  for (const OperatorInfo& info : kOperators) {
    if (name == info.name) return &info;
  }
  return nullptr;
}

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '[' || c == ']' || c == '.' || c == '-';
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// a op b in 64 bits, false on overflow (written out: MSVC has no overflow builtins).
bool checkedAdd(std::int64_t a, std::int64_t b, std::int64_t* r) {
  if ((b > 0 && a > INT64_MAX - b) || (b < 0 && a < INT64_MIN - b)) return false;
  *r = a + b;
  return true;
}
bool checkedSub(std::int64_t a, std::int64_t b, std::int64_t* r) {
  if ((b < 0 && a > INT64_MAX + b) || (b > 0 && a < INT64_MIN + b)) return false;
  *r = a - b;
  return true;
}
bool checkedMul(std::int64_t a, std::int64_t b, std::int64_t* r) {
  if (a != 0 && b != 0) {
    const bool over = a > 0 ? (b > 0 ? a > INT64_MAX / b : b < INT64_MIN / a)
                            : (b > 0 ? a < INT64_MIN / b : b < INT64_MAX / a);
    if (over) return false;
  }
  *r = a * b;
  return true;
}

}  // namespace

bool Expression::parse(std::string_view text, const NameResolver& resolve, std::string* error) {
  steps_.clear();
  struct Open {
    const OperatorInfo* info;
    std::int32_t operands;
  };
  std::vector<Open> open;
  std::size_t i = 0;
  bool expectOperand = true;  // after '(' or ',' or at the start
  bool done = false;          // the whole expression has been read
  const auto fail = [&](const std::string& why) {
    *error = std::string("intension: ") + why;
    return false;
  };
  while (true) {
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i == text.size()) break;
    const char c = text[i];
    if (done) return fail("text after the end of the expression");
    if (expectOperand) {
      if (c == ')' && !open.empty() && open.back().operands == 0) {
        expectOperand = false;  // an empty call: set()
        continue;
      }
      std::size_t end = i;
      if (c == '%') {
        ++end;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        std::int64_t k = 0;
        const auto [p, ec] = std::from_chars(text.data() + i + 1, text.data() + end, k);
        if (ec != std::errc() || p != text.data() + end || k > 1000000) {
          return fail(quotedText(text.substr(i, std::min<std::size_t>(end - i + 1, 20)), 0) +
                      " is not a parameter");
        }
        steps_.push_back({ExpressionStep::kParameter, 0, 0, k});
      } else {
        while (end < text.size() && isNameChar(text[end])) ++end;
        if (end == i) return fail("unexpected '" + printableText(std::string_view(&c, 1)) + "'");
        const std::string_view word = text.substr(i, end - i);
        std::size_t next = end;
        while (next < text.size() && isBlank(text[next])) ++next;
        if (next < text.size() && text[next] == '(') {
          const OperatorInfo* info = findOperator(word);
          if (info == nullptr) {
            return fail(std::string("operator '") + std::string(word.substr(0, 40)) +
                        "' is not supported");
          }
          open.push_back({info, 0});
          i = next + 1;
          continue;
        }
        std::int64_t number = 0;
        const auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), number);
        if (ec == std::errc() && p == word.data() + word.size()) {
          steps_.push_back({ExpressionStep::kConstant, 0, 0, number});
        } else {
          ExpressionLeaf leaf{};
          if (!resolve(word, &leaf)) {
            return fail(std::string("'") + std::string(word.substr(0, 60)) + "' is not declared");
          }
          steps_.push_back({leaf.kind == ExpressionLeaf::kVariable ? ExpressionStep::kVariable
                                                                   : ExpressionStep::kConstant,
                            0, 0, leaf.value});
        }
      }
      i = end;
      expectOperand = false;
      if (open.empty())
        done = true;
      else
        ++open.back().operands;
      continue;
    }
    // After an operand: ',' or ')'.
    if (open.empty()) {
      return fail("unexpected '" + printableText(std::string_view(&c, 1)) + "'");
    }
    if (c == ',') {
      expectOperand = true;
      ++i;
      continue;
    }
    if (c != ')') {
      return fail("expected ',' or ')' but found '" + printableText(std::string_view(&c, 1)) + "'");
    }
    ++i;
    const Open call = open.back();
    open.pop_back();
    const OperatorInfo& info = *call.info;
    if (call.operands < info.minArity || (info.maxArity >= 0 && call.operands > info.maxArity)) {
      return fail(std::string(info.name) + " with " + std::to_string(call.operands) + " operands");
    }
    std::int32_t arity = call.operands;
    if (info.op == kIn || info.op == kNotIn) {
      // in(e, set(a, b, ...)): the set's members become operands 2.. of the membership.
      if (steps_.empty() || steps_.back().kind != ExpressionStep::kOperator ||
          steps_.back().op != kSet) {
        return fail(std::string(info.name) + " needs a set(...) as its second operand");
      }
      arity = 1 + steps_.back().arity;
      steps_.pop_back();
    } else if (info.op == kSet &&
               (open.empty() || (open.back().info->op != kIn && open.back().info->op != kNotIn))) {
      return fail("set(...) stands outside in or notin");
    }
    steps_.push_back({ExpressionStep::kOperator, static_cast<std::uint8_t>(info.op), arity, 0});
    if (open.empty())
      done = true;
    else
      ++open.back().operands;
  }
  if (!open.empty())
    return fail(std::string("unclosed ") + std::string(open.back().info->name) + "(");
  if (!done) return fail("empty expression");
  return true;
}

std::int32_t Expression::highestParameter() const {
  std::int64_t highest = -1;
  for (const ExpressionStep& s : steps_) {
    if (s.kind == ExpressionStep::kParameter) highest = std::max(highest, s.value);
  }
  return static_cast<std::int32_t>(highest);
}

bool Expression::bindParameters(const std::vector<ExpressionLeaf>& args, std::string* error) {
  for (ExpressionStep& s : steps_) {
    if (s.kind != ExpressionStep::kParameter) continue;
    if (s.value >= static_cast<std::int64_t>(args.size())) {
      *error = std::string("%") + std::to_string(s.value) + " but only " +
               std::to_string(args.size()) + " arguments";
      return false;
    }
    const ExpressionLeaf& leaf = args[static_cast<std::size_t>(s.value)];
    s.kind = leaf.kind == ExpressionLeaf::kVariable ? ExpressionStep::kVariable
                                                    : ExpressionStep::kConstant;
    s.value = leaf.value;
  }
  return true;
}

bool Expression::evaluate(const std::int64_t* values, std::int64_t* result,
                          std::vector<std::int64_t>& stack) const {
  stack.clear();
  for (const ExpressionStep& s : steps_) {
    if (s.kind == ExpressionStep::kConstant) {
      stack.push_back(s.value);
      continue;
    }
    if (s.kind == ExpressionStep::kVariable) {
      stack.push_back(values[s.value]);
      continue;
    }
    const std::size_t n = static_cast<std::size_t>(s.arity);
    const std::int64_t* a = stack.data() + stack.size() - n;
    std::int64_t r = 0;
    switch (static_cast<Operator>(s.op)) {
      case kNeg:
        if (!checkedSub(0, a[0], &r)) return false;
        break;
      case kAbs:
        if (!checkedSub(0, a[0], &r)) return false;
        r = a[0] < 0 ? r : a[0];
        break;
      case kAdd:
        r = 0;
        for (std::size_t k = 0; k < n; ++k) {
          if (!checkedAdd(r, a[k], &r)) return false;
        }
        break;
      case kSub:
        if (!checkedSub(a[0], a[1], &r)) return false;
        break;
      case kMul:
        r = 1;
        for (std::size_t k = 0; k < n; ++k) {
          if (!checkedMul(r, a[k], &r)) return false;
        }
        break;
      case kDiv:  // truncates toward zero, as C++ does
      case kMod:  // takes the dividend's sign, as C++ does
        if (a[1] == 0 || (a[0] == INT64_MIN && a[1] == -1)) return false;
        r = s.op == kDiv ? a[0] / a[1] : a[0] % a[1];
        break;
      case kSqr:
        if (!checkedMul(a[0], a[0], &r)) return false;
        break;
      case kPow: {
        if (a[1] < 0) return false;
        r = 1;
        for (std::int64_t k = 0; k < a[1]; ++k) {
          if (!checkedMul(r, a[0], &r)) return false;
          if (r == 0 || r == 1) break;  // 0 and 1 stay themselves
          if (r == -1) {                // -1 alternates
            r = (a[1] - k - 1) % 2 == 0 ? -1 : 1;
            break;
          }
        }
        break;
      }
      case kMin:
        r = *std::min_element(a, a + n);
        break;
      case kMax:
        r = *std::max_element(a, a + n);
        break;
      case kDist:
        if (!checkedSub(a[0], a[1], &r)) return false;
        if (r < 0 && !checkedSub(0, r, &r)) return false;
        break;
      case kLt:
        r = a[0] < a[1];
        break;
      case kLe:
        r = a[0] <= a[1];
        break;
      case kGe:
        r = a[0] >= a[1];
        break;
      case kGt:
        r = a[0] > a[1];
        break;
      case kNe:
        r = a[0] != a[1];
        break;
      case kEq:
        r = std::all_of(a + 1, a + n, [&](std::int64_t v) { return v == a[0]; });
        break;
      case kNot:
        r = a[0] == 0;
        break;
      case kAnd:
        r = std::all_of(a, a + n, [](std::int64_t v) { return v != 0; });
        break;
      case kOr:
        r = std::any_of(a, a + n, [](std::int64_t v) { return v != 0; });
        break;
      case kXor:
        r = std::count_if(a, a + n, [](std::int64_t v) { return v != 0; }) % 2;
        break;
      case kIff:
        r = std::all_of(a + 1, a + n, [&](std::int64_t v) { return (v != 0) == (a[0] != 0); });
        break;
      case kImp:
        r = a[0] == 0 || a[1] != 0;
        break;
      case kIf:
        r = a[0] != 0 ? a[1] : a[2];
        break;
      case kIn:
      case kNotIn:
        r = std::find(a + 1, a + n, a[0]) != a + n;
        if (s.op == kNotIn) r = !r;
        break;
      case kSet:  // folded into in/notin by the parser
        return false;
    }
    stack.resize(stack.size() - n);
    stack.push_back(r);
  }
  *result = stack.back();
  return true;
}

}  // namespace varnel::xcsp3
