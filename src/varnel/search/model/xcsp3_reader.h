// Reading XCSP3 files (the XML format of the solver competitions), plain or compressed with xz
// or lzma, into a CspInstance, with what the output needs beside it: the variables' names, the
// symbolic values' names, and the file's own constraints to check a solution against. The
// subset: variables and arrays, extension, intension (turned into tables up to a bound),
// allDifferent (list, lists, matrix) and instantiation, in groups and blocks.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "varnel/search/model/csp_instance.h"
#include "varnel/search/model/instance_io.h"
#include "varnel/search/model/xcsp3_expression.h"

namespace varnel {

// True when this build reads XCSP3 (it was built with expat and liblzma).
bool xcsp3Available();

// True when `head`, the first bytes of a text, start with '<' after an optional byte-order mark
// and blanks.
bool startsWithXml(std::string_view head);
// True when `head`, the first bytes of a file, are XML (after an optional byte-order mark and
// blanks the text starts with '<') or xz data; `name` ending in .lzma or .xz counts too.
bool looksLikeXcsp3(std::string_view head, std::string_view name);

// The file's own constraints and names, kept beside the instance for the output.
class Xcsp3Model {
 public:
  // The name of variable x as the file writes it ("x[1][2]"), variables in declaration order.
  std::string variableName(std::int32_t x) const;
  // `value` of variable x as the file writes it: its symbol for a symbolic variable.
  std::string valueText(std::int32_t x, std::int64_t value) const;
  // The line of the first constraint of the file that `values` (one per variable of the
  // instance) violates, evaluated from the file's own tables, expressions and lists (the line of
  // <variables> for a value outside its declared domain); 0 when every one holds.
  std::int64_t firstViolatedLine(const std::int64_t* values) const;
  // The constraints kept for the check.
  std::size_t checkCount() const { return checks_.size(); }

 private:
  friend class Xcsp3Builder;
  struct Entity {
    std::string name;
    std::vector<std::int32_t> sizes;  // empty for a single variable
    std::vector<std::int32_t> varOf;  // element (row-major) -> variable, or -1: no domain
  };
  // A table as the file writes it: values, kTableStar, or kTableOutside for a value no
  // variable can take; or, for the unary form, closed ranges.
  static constexpr std::int32_t kTableStar = INT32_MIN;
  static constexpr std::int32_t kTableOutside = INT32_MAX;
  struct ValueTable {
    std::int32_t arity = 0;
    std::vector<std::int32_t> entries;
    std::vector<std::int64_t> ranges;  // the unary form: lo, hi pairs
    bool unaryForm = false;
  };
  struct Term {  // a variable or a constant
    bool variable;
    std::int64_t value;
  };
  struct Check {
    enum Kind : std::uint8_t { kSupports, kConflicts, kIntension, kAllDifferent, kLists, kEqual };
    Kind kind;
    std::int64_t line;
    std::vector<Term> terms;                  // tables, instantiation (var, value pairs)
    std::shared_ptr<const ValueTable> table;  // tables
    std::shared_ptr<const xcsp3::Expression> expression;  // bound to variable numbers
    std::int32_t listLength = 0;                          // kLists
  };
  bool holds(const Check& check, const std::int64_t* values,
             std::vector<std::int64_t>& scratch) const;

  std::vector<Entity> entities_;
  std::vector<std::vector<std::int64_t>> domains_;  // as declared, increasing
  std::vector<std::int32_t> domainOf_;              // variable -> its declared domain
  std::int64_t variablesLine_ = 0;                  // the line of <variables>
  std::vector<std::int32_t> entityOf_;              // variable -> entity
  std::vector<std::int32_t> elementOf_;             // variable -> element of its entity
  std::vector<bool> symbolic_;                      // variable -> its values are symbols
  std::vector<std::string> symbols_;                // symbolic value k's name
  std::vector<Check> checks_;
};

struct Xcsp3ReadOptions {
  // An intension is turned into a table by enumerating its scope: beyond this many candidate
  // tuples the file is refused. The file's intensions and unary constraints together may
  // enumerate at most kIntensionTuplesPerFile times as many tuples and values.
  std::int64_t maxIntensionTuples = 1000000;
  static constexpr std::int64_t kIntensionTuplesPerFile = 10;
  // The model a file makes (the instance, one search space over it, and the constraints kept
  // for the solution check, as the memory check counts them) may need this many bytes plus
  // kModelBytesPerXmlByte for each byte of XML read so far; beyond, the file is refused. A short
  // file cannot make gigabytes (a group of many args, compact lists, huge declared domains);
  // a file's own tuples need 2 to 20 bytes per byte of XML.
  std::uint64_t modelAllowance = std::uint64_t(32) << 20;
  static constexpr std::uint64_t kModelBytesPerXmlByte = 64;
  // The search's propagator, as the allowance counts it: Compact-Table or GAC-4R.
  bool compactTable = true;
  // The memory check, as for the text format.
  InstanceShapeCheck check;
};

struct Xcsp3ReadResult {
  CspInstance* instance = nullptr;  // in the calling thread's pools; null on a refusal
  std::unique_ptr<Xcsp3Model> model;
  std::int64_t line = 0;           // the line of the problem
  std::string error;               // what is wrong there, in a sentence
  bool outOfMemory = false;        // the memory check refused: `error` is its line
  bool unsupported = false;        // the file is well formed but outside the subset
  std::int64_t droppedTuples = 0;  // table rows with a value outside its variable's domain
};

// Reads XCSP3 from `in`: XML, or xz/lzma data holding XML.
Xcsp3ReadResult readXcsp3(std::istream& in, const Xcsp3ReadOptions& options);

}  // namespace varnel
