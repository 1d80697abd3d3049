// XCSP3 intension expressions in functional notation ("eq(%0,dist(%1,%2))"): parsed into a
// postfix program and evaluated on a stack, so that neither parsing nor evaluation recurses as
// deep as the expression nests. Booleans are the integers 0 and 1.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::xcsp3 {

// One step of a postfix program.
struct ExpressionStep {
  enum Kind : std::uint8_t {
    kConstant,   // pushes `value`
    kVariable,   // pushes the value of scope position `value`
    kParameter,  // a group's %value, bound by bindParameters before evaluation
    kOperator,   // pops `arity` operands, pushes the result of `op`
  };
  Kind kind;
  std::uint8_t op = 0;     // an Operator, for kOperator
  std::int32_t arity = 0;  // operands, for kOperator
  std::int64_t value = 0;
};

// A leaf of an expression as written: a name (a variable's, or a symbolic value's), an integer
// or a group parameter. The reader resolves names: a variable becomes a scope position, a
// symbolic value a constant; false means the name is neither.
struct ExpressionLeaf {
  enum Kind : std::uint8_t { kConstant, kVariable };
  Kind kind;
  std::int64_t value;
};
using NameResolver = std::function<bool(std::string_view name, ExpressionLeaf* leaf)>;

class Expression {
 public:
  // Parses `text`. Names go through `resolve`; %i becomes a parameter. On a mistake returns
  // false with the sentence in `error`.
  bool parse(std::string_view text, const NameResolver& resolve, std::string* error);
  // Replaces each %i by args[i] (a variable's scope position or a constant). False with the
  // sentence in `error` when some i has no argument.
  bool bindParameters(const std::vector<ExpressionLeaf>& args, std::string* error);
  // The highest %i used, or -1.
  std::int32_t highestParameter() const;
  // The value of the expression when scope position k holds values[k]; false when the
  // expression is undefined there (a division or modulo by zero, a negative exponent, an
  // overflow): such an assignment is not allowed.
  bool evaluate(const std::int64_t* values, std::int64_t* result,
                std::vector<std::int64_t>& stack) const;
  // The program, in order: the reader renumbers kVariable steps into its scope.
  const std::vector<ExpressionStep>& steps() const { return steps_; }
  std::vector<ExpressionStep>& steps() { return steps_; }

 private:
  std::vector<ExpressionStep> steps_;
};

}  // namespace varnel::xcsp3
