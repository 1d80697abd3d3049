// Reading XCSP3 with expat, a streaming parser: each element's text is taken as it arrives and
// turned at once into domains, tables and lists, so that nothing of the document is kept but
// what the model needs (a table's rows stream straight into a buffer of values). xz and lzma
// files are decompressed by liblzma on the way in. The element stack lives on the heap: no
// recursion grows with the nesting of blocks.
#include "varnel/search/model/xcsp3_reader.h"

#include <expat.h>
#include <lzma.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "varnel/memory/pooled.h"

namespace varnel {

bool xcsp3Available() { return true; }

namespace {

constexpr std::int64_t kLargestDomain = std::int64_t(1) << 24;
// The most variables a file may declare, elements without a domain included: the generator's
// bound too.
constexpr std::int64_t kMostVariables = 10000000;
constexpr std::size_t kLongestToken = 64;
// Decompressed data may exceed this allowance only by this many times the compressed bytes.
constexpr std::uint64_t kBombAllowance = std::uint64_t(64) << 20;
constexpr std::uint64_t kBombRatio = 1000;

enum class El : std::uint8_t {
  kInstance,
  kVariables,
  kVar,
  kArray,
  kDomain,
  kConstraints,
  kExtension,
  kIntension,
  kAllDifferent,
  kInstantiation,
  kGroup,
  kBlock,
  kList,
  kSupports,
  kConflicts,
  kArgs,
  kMatrix,
  kValues,
  kFunction,
  kSkip,
};

struct ElementName {
  const char* name;
  El element;
};
constexpr ElementName kConstraintElements[] = {
    {"extension", El::kExtension},
    {"intension", El::kIntension},
    {"allDifferent", El::kAllDifferent},
    {"instantiation", El::kInstantiation},
    {"group", El::kGroup},
    {"block", El::kBlock},
    {"list", El::kList},
    {"supports", El::kSupports},
    {"conflicts", El::kConflicts},
    {"args", El::kArgs},
    {"matrix", El::kMatrix},
    {"values", El::kValues},
    {"function", El::kFunction},
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool parseInteger(std::string_view text, std::int64_t* out) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && p == text.data() + text.size() && !text.empty();
}

// Splits `text` at blanks.
template <class Visit>
bool forEachToken(std::string_view text, const Visit& visit) {
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isBlank(text[i])) ++i;
    std::size_t end = i;
    while (end < text.size() && !isBlank(text[end])) ++end;
    if (end > i && !visit(text.substr(i, end - i))) return false;
    i = end;
  }
  return true;
}

std::string shown(std::string_view text) { return quotedText(text, 60); }

struct Domain {
  std::vector<std::int64_t> values;  // increasing
  bool symbolic = false;
  // The index of `v`, or -1.
  std::int32_t index(std::int64_t v) const {
    if (values.empty()) return -1;
    if (values.back() - values.front() + 1 == static_cast<std::int64_t>(values.size())) {
      return v >= values.front() && v <= values.back()
                 ? static_cast<std::int32_t>(v - values.front())
                 : -1;
    }
    const auto it = std::lower_bound(values.begin(), values.end(), v);
    return it != values.end() && *it == v ? static_cast<std::int32_t>(it - values.begin()) : -1;
  }
};

}  // namespace

// Builds the instance and its model from expat's events.
class Xcsp3Builder {
 public:
  using Term = Xcsp3Model::Term;
  using ValueTable = Xcsp3Model::ValueTable;
  using Check = Xcsp3Model::Check;

  Xcsp3Builder(XML_Parser parser, const Xcsp3ReadOptions& options, Xcsp3ReadResult& result)
      : parser_(parser), options_(options), result_(result), model_(new Xcsp3Model) {}
  ~Xcsp3Builder() {
    if (instance_ != nullptr) deletePooled(instance_);
  }

  void start(const char* name, const char** attributes);
  void end();
  void characters(const char* s, int length);
  // Stops the parse with `error` at the current line.
  void fail(const std::string& error, bool unsupported = false) {
    if (failed_) return;
    failed_ = true;
    result_.error = error;
    result_.line = line();
    result_.unsupported = unsupported;
    XML_StopParser(parser_, XML_FALSE);
  }
  bool failed() const { return failed_; }
  std::int64_t line() const {
    return static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser_)) + lineOffset_ + textLines_;
  }
  // Lines skipped before the XML began.
  void setLineOffset(std::int64_t lines) { lineOffset_ = lines; }
  // After the last byte: the instance with the unary restrictions applied, into result_.
  void finish();

 private:
  struct Pending {  // the constraint being read
    El kind = El::kSkip;
    std::int64_t line = 0;
    std::string list;
    std::vector<std::string> lists;
    std::string matrix;
    std::string values;
    std::string function;
    bool conflicts = false;
    bool hasChildList = false;
    std::shared_ptr<ValueTable> table;
    std::shared_ptr<xcsp3::Expression> expression;
  };

  static const char* attribute(const char** attributes, const char* key) {
    for (std::size_t i = 0; attributes[i] != nullptr; i += 2) {
      if (std::strcmp(attributes[i], key) == 0) return attributes[i + 1];
    }
    return nullptr;
  }
  void refuse(const std::string& name) {
    std::string message(1, '<');
    message += printableText(name, 40);
    message += "> is not supported (varnel-solve reads extension, intension up to ";
    message += std::to_string(options_.maxIntensionTuples);
    message += " tuples, allDifferent and instantiation)";
    fail(message, true);
  }

  // Declarations.
  void startEntity(const char** attributes, bool array);
  void endEntity();
  bool parseDomain(std::string_view text, bool symbolic, Domain* domain);
  std::int32_t addDomain(Domain&& domain);
  void endVariables();
  bool expandElements(const Xcsp3Model::Entity& entity, std::string_view brackets,
                      std::vector<std::int64_t>& elements, bool* compact);

  // References.
  bool resolve(std::string_view text, const std::vector<Term>* args, std::vector<Term>& out);
  bool resolveToken(std::string_view token, const std::vector<Term>* args,
                    std::int32_t highestParameter, std::vector<Term>& out);
  bool symbolValue(std::string_view name, std::int64_t* value) const {
    const auto it = symbolIndex_.find(std::string(name));
    if (it == symbolIndex_.end()) return false;
    *value = it->second;
    return true;
  }

  // Tuples, fed character by character.
  void startTuples(bool conflicts);
  bool tupleCharacters(const char* s, int length);
  void spillNumber();
  bool endTupleToken();
  bool finishTuples();

  // Constraints.
  void endConstraint(Pending& p, const std::vector<Term>* args);
  void emitExtension(const Pending& p, std::vector<Term>&& terms);
  void emitIntension(const Pending& p, const std::vector<Term>* args);
  void emitAllDifferent(const Pending& p, const std::vector<Term>* args);
  void emitInstantiation(const Pending& p, const std::vector<Term>* args);
  bool variablesOnly(const std::vector<Term>& terms, std::vector<std::int32_t>& vars);
  // Counts an allDifferent over `vars` in the shape; false when it does not fit.
  bool countAllDifferent(const std::vector<std::int32_t>& vars);
  void addTable(ConstraintKind kind, const std::vector<std::int32_t>& scope,
                const std::vector<std::int32_t>& rows);
  // Keeps of x's values only those `allowed` accepts.
  template <class Allowed>
  void restrict(std::int32_t x, const Allowed& allowed);
  std::vector<std::int64_t> currentValues(std::int32_t x) const;
  void rootFalse() { rootFalse_ = true; }
  // Keeps `check` for the solution check, its bytes counted.
  void keep(Check&& check);
  // The memory check and the file's allowance (Xcsp3ReadOptions::modelAllowance) over the model
  // of `shape` and the bytes kept; false, the parse stopped with the reason, when it does not fit.
  bool fits(const InstanceShape& shape);
  // Counts `count` more candidate tuples or values enumerated for the file's intensions and unary
  // constraints; false, the parse stopped, beyond their bound.
  bool enumerate(std::int64_t count);

  XML_Parser parser_;
  const Xcsp3ReadOptions& options_;
  Xcsp3ReadResult& result_;
  std::unique_ptr<Xcsp3Model> model_;
  bool failed_ = false;
  std::int64_t lineOffset_ = 0;
  std::int64_t textLines_ = 0;  // newlines of the current text event before the error

  std::vector<El> stack_;
  std::string text_;  // the current text element's characters
  bool sawInstance_ = false;
  bool variablesDone_ = false;

  // Declarations.
  std::vector<Domain> domains_;
  std::vector<std::int32_t> domainOf_;  // variable -> domain
  std::unordered_map<std::string, std::int32_t> entityByName_;
  std::unordered_map<std::string, std::int64_t> symbolIndex_;
  std::vector<std::int32_t> elementDomain_;  // the array being declared: element -> domain
  bool entitySymbolic_ = false;
  bool entityHasChildDomains_ = false;
  bool entityHasAs_ = false;
  std::string entityAsName_;
  std::vector<std::int64_t> domainFor_;  // elements of the current <domain for>

  // Constraints.
  CspInstance* instance_ = nullptr;
  InstanceShape shape_;
  Pending pending_;
  Pending template_;  // a group's constraint
  bool haveTemplate_ = false;
  std::int32_t groupDepth_ = 0;
  std::unordered_map<std::int32_t, std::vector<char>> allowed_;  // restricted variables
  bool rootFalse_ = false;
  std::vector<std::int64_t> assignment_;  // intension enumeration: values by variable
  std::vector<std::int64_t> stack64_;
  std::uint64_t keptBytes_ = 0;  // the reader's own: declarations, constraints kept for the check
  std::int64_t enumerated_ = 0;  // candidate tuples and values enumerated so far

  // Tuple stream.
  ValueTable* tuples_ = nullptr;
  std::string token_;        // the current entry, unless it is all digits so far
  std::int64_t number_ = 0;  // the digits of the current entry while they are all it holds
  int digits_ = 0;
  bool negative_ = false;
  std::size_t rowStart_ = 0;  // where the current tuple's entries begin
  bool inTuple_ = false;
  bool tokenClosed_ = false;
  int tupleMode_ = 0;  // 0 none yet, 1 (a,b) tuples, 2 the unary form
};

// --- Declarations -----------------------------------------------------------------------------

void Xcsp3Builder::start(const char* rawName, const char** attributes) {
  if (failed_) return;
  text_.clear();
  const std::string_view name(rawName);
  const El top = stack_.empty() ? El::kSkip : stack_.back();
  if (stack_.empty()) {
    if (name != "instance" || sawInstance_) return fail("the document is not an <instance>");
    sawInstance_ = true;
    const char* format = attribute(attributes, "format");
    if (format != nullptr && std::strcmp(format, "XCSP3") != 0) {
      return fail("format " + shown(format) + " is not XCSP3");
    }
    const char* type = attribute(attributes, "type");
    if (type != nullptr && std::strcmp(type, "CSP") != 0 && std::strcmp(type, "COP") != 0) {
      return refuse("instance type=\"" + std::string(type) + "\"");
    }
    stack_.push_back(El::kInstance);
    return;
  }
  if (top == El::kSkip) {
    stack_.push_back(El::kSkip);
    return;
  }
  if (top == El::kInstance) {
    if (name == "variables" && !variablesDone_ && instance_ == nullptr) {
      model_->variablesLine_ = line();
      stack_.push_back(El::kVariables);
    } else if (name == "constraints" && variablesDone_) {
      stack_.push_back(El::kConstraints);
    } else if (name == "annotations") {
      stack_.push_back(El::kSkip);  // search hints: not needed to solve
    } else if (name == "variables" || name == "constraints") {
      fail("<" + std::string(name) + "> out of order");
    } else {
      refuse(std::string(name));
    }
    return;
  }
  if (top == El::kVariables) {
    if (name == "var" || name == "array") {
      stack_.push_back(name == "var" ? El::kVar : El::kArray);
      startEntity(attributes, name == "array");
    } else if (name == "variables" || name == "constraints" || name == "domain") {
      fail("<" + std::string(name) + "> inside <variables>");
    } else {
      refuse(std::string(name));
    }
    return;
  }
  if (top == El::kArray && name == "domain") {
    const char* forText = attribute(attributes, "for");
    if (forText == nullptr) return fail("<domain> without for=");
    entityHasChildDomains_ = true;
    domainFor_.clear();
    const Xcsp3Model::Entity& entity = model_->entities_.back();
    if (std::strcmp(forText, "others") == 0) {
      for (std::size_t k = 0; k < elementDomain_.size(); ++k) {
        if (elementDomain_[k] < 0) domainFor_.push_back(static_cast<std::int64_t>(k));
      }
    } else {
      const bool ok = forEachToken(forText, [&](std::string_view token) {
        const std::size_t bracket = token.find('[');
        if (token.substr(0, bracket) != entity.name || bracket == std::string_view::npos) {
          fail("<domain for=" + shown(token) + "> names another array than " + shown(entity.name));
          return false;
        }
        bool compact = false;
        return expandElements(entity, token.substr(bracket), domainFor_, &compact);
      });
      if (!ok) return;
    }
    stack_.push_back(El::kDomain);
    return;
  }
  if (top == El::kVar || top == El::kArray || top == El::kDomain) {
    return fail("<" + printableText(name, 40) + "> inside a declaration");
  }
  // Constraints.
  El element = El::kSkip;
  for (const ElementName& e : kConstraintElements) {
    if (name == e.name) element = e.element;
  }
  if (element == El::kSkip) return refuse(std::string(name));
  const bool isConstraint = element == El::kExtension || element == El::kIntension ||
                            element == El::kAllDifferent || element == El::kInstantiation;
  if (top == El::kConstraints || top == El::kBlock || top == El::kGroup) {
    if (element == El::kBlock && top != El::kGroup) {
      stack_.push_back(El::kBlock);
      return;
    }
    if (element == El::kGroup && top != El::kGroup) {
      haveTemplate_ = false;
      stack_.push_back(El::kGroup);
      return;
    }
    if (isConstraint && (top != El::kGroup || !haveTemplate_)) {
      pending_ = Pending();
      pending_.kind = element;
      pending_.line = line();
      stack_.push_back(element);
      return;
    }
    if (element == El::kArgs && top == El::kGroup && haveTemplate_) {
      stack_.push_back(El::kArgs);
      return;
    }
    return fail("<" + std::string(name) + "> is out of place here");
  }
  // Children of a constraint.
  const bool allowed =
      (top == El::kExtension &&
       (element == El::kList || element == El::kSupports || element == El::kConflicts)) ||
      (top == El::kIntension && element == El::kFunction) ||
      (top == El::kAllDifferent && (element == El::kList || element == El::kMatrix)) ||
      (top == El::kInstantiation && (element == El::kList || element == El::kValues));
  if (!allowed) return fail("<" + std::string(name) + "> is out of place here");
  if (element == El::kSupports || element == El::kConflicts) {
    if (pending_.table != nullptr) return fail("a second table in one <extension>");
    startTuples(element == El::kConflicts);
  }
  if (element == El::kList) pending_.hasChildList = true;
  stack_.push_back(element);
}

void Xcsp3Builder::characters(const char* s, int length) {
  if (failed_ || stack_.empty()) return;
  const El top = stack_.back();
  if (top == El::kSupports || top == El::kConflicts) {
    textLines_ = 0;
    if (!tupleCharacters(s, length)) return;
    textLines_ = 0;
    return;
  }
  if (top == El::kSkip || top == El::kInstance || top == El::kVariables ||
      top == El::kConstraints || top == El::kBlock || top == El::kGroup) {
    return;  // blanks between elements
  }
  text_.append(s, static_cast<std::size_t>(length));
}

void Xcsp3Builder::startEntity(const char** attributes, bool array) {
  const char* id = attribute(attributes, "id");
  if (id == nullptr || *id == '\0') return fail(array ? "<array> without id" : "<var> without id");
  if (entityByName_.count(id) != 0) return fail(shown(id) + " is declared twice");
  const char* type = attribute(attributes, "type");
  if (type != nullptr && std::strcmp(type, "integer") != 0 && std::strcmp(type, "symbolic") != 0) {
    return refuse(std::string(array ? "array" : "var") + " type=\"" + printableText(type, 20) +
                  "\"");
  }
  entitySymbolic_ = type != nullptr && std::strcmp(type, "symbolic") == 0;
  entityHasChildDomains_ = false;
  const char* as = attribute(attributes, "as");
  entityHasAs_ = as != nullptr;
  entityAsName_ = as != nullptr ? as : "";
  Xcsp3Model::Entity entity;
  entity.name = id;
  std::int64_t elements = 1;
  if (array) {
    const char* size = attribute(attributes, "size");
    if (size == nullptr) return fail("<array> without size=");
    std::string_view rest(size);
    while (!rest.empty()) {
      const std::size_t close = rest.find(']');
      std::int64_t n = 0;
      if (rest[0] != '[' || close == std::string_view::npos ||
          !parseInteger(rest.substr(1, close - 1), &n) || n < 1 || n > kLargestDomain * 8) {
        return fail("size=" + shown(size) + " is not a list of [n] with n from 1 to " +
                    std::to_string(kLargestDomain * 8));
      }
      elements *= n;
      if (elements + static_cast<std::int64_t>(domainOf_.size()) > kMostVariables) {
        return fail("size=" + shown(size) + ": more than " + std::to_string(kMostVariables) +
                    " variables in the file");
      }
      entity.sizes.push_back(static_cast<std::int32_t>(n));
      rest.remove_prefix(close + 1);
    }
    if (entity.sizes.empty()) return fail("size=" + shown(size) + " names no dimension");
  }
  // Each element costs the reader a few words (its domain, its variable, their names) before
  // its domain is known: counted before they are made.
  keptBytes_ += 5 * sizeof(std::int32_t) * static_cast<std::uint64_t>(elements);
  if (!fits(shape_)) return;
  entityByName_.emplace(entity.name, static_cast<std::int32_t>(model_->entities_.size()));
  model_->entities_.push_back(std::move(entity));
  elementDomain_.assign(static_cast<std::size_t>(elements), -1);
}

bool Xcsp3Builder::parseDomain(std::string_view text, bool symbolic, Domain* domain) {
  domain->symbolic = symbolic;
  std::vector<std::int64_t>& values = domain->values;
  std::vector<std::int64_t> ranges;  // lo, hi pairs: counted before they are expanded
  std::int64_t count = 0;
  const bool ok = forEachToken(text, [&](std::string_view token) {
    if (symbolic) {
      const auto [it, added] =
          symbolIndex_.emplace(std::string(token), static_cast<std::int64_t>(symbolIndex_.size()));
      if (added) model_->symbols_.emplace_back(token);
      values.push_back(it->second);
    } else {
      const std::size_t dots = token.find("..");
      std::int64_t lo = 0, hi = 0;
      if (!parseInteger(token.substr(0, dots), &lo) ||
          (dots != std::string_view::npos && !parseInteger(token.substr(dots + 2), &hi))) {
        fail(shown(token) + " is not an integer or a range a..b");
        return false;
      }
      if (dots == std::string_view::npos) hi = lo;
      if (lo < -kLargestInstanceValue || hi > kLargestInstanceValue) {
        fail(shown(token) + " goes beyond the values from " +
             std::to_string(-kLargestInstanceValue) + " to " +
             std::to_string(kLargestInstanceValue));
        return false;
      }
      count += std::max<std::int64_t>(0, hi - lo + 1);
      ranges.push_back(lo);
      ranges.push_back(hi);
    }
    if (std::max(count, static_cast<std::int64_t>(values.size())) > kLargestDomain) {
      fail("a domain of more than " + std::to_string(kLargestDomain) + " values");
      return false;
    }
    return true;
  });
  if (!ok) return false;
  if (!symbolic) {
    // One variable at least will hold the domain: checked before it is built.
    keptBytes_ += sizeof(std::int64_t) * static_cast<std::uint64_t>(count);
    InstanceShape withIt = shape_;
    withIt.addVariables(1, static_cast<std::uint64_t>(count));
    if (!fits(withIt)) return false;
    values.reserve(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < ranges.size(); i += 2) {
      for (std::int64_t v = ranges[i]; v <= ranges[i + 1]; ++v) values.push_back(v);
    }
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  if (values.empty()) {
    fail("an empty domain");
    return false;
  }
  return true;
}

std::int32_t Xcsp3Builder::addDomain(Domain&& domain) {
  domains_.push_back(std::move(domain));
  return static_cast<std::int32_t>(domains_.size() - 1);
}

void Xcsp3Builder::endEntity() {
  const El element = stack_.back();
  Xcsp3Model::Entity& entity = model_->entities_.back();
  if (element == El::kDomain) {
    Domain domain;
    if (!parseDomain(text_, entitySymbolic_, &domain)) return;
    const std::int32_t d = addDomain(std::move(domain));
    for (const std::int64_t k : domainFor_) elementDomain_[static_cast<std::size_t>(k)] = d;
    return;
  }
  if (entityHasAs_) {
    const auto it = entityByName_.find(entityAsName_);
    if (it == entityByName_.end() ||
        it->second + 1 == static_cast<std::int32_t>(model_->entities_.size())) {
      return fail("as=" + shown(entityAsName_) + " names no declared variable or array");
    }
    const Xcsp3Model::Entity& other = model_->entities_[static_cast<std::size_t>(it->second)];
    if (other.sizes != entity.sizes) {
      return fail("as=" + shown(entityAsName_) + " names a declaration of another shape");
    }
    for (std::size_t k = 0; k < elementDomain_.size(); ++k) {
      const std::int32_t x = other.varOf[k];
      elementDomain_[k] = x < 0 ? -1 : domainOf_[static_cast<std::size_t>(x)];
    }
  } else if (!entityHasChildDomains_) {
    Domain domain;
    if (!parseDomain(text_, entitySymbolic_, &domain)) return;
    const std::int32_t d = addDomain(std::move(domain));
    std::fill(elementDomain_.begin(), elementDomain_.end(), d);
  }
  // The memory check as each declaration ends, before its variables are numbered: a short
  // line can declare millions of variables of millions of values.
  std::int32_t first = -1;
  std::uint64_t count = 0;
  for (const std::int32_t d : elementDomain_) {
    if (d >= 0 && d != first && count > 0) {
      shape_.addVariables(count, domains_[static_cast<std::size_t>(first)].values.size());
      count = 0;
    }
    if (d >= 0) {
      first = d;
      ++count;
    }
  }
  if (count > 0)
    shape_.addVariables(count, domains_[static_cast<std::size_t>(first)].values.size());
  if (!fits(shape_)) return;
  entity.varOf.assign(elementDomain_.size(), -1);
  for (std::size_t k = 0; k < elementDomain_.size(); ++k) {
    if (elementDomain_[k] < 0) continue;
    const auto x = static_cast<std::int32_t>(domainOf_.size());
    entity.varOf[k] = x;
    domainOf_.push_back(elementDomain_[k]);
    model_->entityOf_.push_back(static_cast<std::int32_t>(model_->entities_.size() - 1));
    model_->elementOf_.push_back(static_cast<std::int32_t>(k));
    model_->symbolic_.push_back(domains_[static_cast<std::size_t>(elementDomain_[k])].symbolic);
  }
}

void Xcsp3Builder::endVariables() {
  variablesDone_ = true;
  const auto n = static_cast<std::int32_t>(domainOf_.size());
  instance_ = newPooled<CspInstance>(n);
  for (std::int32_t x = 0; x < n; ++x) {
    const Domain& d = domains_[static_cast<std::size_t>(domainOf_[x])];
    instance_->setDomain(x, d.values.data(), static_cast<std::int32_t>(d.values.size()));
  }
  assignment_.assign(static_cast<std::size_t>(n), 0);
}

bool Xcsp3Builder::expandElements(const Xcsp3Model::Entity& entity, std::string_view brackets,
                                  std::vector<std::int64_t>& elements, bool* compact) {
  // Each [..] is "" (every index), "i" or "a..b".
  std::vector<std::int64_t> lo, hi;
  std::string_view rest = brackets;
  while (!rest.empty()) {
    const std::size_t close = rest.find(']');
    if (rest[0] != '[' || close == std::string_view::npos) {
      fail(shown(std::string(entity.name) + std::string(brackets)) + " is not a reference");
      return false;
    }
    const std::string_view inside = rest.substr(1, close - 1);
    const std::size_t d = lo.size();
    if (d >= entity.sizes.size()) break;
    const std::int64_t size = entity.sizes[d];
    std::int64_t a = 0, b = size - 1;
    if (!inside.empty()) {
      const std::size_t dots = inside.find("..");
      if (!parseInteger(inside.substr(0, dots), &a) ||
          (dots != std::string_view::npos && !parseInteger(inside.substr(dots + 2), &b))) {
        fail(shown(std::string(entity.name) + std::string(brackets)) + " is not a reference");
        return false;
      }
      if (dots == std::string_view::npos)
        b = a;
      else
        *compact = true;
    } else {
      *compact = true;
    }
    if (a < 0 || b >= size || a > b) {
      fail(shown(std::string(entity.name) + std::string(brackets)) +
           ": index out of range (dimension " + std::to_string(d) + " has size " +
           std::to_string(size) + ")");
      return false;
    }
    lo.push_back(a);
    hi.push_back(b);
    rest.remove_prefix(close + 1);
  }
  if (lo.size() != entity.sizes.size() || !rest.empty()) {
    fail(shown(std::string(entity.name) + std::string(brackets)) + " does not have " +
         std::to_string(entity.sizes.size()) + " indices");
    return false;
  }
  std::vector<std::int64_t> index = lo;
  while (true) {
    std::int64_t flat = 0;
    for (std::size_t d = 0; d < index.size(); ++d) flat = flat * entity.sizes[d] + index[d];
    elements.push_back(flat);
    std::size_t d = index.size();
    while (d > 0 && index[d - 1] == hi[d - 1]) {
      index[d - 1] = lo[d - 1];
      --d;
    }
    if (d == 0) break;
    ++index[d - 1];
  }
  return true;
}

// --- References --------------------------------------------------------------------------------

bool Xcsp3Builder::resolveToken(std::string_view token, const std::vector<Term>* args,
                                std::int32_t highestParameter, std::vector<Term>& out) {
  if (token[0] == '%') {
    if (args == nullptr) {
      fail(shown(token) + " outside a <group>");
      return false;
    }
    if (token == "%...") {
      for (std::size_t k = static_cast<std::size_t>(highestParameter + 1); k < args->size(); ++k) {
        out.push_back((*args)[k]);
      }
      return true;
    }
    std::int64_t k = 0;
    if (!parseInteger(token.substr(1), &k) || k < 0) {
      fail(shown(token) + " is not a parameter");
      return false;
    }
    if (k >= static_cast<std::int64_t>(args->size())) {
      fail(shown(token) + " but the <args> hold " + std::to_string(args->size()) + " arguments");
      return false;
    }
    out.push_back((*args)[static_cast<std::size_t>(k)]);
    return true;
  }
  std::int64_t value = 0;
  if (parseInteger(token, &value)) {
    out.push_back({false, value});
    return true;
  }
  const std::size_t bracket = token.find('[');
  const auto it = entityByName_.find(std::string(token.substr(0, bracket)));
  if (it == entityByName_.end()) {
    if (bracket == std::string_view::npos && symbolValue(token, &value)) {
      out.push_back({false, value});
      return true;
    }
    fail(shown(token) + " is not declared");
    return false;
  }
  const Xcsp3Model::Entity& entity = model_->entities_[static_cast<std::size_t>(it->second)];
  if (entity.sizes.empty()) {
    if (bracket != std::string_view::npos) {
      fail(shown(token) + ": " + shown(entity.name) + " is not an array");
      return false;
    }
    if (entity.varOf[0] < 0) {
      fail(shown(token) + " has no domain");
      return false;
    }
    out.push_back({true, entity.varOf[0]});
    return true;
  }
  if (bracket == std::string_view::npos) {
    fail(shown(token) + " is an array: name its elements (" + entity.name + "[]...)");
    return false;
  }
  std::vector<std::int64_t> elements;
  bool compact = false;
  if (!expandElements(entity, token.substr(bracket), elements, &compact)) return false;
  for (const std::int64_t k : elements) {
    const std::int32_t x = entity.varOf[static_cast<std::size_t>(k)];
    if (x >= 0) {
      out.push_back({true, x});
    } else if (!compact) {
      fail(shown(token) + " has no domain");
      return false;
    }
  }
  return true;
}

bool Xcsp3Builder::resolve(std::string_view text, const std::vector<Term>* args,
                           std::vector<Term>& out) {
  std::int32_t highest = -1;
  if (args != nullptr) {
    forEachToken(text, [&](std::string_view token) {
      std::int64_t k = 0;
      if (token.size() > 1 && token[0] == '%' && parseInteger(token.substr(1), &k)) {
        highest = std::max<std::int32_t>(
            highest, static_cast<std::int32_t>(std::min<std::int64_t>(k, INT32_MAX - 1)));
      }
      return true;
    });
  }
  return forEachToken(
      text, [&](std::string_view token) { return resolveToken(token, args, highest, out); });
}

bool Xcsp3Builder::variablesOnly(const std::vector<Term>& terms, std::vector<std::int32_t>& vars) {
  for (const Term& t : terms) {
    if (!t.variable) {
      fail("a constant (" + std::to_string(t.value) + ") where a variable is needed");
      return false;
    }
    vars.push_back(static_cast<std::int32_t>(t.value));
  }
  return true;
}

bool Xcsp3Builder::countAllDifferent(const std::vector<std::int32_t>& vars) {
  std::uint64_t buckets = 0;
  for (const std::int32_t x : vars) buckets += static_cast<std::uint64_t>(instance_->domainSize(x));
  shape_.addAllDifferent(1, vars.size(), buckets);
  return fits(shape_);
}

// --- Tuples ------------------------------------------------------------------------------------

void Xcsp3Builder::startTuples(bool conflicts) {
  pending_.conflicts = conflicts;
  pending_.table = std::make_shared<ValueTable>();
  tuples_ = pending_.table.get();
  token_.clear();
  number_ = 0;
  digits_ = 0;
  negative_ = false;
  rowStart_ = 0;
  inTuple_ = false;
  tokenClosed_ = false;
  tupleMode_ = 0;
}

// The entry's digits so far as text, for the general path.
void Xcsp3Builder::spillNumber() {
  if (negative_) token_ += '-';
  if (digits_ > 0) {
    const std::string digits = std::to_string(number_);
    token_.append(static_cast<std::size_t>(digits_) - digits.size(), '0');
    token_ += digits;
  }
  number_ = 0;
  digits_ = 0;
  negative_ = false;
}

bool Xcsp3Builder::endTupleToken() {
  tokenClosed_ = false;
  if (token_.empty() && digits_ > 0) {  // the common entry: an integer
    const std::int64_t v = negative_ ? -number_ : number_;
    number_ = 0;
    digits_ = 0;
    negative_ = false;
    tuples_->entries.push_back(v < -kLargestInstanceValue || v > kLargestInstanceValue
                                   ? Xcsp3Model::kTableOutside
                                   : static_cast<std::int32_t>(v));
    return true;
  }
  spillNumber();
  const std::string_view token(token_);
  if (tupleMode_ == 2) {
    const std::size_t dots = token.find("..");
    std::int64_t lo = 0, hi = 0;
    const bool ok =
        dots == std::string_view::npos
            ? parseInteger(token, &lo) || symbolValue(token, &lo)
            : parseInteger(token.substr(0, dots), &lo) && parseInteger(token.substr(dots + 2), &hi);
    if (!ok) {
      fail(shown(token) + " is not a value or a range a..b");
      return false;
    }
    if (dots == std::string_view::npos) hi = lo;
    tuples_->ranges.push_back(lo);
    tuples_->ranges.push_back(hi);
    token_.clear();
    return true;
  }
  std::int64_t v = 0;
  std::int32_t entry = 0;
  if (token == "*") {
    entry = Xcsp3Model::kTableStar;
  } else if (parseInteger(token, &v) || symbolValue(token, &v)) {
    entry = v < -kLargestInstanceValue || v > kLargestInstanceValue ? Xcsp3Model::kTableOutside
                                                                    : static_cast<std::int32_t>(v);
  } else {
    fail(token.empty() ? std::string("an empty entry in a tuple")
                       : shown(token) + " is not a value of any variable");
    return false;
  }
  tuples_->entries.push_back(entry);
  token_.clear();
  return true;
}

bool Xcsp3Builder::tupleCharacters(const char* s, int length) {
  for (int i = 0; i < length; ++i) {
    const char c = s[i];
    if (c == '\n') ++textLines_;
    if (tupleMode_ != 2 && inTuple_) {
      if (c >= '0' && c <= '9' && token_.empty() && !tokenClosed_ && digits_ < 18) {
        number_ = number_ * 10 + (c - '0');
        ++digits_;
        continue;
      }
      if (c == '-' && token_.empty() && !tokenClosed_ && digits_ == 0 && !negative_) {
        negative_ = true;
        continue;
      }
      if (c == ',' || c == ')') {
        if (token_.empty() && digits_ > 0) {  // the common entry, without a call
          const std::int64_t v = negative_ ? -number_ : number_;
          number_ = 0;
          digits_ = 0;
          negative_ = false;
          tokenClosed_ = false;
          tuples_->entries.push_back(v < -kLargestInstanceValue || v > kLargestInstanceValue
                                         ? Xcsp3Model::kTableOutside
                                         : static_cast<std::int32_t>(v));
        } else if (!endTupleToken()) {
          return false;
        }
        if (c == ')') {
          inTuple_ = false;
          const auto arity = static_cast<std::int32_t>(tuples_->entries.size() - rowStart_);
          if (rowStart_ == 0) tuples_->arity = arity;
          if (arity != tuples_->arity) {
            fail("a tuple of " + std::to_string(arity) + " values after tuples of " +
                 std::to_string(tuples_->arity));
            return false;
          }
          rowStart_ = tuples_->entries.size();
        }
      } else if (isBlank(c)) {
        tokenClosed_ = !token_.empty() || digits_ > 0 || negative_;
      } else if (tokenClosed_ || c == '(' || token_.size() >= kLongestToken) {
        fail("a malformed tuple");
        return false;
      } else {
        spillNumber();
        token_ += c;
      }
      continue;
    }
    if (c == '(' && tupleMode_ != 2) {
      tupleMode_ = 1;
      inTuple_ = true;
      rowStart_ = tuples_->entries.size();
    } else if (isBlank(c)) {
      if (tupleMode_ == 2 && !token_.empty() && !endTupleToken()) return false;
    } else if (tupleMode_ == 1 || c == '(' || c == ')' || c == ',' ||
               token_.size() >= kLongestToken) {
      fail("text between tuples, or tuples mixed with the unary form");
      return false;
    } else {
      tupleMode_ = 2;
      tuples_->unaryForm = true;
      token_ += c;
    }
  }
  return true;
}

bool Xcsp3Builder::finishTuples() {
  if (inTuple_) {
    fail("an unclosed tuple");
    return false;
  }
  if (tupleMode_ == 2 && !token_.empty() && !endTupleToken()) return false;
  keptBytes_ += sizeof(std::int32_t) * tuples_->entries.size() +
                sizeof(std::int64_t) * tuples_->ranges.size();
  tuples_ = nullptr;
  return true;
}

// --- Constraints -------------------------------------------------------------------------------

std::vector<std::int64_t> Xcsp3Builder::currentValues(std::int32_t x) const {
  const Domain& d = domains_[static_cast<std::size_t>(domainOf_[static_cast<std::size_t>(x)])];
  const auto it = allowed_.find(x);
  if (it == allowed_.end()) return d.values;
  std::vector<std::int64_t> values;
  for (std::size_t k = 0; k < d.values.size(); ++k) {
    if (it->second[k]) values.push_back(d.values[k]);
  }
  return values;
}

void Xcsp3Builder::keep(Check&& check) {
  keptBytes_ += sizeof(Check) + sizeof(Term) * check.terms.size();
  if (check.expression != nullptr) {
    keptBytes_ += sizeof(xcsp3::ExpressionStep) * check.expression->steps().size();
  }
  model_->checks_.push_back(std::move(check));
}

bool Xcsp3Builder::fits(const InstanceShape& shape) {
  if (options_.check) {
    const std::string refusal = options_.check(shape);
    if (!refusal.empty()) {
      result_.outOfMemory = true;
      fail(refusal);
      return false;
    }
  }
  InstanceShape searched = shape;
  searched.compactTable = options_.compactTable;
  const ByteCount need = instanceBytes(searched, Measure::resident) +
                         supportMaskBytes(searched, Measure::resident) +
                         spaceBytes(searched, Measure::resident) + keptBytes_;
  const auto xml =
      static_cast<std::uint64_t>(std::max<XML_Index>(0, XML_GetCurrentByteIndex(parser_)));
  const ByteCount allowance =
      ByteCount(options_.modelAllowance) + ByteCount(xml) * Xcsp3ReadOptions::kModelBytesPerXmlByte;
  if (!need.exceeds(allowance)) return true;
  fail("the model would need " + need.toString() + " bytes, more than the " + allowance.toString() +
           " a file may make from " + std::to_string(xml) + " bytes of XML (" +
           std::to_string(options_.modelAllowance >> 20) + " MiB and " +
           std::to_string(Xcsp3ReadOptions::kModelBytesPerXmlByte) +
           " bytes for each byte read; --max-model-mb)",
       true);
  return false;
}

bool Xcsp3Builder::enumerate(std::int64_t count) {
  const std::int64_t bound =
      options_.maxIntensionTuples * Xcsp3ReadOptions::kIntensionTuplesPerFile;
  enumerated_ += count;
  if (enumerated_ <= bound) return true;
  fail("the file's intensions and unary constraints enumerate more than " + std::to_string(bound) +
           " candidate tuples and values together (" +
           std::to_string(Xcsp3ReadOptions::kIntensionTuplesPerFile) +
           " times --max-intension-tuples)",
       true);
  return false;
}

template <class Allowed>
void Xcsp3Builder::restrict(std::int32_t x, const Allowed& allowed) {
  const Domain& d = domains_[static_cast<std::size_t>(domainOf_[static_cast<std::size_t>(x)])];
  if (!enumerate(static_cast<std::int64_t>(d.values.size()))) return;
  std::vector<char>& mask = allowed_[x];
  if (mask.empty()) mask.assign(d.values.size(), 1);
  for (std::size_t k = 0; k < d.values.size(); ++k) {
    if (mask[k] && !allowed(d.values[k])) mask[k] = 0;
  }
}

void Xcsp3Builder::addTable(ConstraintKind kind, const std::vector<std::int32_t>& scope,
                            const std::vector<std::int32_t>& rows) {
  const auto arity = static_cast<std::int32_t>(scope.size());
  const std::uint64_t count = rows.size() / scope.size();
  if (count > static_cast<std::uint64_t>(INT32_MAX)) return fail("a table of too many tuples");
  std::uint64_t buckets = 0;
  for (const std::int32_t x : scope)
    buckets += static_cast<std::uint64_t>(instance_->domainSize(x));
  shape_.addTables(1, static_cast<std::uint64_t>(arity), count, buckets);
  if (!fits(shape_)) return;
  instance_->addTable(kind, scope.data(), arity, rows.data(), static_cast<std::int32_t>(count));
}

void Xcsp3Builder::emitExtension(const Pending& p, std::vector<Term>&& terms) {
  const ValueTable& table = *p.table;
  if (table.unaryForm && terms.size() != 1) {
    return fail("the unary form of a table (values and ranges) over " +
                std::to_string(terms.size()) + " variables");
  }
  if (!table.unaryForm && !table.entries.empty() &&
      static_cast<std::size_t>(table.arity) != terms.size()) {
    return fail("tuples of " + std::to_string(table.arity) + " values over a list of " +
                std::to_string(terms.size()));
  }
  if (terms.empty()) return fail("a table over no variable");
  Check check;
  check.kind = p.conflicts ? Check::kConflicts : Check::kSupports;
  check.line = p.line;
  check.terms = terms;
  check.table = p.table;
  keep(std::move(check));
  const Check& kept = model_->checks_.back();
  // The distinct variables, and for each position its slot or -1 (a constant).
  std::vector<std::int32_t> scope, slot(terms.size(), -1);
  for (std::size_t i = 0; i < terms.size(); ++i) {
    if (!terms[i].variable) continue;
    const auto x = static_cast<std::int32_t>(terms[i].value);
    const auto it = std::find(scope.begin(), scope.end(), x);
    slot[i] = static_cast<std::int32_t>(it - scope.begin());
    if (it == scope.end()) scope.push_back(x);
  }
  if (scope.size() <= 1) {
    // Unary (or constant): the domain keeps the values the file's table allows.
    if (scope.empty()) {
      if (!model_->holds(kept, assignment_.data(), stack64_)) rootFalse();
      return;
    }
    const std::int32_t x = scope[0];
    if (terms.size() == 1 && !table.unaryForm) {
      std::unordered_set<std::int64_t> listed;
      bool star = false;
      for (const std::int32_t e : table.entries) {
        star |= e == Xcsp3Model::kTableStar;
        listed.insert(e);
      }
      const bool supports = !p.conflicts;
      restrict(x, [&](std::int64_t v) { return (star || listed.count(v) != 0) == supports; });
      return;
    }
    restrict(x, [&](std::int64_t v) {
      assignment_[static_cast<std::size_t>(x)] = v;
      return model_->holds(kept, assignment_.data(), stack64_);
    });
    return;
  }
  // Rows of value indices over the distinct variables; a row that no assignment can match (a
  // value outside a domain, a constant or a repeated variable that disagrees) is dropped.
  std::vector<std::int32_t> rows, row(scope.size());
  const std::size_t arity = terms.size();
  if (scope.size() == arity) {
    // The common list: distinct variables, no constant. Contiguous domains map by subtraction.
    struct Column {
      const Domain* domain;
      std::int64_t lo;
      std::uint64_t size;  // 0 unless the domain is a range lo..lo+size-1
    };
    std::vector<Column> column(arity);
    for (std::size_t i = 0; i < arity; ++i) {
      const Domain& d =
          domains_[static_cast<std::size_t>(domainOf_[static_cast<std::size_t>(scope[i])])];
      const bool range =
          d.values.back() - d.values.front() + 1 == static_cast<std::int64_t>(d.values.size());
      column[i] = {&d, d.values.front(), range ? d.values.size() : 0};
    }
    rows.reserve(table.entries.size());
    for (std::size_t r = 0; r < table.entries.size(); r += arity) {
      const std::size_t at = rows.size();
      bool keep = true;
      for (std::size_t i = 0; i < arity && keep; ++i) {
        const std::int32_t e = table.entries[r + i];
        if (e == Xcsp3Model::kTableStar) {
          rows.push_back(kStar);
          continue;
        }
        const Column& col = column[i];
        const std::uint64_t offset = static_cast<std::uint64_t>(e - col.lo);
        const std::int32_t k = col.size > 0
                                   ? (offset < col.size ? static_cast<std::int32_t>(offset) : -1)
                               : e == Xcsp3Model::kTableOutside ? -1
                                                                : col.domain->index(e);
        keep = k >= 0;
        rows.push_back(k);
      }
      if (!keep) {
        rows.resize(at);
        ++result_.droppedTuples;
      }
    }
    return addTable(p.conflicts ? ConstraintKind::kConflicts : ConstraintKind::kSupports, scope,
                    rows);
  }
  for (std::size_t r = 0; r < table.entries.size(); r += arity) {
    std::fill(row.begin(), row.end(), kStar);
    bool keep = true;
    bool outside = false;
    for (std::size_t i = 0; i < arity && keep; ++i) {
      const std::int32_t e = table.entries[r + i];
      if (e == Xcsp3Model::kTableStar) continue;
      if (slot[i] < 0) {
        keep = e == terms[i].value;
        continue;
      }
      const std::int32_t x = scope[static_cast<std::size_t>(slot[i])];
      const std::int32_t k =
          e == Xcsp3Model::kTableOutside
              ? -1
              : domains_[static_cast<std::size_t>(domainOf_[static_cast<std::size_t>(x)])].index(e);
      std::int32_t& entry = row[static_cast<std::size_t>(slot[i])];
      outside = outside || k < 0;
      keep = k >= 0 && (entry == kStar || entry == k);
      entry = k;
    }
    if (keep) {
      rows.insert(rows.end(), row.begin(), row.end());
    } else if (outside) {
      ++result_.droppedTuples;
    }
  }
  addTable(p.conflicts ? ConstraintKind::kConflicts : ConstraintKind::kSupports, scope, rows);
}

void Xcsp3Builder::emitIntension(const Pending& p, const std::vector<Term>* args) {
  auto expression = std::make_shared<xcsp3::Expression>(*p.expression);
  if (args != nullptr) {
    std::vector<xcsp3::ExpressionLeaf> leaves;
    for (const Term& t : *args) {
      leaves.push_back(
          {t.variable ? xcsp3::ExpressionLeaf::kVariable : xcsp3::ExpressionLeaf::kConstant,
           t.value});
    }
    std::string error;
    if (!expression->bindParameters(leaves, &error)) return fail(error);
  } else if (expression->highestParameter() >= 0) {
    return fail("a %i parameter outside a <group>");
  }
  Check check;
  check.kind = Check::kIntension;
  check.line = p.line;
  check.expression = expression;
  keep(std::move(check));
  const Check& kept = model_->checks_.back();
  std::vector<std::int32_t> scope;
  for (const xcsp3::ExpressionStep& s : expression->steps()) {
    if (s.kind == xcsp3::ExpressionStep::kVariable &&
        std::find(scope.begin(), scope.end(), s.value) == scope.end()) {
      scope.push_back(static_cast<std::int32_t>(s.value));
    }
  }
  if (scope.empty()) {
    if (!model_->holds(kept, assignment_.data(), stack64_)) rootFalse();
    return;
  }
  if (scope.size() == 1) {
    const std::int32_t x = scope[0];
    restrict(x, [&](std::int64_t v) {
      assignment_[static_cast<std::size_t>(x)] = v;
      return model_->holds(kept, assignment_.data(), stack64_);
    });
    return;
  }
  std::vector<std::vector<std::int64_t>> values;
  std::int64_t candidates = 1;
  for (const std::int32_t x : scope) {
    values.push_back(currentValues(x));
    const auto n = static_cast<std::int64_t>(values.back().size());
    candidates = n == 0 || candidates > options_.maxIntensionTuples / n
                     ? (n == 0 ? 0 : options_.maxIntensionTuples + 1)
                     : candidates * n;
    if (candidates == 0) break;
  }
  if (candidates > options_.maxIntensionTuples) {
    result_.unsupported = true;
    return fail("<intension> over " + std::to_string(scope.size()) + " variables has more than " +
                    std::to_string(options_.maxIntensionTuples) +
                    " candidate tuples (--max-intension-tuples)",
                true);
  }
  if (!enumerate(candidates)) return;
  std::vector<std::int32_t> rows;
  if (candidates > 0) {
    // Odometer over the current values; each allowed combination becomes a row of indices.
    std::vector<std::size_t> at(scope.size(), 0);
    std::vector<std::int32_t> row(scope.size());
    for (std::size_t i = 0; i < scope.size(); ++i) {
      assignment_[static_cast<std::size_t>(scope[i])] = values[i][0];
    }
    while (true) {
      std::int64_t result = 0;
      if (expression->evaluate(assignment_.data(), &result, stack64_) && result != 0) {
        for (std::size_t i = 0; i < scope.size(); ++i) {
          const std::int32_t x = scope[i];
          row[i] = domains_[static_cast<std::size_t>(domainOf_[static_cast<std::size_t>(x)])].index(
              values[i][at[i]]);
        }
        rows.insert(rows.end(), row.begin(), row.end());
      }
      std::size_t i = scope.size();
      while (i > 0 && at[i - 1] + 1 == values[i - 1].size()) {
        at[i - 1] = 0;
        assignment_[static_cast<std::size_t>(scope[i - 1])] = values[i - 1][0];
        --i;
      }
      if (i == 0) break;
      ++at[i - 1];
      assignment_[static_cast<std::size_t>(scope[i - 1])] = values[i - 1][at[i - 1]];
    }
  }
  addTable(ConstraintKind::kSupports, scope, rows);
}

void Xcsp3Builder::emitAllDifferent(const Pending& p, const std::vector<Term>* args) {
  const auto addList = [&](const std::vector<Term>& terms) {
    std::vector<std::int32_t> vars;
    if (!variablesOnly(terms, vars)) return;
    Check check;
    check.kind = Check::kAllDifferent;
    check.line = p.line;
    check.terms = terms;
    keep(std::move(check));
    std::vector<std::int32_t> sorted = vars;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
      rootFalse();  // a variable twice in one list differs from itself
      return;
    }
    if (vars.size() >= 2 && countAllDifferent(vars)) {
      instance_->addAllDifferent(vars.data(), static_cast<std::int32_t>(vars.size()), 1);
    }
  };
  if (!p.matrix.empty()) {
    // Rows as (a,b,c)(d,e,f), or one compact reference of two open dimensions such as x[][].
    std::vector<std::vector<Term>> rows;
    std::string_view text(p.matrix);
    if (text.find('(') != std::string_view::npos) {
      std::size_t i = 0;
      while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) ++i;
        if (i == text.size()) break;
        const std::size_t close = text.find(')', i);
        if (text[i] != '(' || close == std::string_view::npos) return fail("a malformed <matrix>");
        std::string inside(text.substr(i + 1, close - i - 1));
        std::replace(inside.begin(), inside.end(), ',', ' ');
        rows.emplace_back();
        if (!resolve(inside, args, rows.back())) return;
        i = close + 1;
      }
    } else {
      std::vector<Term> all;
      if (!resolve(text, args, all)) return;
      std::string_view token = text;
      while (!token.empty() && isBlank(token.front())) token.remove_prefix(1);
      while (!token.empty() && isBlank(token.back())) token.remove_suffix(1);
      const auto it = entityByName_.find(std::string(token.substr(0, token.find('['))));
      if (it == entityByName_.end() || token.find(' ') != std::string_view::npos) {
        return fail("<matrix> needs rows (a,b)(c,d) or one reference such as x[][]");
      }
      // The first open dimension's length is the number of rows.
      const Xcsp3Model::Entity& e = model_->entities_[static_cast<std::size_t>(it->second)];
      std::size_t d = 0, open = 0, rowsCount = 0;
      for (std::size_t at = token.find('['); at != std::string_view::npos && d < e.sizes.size();
           at = token.find('[', at + 1), ++d) {
        const std::size_t close = token.find(']', at);
        const std::string_view inside = token.substr(at + 1, close - at - 1);
        if (inside.empty() || inside.find("..") != std::string_view::npos) {
          if (open++ == 0) {
            std::int64_t a = 0, b = e.sizes[d] - 1;
            const std::size_t dots = inside.find("..");
            if (!inside.empty()) {
              parseInteger(inside.substr(0, dots), &a);
              parseInteger(inside.substr(dots + 2), &b);
            }
            rowsCount = static_cast<std::size_t>(b - a + 1);
          }
        }
      }
      if (open != 2 || all.size() % rowsCount != 0) {
        return fail("<matrix> needs a reference of two open dimensions, such as x[][]");
      }
      const std::size_t columns = all.size() / rowsCount;
      for (std::size_t r = 0; r < rowsCount; ++r) {
        rows.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(r * columns),
                          all.begin() + static_cast<std::ptrdiff_t>((r + 1) * columns));
      }
    }
    for (const auto& row : rows) {
      if (row.size() != rows[0].size()) return fail("<matrix> rows of different lengths");
    }
    for (const auto& row : rows) {
      addList(row);
      if (failed_) return;
    }
    for (std::size_t c = 0; !rows.empty() && c < rows[0].size(); ++c) {
      std::vector<Term> column;
      for (const auto& row : rows) column.push_back(row[c]);
      addList(column);
      if (failed_) return;
    }
    return;
  }
  if (p.lists.size() >= 2) {
    std::vector<Term> all;
    std::size_t length = 0;
    for (const std::string& text : p.lists) {
      const std::size_t before = all.size();
      if (!resolve(text, args, all)) return;
      if (text.data() != p.lists[0].data() && all.size() - before != length) {
        return fail("<allDifferent> lists of different lengths");
      }
      length = all.size() - before;
    }
    std::vector<std::int32_t> vars;
    if (!variablesOnly(all, vars)) return;
    if (length == 0) return fail("<allDifferent> over empty lists");
    Check check;
    check.kind = Check::kLists;
    check.line = p.line;
    check.terms = all;
    check.listLength = static_cast<std::int32_t>(length);
    keep(std::move(check));
    if (!countAllDifferent(vars)) return;
    instance_->addAllDifferent(vars.data(), static_cast<std::int32_t>(length),
                               static_cast<std::int32_t>(p.lists.size()));
    return;
  }
  std::vector<Term> terms;
  if (!resolve(p.lists.empty() ? p.list : p.lists[0], args, terms)) return;
  addList(terms);
}

void Xcsp3Builder::emitInstantiation(const Pending& p, const std::vector<Term>* args) {
  std::vector<Term> terms, values;
  if (!resolve(p.list, args, terms) || !resolve(p.values, args, values)) return;
  if (terms.size() != values.size()) {
    return fail("<instantiation> of " + std::to_string(terms.size()) + " variables with " +
                std::to_string(values.size()) + " values");
  }
  Check check;
  check.kind = Check::kEqual;
  check.line = p.line;
  for (std::size_t i = 0; i < terms.size(); ++i) {
    if (!terms[i].variable || values[i].variable) {
      return fail("<instantiation> needs variables in <list> and values in <values>");
    }
    check.terms.push_back(terms[i]);
    check.terms.push_back(values[i]);
    const std::int64_t value = values[i].value;
    restrict(static_cast<std::int32_t>(terms[i].value), [&](std::int64_t v) { return v == value; });
  }
  keep(std::move(check));
}

void Xcsp3Builder::endConstraint(Pending& p, const std::vector<Term>* args) {
  switch (p.kind) {
    case El::kExtension: {
      if (p.table == nullptr) return fail("<extension> without <supports> or <conflicts>");
      std::vector<Term> terms;
      if (!resolve(p.list, args, terms)) return;
      return emitExtension(p, std::move(terms));
    }
    case El::kIntension:
      return emitIntension(p, args);
    case El::kAllDifferent:
      return emitAllDifferent(p, args);
    case El::kInstantiation:
      return emitInstantiation(p, args);
    default:
      return;
  }
}

void Xcsp3Builder::end() {
  if (failed_) return;
  const El element = stack_.back();
  switch (element) {
    case El::kVar:
    case El::kArray:
    case El::kDomain:
      endEntity();
      break;
    case El::kVariables:
      endVariables();
      break;
    case El::kList:
      if (stack_[stack_.size() - 2] == El::kAllDifferent) {
        pending_.lists.push_back(text_);
      } else {
        pending_.list = text_;
      }
      break;
    case El::kMatrix:
      pending_.matrix = text_;
      break;
    case El::kValues:
      pending_.values = text_;
      break;
    case El::kFunction:
      pending_.function = text_;
      break;
    case El::kSupports:
    case El::kConflicts:
      finishTuples();
      break;
    case El::kExtension:
    case El::kIntension:
    case El::kAllDifferent:
    case El::kInstantiation: {
      if (!pending_.hasChildList && element != El::kExtension && element != El::kIntension) {
        pending_.list = text_;
      }
      if (element == El::kIntension) {
        const std::string& text = pending_.function.empty() ? text_ : pending_.function;
        pending_.expression = std::make_shared<xcsp3::Expression>();
        std::string error;
        const auto resolveName = [&](std::string_view name, xcsp3::ExpressionLeaf* leaf) {
          std::vector<Term> out;
          std::int64_t value = 0;
          if (symbolValue(name, &value) && entityByName_.count(std::string(name)) == 0) {
            *leaf = {xcsp3::ExpressionLeaf::kConstant, value};
            return true;
          }
          if (!resolveToken(name, nullptr, -1, out) || out.size() != 1) return false;
          *leaf = {
              out[0].variable ? xcsp3::ExpressionLeaf::kVariable : xcsp3::ExpressionLeaf::kConstant,
              out[0].value};
          return true;
        };
        if (!pending_.expression->parse(text, resolveName, &error)) {
          if (failed_)
            result_.error = "intension: " + result_.error;
          else
            fail(error);
          break;
        }
      }
      if (stack_[stack_.size() - 2] == El::kGroup) {
        template_ = std::move(pending_);
        haveTemplate_ = true;
      } else {
        endConstraint(pending_, nullptr);
      }
      pending_ = Pending();
      break;
    }
    case El::kArgs: {
      std::vector<Term> args;
      if (!resolve(text_, nullptr, args)) break;
      endConstraint(template_, &args);
      break;
    }
    case El::kGroup:
      if (!haveTemplate_) fail("a <group> without a constraint");
      haveTemplate_ = false;
      break;
    default:
      break;
  }
  text_.clear();
  stack_.pop_back();
}

void Xcsp3Builder::finish() {
  if (failed_) return;
  if (!sawInstance_ || !stack_.empty()) return fail("the document ends inside <instance>");
  if (instance_ == nullptr) return fail("an <instance> without <variables>");
  const std::int32_t n = instance_->varCount();
  if (rootFalse_ && n == 0) return fail("a constraint over no variable that is false");
  if (!allowed_.empty() || rootFalse_) {
    // The unary restrictions, in place: the domains lose the values they exclude, and the
    // tables over those variables follow (the others are not copied). A variable left without
    // a value keeps its domain under an empty table, which the search fails at the root; those
    // tables come in variable order, whatever order the map keeps.
    std::vector<std::vector<std::int32_t>> remap(static_cast<std::size_t>(n));
    std::vector<const std::int32_t*> renumber(static_cast<std::size_t>(n), nullptr);
    std::vector<std::int32_t> emptied;
    if (rootFalse_) emptied.push_back(0);
    for (const auto& [x, allowed] : allowed_) {
      std::vector<std::int32_t>& to = remap[static_cast<std::size_t>(x)];
      std::int32_t kept = 0;
      for (std::int32_t k = 0; k < instance_->domainSize(x); ++k)
        to.push_back(allowed[static_cast<std::size_t>(k)] ? kept++ : -1);
      if (kept == 0) {
        emptied.push_back(x);
      } else if (kept < instance_->domainSize(x)) {
        renumber[static_cast<std::size_t>(x)] = to.data();
      }
    }
    instance_->keepValues(renumber.data());
    std::sort(emptied.begin(), emptied.end());
    for (const std::int32_t x : emptied)
      instance_->addTable(ConstraintKind::kSupports, &x, 1, nullptr, 0);
  }
  result_.instance = instance_;
  instance_ = nullptr;
  for (Domain& d : domains_) model_->domains_.push_back(std::move(d.values));
  model_->domainOf_ = std::move(domainOf_);
  result_.model = std::move(model_);
}

// --- Expat and liblzma ---------------------------------------------------------------------------

namespace {

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  static_cast<Xcsp3Builder*>(data)->start(name, attributes);
}
void XMLCALL onEnd(void* data, const XML_Char*) { static_cast<Xcsp3Builder*>(data)->end(); }
void XMLCALL onCharacters(void* data, const XML_Char* s, int length) {
  static_cast<Xcsp3Builder*>(data)->characters(s, length);
}
void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  static_cast<Xcsp3Builder*>(data)->fail(
      "a <!DOCTYPE> declaration: XCSP3 files have none, and entities are refused");
}
void XMLCALL onEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                      const XML_Char*, const XML_Char*, const XML_Char*) {
  static_cast<Xcsp3Builder*>(data)->fail("an entity declaration: entities are refused");
}

// Hands the parser the bytes of the document, the byte-order mark and leading blanks skipped
// (the line count keeps them).
class Feeder {
 public:
  Feeder(XML_Parser parser, Xcsp3Builder& builder) : parser_(parser), builder_(builder) {}
  // False once the parse has stopped.
  bool feed(const char* data, std::size_t size, bool last) {
    if (!started_) {
      std::size_t i = 0;
      if (!sawBom_ && size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) i = 3;
      sawBom_ = true;
      while (i < size && isBlank(data[i])) {
        if (data[i] == '\n') ++skippedLines_;
        ++i;
      }
      data += i;
      size -= i;
      started_ = size > 0;
      builder_.setLineOffset(skippedLines_);
      if (!started_ && !last) return true;
    }
    while (size > 0 || last) {
      const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
      size -= static_cast<std::size_t>(chunk);
      const bool final = last && size == 0;
      if (XML_Parse(parser_, data, chunk, final ? 1 : 0) == XML_STATUS_ERROR) {
        if (!builder_.failed()) {
          builder_.fail(std::string("malformed XML: ") +
                        XML_ErrorString(XML_GetErrorCode(parser_)));
        }
        return false;
      }
      data += chunk;
      if (final) break;
    }
    return true;
  }

 private:
  XML_Parser parser_;
  Xcsp3Builder& builder_;
  bool started_ = false;
  bool sawBom_ = false;
  std::int64_t skippedLines_ = 0;
};

// liblzma's decoder over a stream of xz or lzma data, one buffer of XML at a time. A step that
// cannot go on says why in the reader's words; the bytes it returns with that reason are those
// decoded before it.
class LzmaDecoder {
 public:
  // `input` holds the first `got` bytes of the data, already read from `source`; the decoder
  // reads the rest into it.
  LzmaDecoder(std::streambuf* source, char* input, std::size_t capacity, std::size_t got)
      : source_(source), input_(input), capacity_(capacity), got_(got) {
    // The decoder's memory is set by the data's header (the dictionary size): bounded, so that
    // a few hostile bytes cannot ask for gigabytes. xz -9 files need 65 MiB to decode.
    if (lzma_auto_decoder(&stream_, kDecoderMemory, 0) != LZMA_OK) {
      error_ = "liblzma refused to start a decoder";
    }
    stream_.next_in = reinterpret_cast<const std::uint8_t*>(input_);
    stream_.avail_in = got_;
  }
  ~LzmaDecoder() { lzma_end(&stream_); }
  LzmaDecoder(const LzmaDecoder&) = delete;
  LzmaDecoder& operator=(const LzmaDecoder&) = delete;

  // Decodes into `out` until `size` bytes are there or the data ends; returns how many.
  std::size_t fill(char* out, std::size_t size);
  // True once the data has ended or failed: fill gives nothing more.
  bool ended() const { return finished_ || !error_.empty(); }
  // Why the data cannot be decoded to its end; empty while it can.
  const std::string& error() const { return error_; }

 private:
  static constexpr std::uint64_t kDecoderMemory = std::uint64_t(256) << 20;
  // The bomb check runs after each step of at most this many bytes.
  static constexpr std::size_t kStep = std::size_t(1) << 18;

  std::streambuf* source_;
  char* input_;
  std::size_t capacity_;
  std::size_t got_;
  lzma_stream stream_ = LZMA_STREAM_INIT;
  bool finished_ = false;
  std::string error_;
};

std::size_t LzmaDecoder::fill(char* out, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size && !ended()) {
    if (stream_.avail_in == 0) {
      got_ = source_ == nullptr ? std::size_t(0)
                                : static_cast<std::size_t>(source_->sgetn(
                                      input_, static_cast<std::streamsize>(capacity_)));
      stream_.next_in = reinterpret_cast<const std::uint8_t*>(input_);
      stream_.avail_in = got_;
    }
    const std::size_t room = std::min(size - filled, kStep);
    stream_.next_out = reinterpret_cast<std::uint8_t*>(out + filled);
    stream_.avail_out = room;
    const lzma_ret ret = lzma_code(&stream_, stream_.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
    const std::size_t produced = room - stream_.avail_out;
    filled += produced;
    // A small file that expands without end keeps the parser busy for nothing: real files
    // shrink 5 to 50 times, a decompression bomb thousands of times.
    if (stream_.total_out > kBombAllowance + kBombRatio * stream_.total_in) {
      error_ = "the compressed data expands more than " + std::to_string(kBombRatio) +
               "-fold: refused as a decompression bomb";
    } else if (ret == LZMA_STREAM_END) {
      finished_ = true;
    } else if (ret == LZMA_BUF_ERROR ||
               (ret == LZMA_OK && stream_.avail_in == 0 && got_ == 0 && produced == 0)) {
      error_ = "the compressed data is truncated";
    } else if (ret == LZMA_FORMAT_ERROR) {
      error_ = "neither XML nor xz or lzma data";
    } else if (ret == LZMA_DATA_ERROR || ret == LZMA_OPTIONS_ERROR) {
      error_ = "the compressed data is corrupt";
    } else if (ret == LZMA_MEMLIMIT_ERROR) {
      error_ = "the compressed data asks for more than " + std::to_string(kDecoderMemory >> 20) +
               " MiB to decode";
    } else if (ret == LZMA_MEM_ERROR) {
      error_ = "no memory to decompress";
    } else if (ret != LZMA_OK) {
      error_ = "the compressed data cannot be decoded";
    }
  }
  return filled;
}

// Runs a decoder on a second thread that fills a ring of buffers while the calling thread
// parses them: liblzma alone costs more CPU than expat, and the two overlap. The thread uses
// no pools of the library (liblzma and the ring allocate with malloc), and it is joined by the
// destructor on every path, a parse that stops early included.
class DecoderThread {
 public:
  // Starts the thread; throws std::system_error when none can be started.
  explicit DecoderThread(LzmaDecoder& decoder);
  // Stops the decoder at its next buffer and joins it.
  ~DecoderThread();
  DecoderThread(const DecoderThread&) = delete;
  DecoderThread& operator=(const DecoderThread&) = delete;

  // The next buffer of XML in order; false once the decoder has ended and every buffer has been
  // taken (then the decoder's error() says whether it failed).
  bool next(const char** data, std::size_t* size);
  // Hands back the buffer next() gave, to be filled again.
  void release();

 private:
  static constexpr int kRing = 4;
  static constexpr std::size_t kBuffer = std::size_t(1) << 20;
  void run();

  LzmaDecoder& decoder_;
  std::unique_ptr<char[]> buffers_[kRing];
  std::size_t sizes_[kRing] = {};
  std::mutex mutex_;
  std::condition_variable filledOne_;  // the parser waits on it
  std::condition_variable freedOne_;   // the decoder waits on it
  int filled_ = 0;                     // buffers holding XML not yet released
  int head_ = 0;                       // the next buffer the decoder fills
  int tail_ = 0;                       // the next buffer the parser takes
  bool ended_ = false;
  bool stop_ = false;
  std::thread thread_;  // last: started once everything above exists
};

DecoderThread::DecoderThread(LzmaDecoder& decoder) : decoder_(decoder) {
  // Not value-initialised: only the pages the decoder writes are touched.
  for (auto& buffer : buffers_) buffer.reset(new char[kBuffer]);
  thread_ = std::thread([this] { run(); });
}

DecoderThread::~DecoderThread() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  freedOne_.notify_one();
  thread_.join();
}

void DecoderThread::run() {
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      freedOne_.wait(lock, [&] { return stop_ || filled_ < kRing; });
      if (stop_) return;
    }
    // The buffer at head_ is the decoder's alone until it is counted in filled_.
    const std::size_t size = decoder_.fill(buffers_[head_].get(), kBuffer);
    const bool ended = decoder_.ended();
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (size > 0) {
        sizes_[head_] = size;
        head_ = (head_ + 1) % kRing;
        ++filled_;
      }
      ended_ = ended;
    }
    filledOne_.notify_one();
    if (ended) return;
  }
}

bool DecoderThread::next(const char** data, std::size_t* size) {
  std::unique_lock<std::mutex> lock(mutex_);
  filledOne_.wait(lock, [&] { return filled_ > 0 || ended_; });
  if (filled_ == 0) return false;
  *data = buffers_[tail_].get();
  *size = sizes_[tail_];
  return true;
}

void DecoderThread::release() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    tail_ = (tail_ + 1) % kRing;
    --filled_;
  }
  freedOne_.notify_one();
}

// Decodes and parses: the first megabyte on the calling thread, the rest, if there is more, on
// a decoder thread beside the parser (a file of less XML than that never starts one). False
// once the parse has stopped; a decoding error is the builder's failure.
bool decodeAndParse(LzmaDecoder& decoder, Feeder& feeder, Xcsp3Builder& builder) {
  constexpr std::size_t kFirst = std::size_t(1) << 20;
  const std::unique_ptr<char[]> first(new char[kFirst]);
  const auto decodeHere = [&] {
    const std::size_t size = decoder.fill(first.get(), kFirst);
    return size == 0 || feeder.feed(first.get(), size, false);
  };
  bool going = decodeHere();
  if (going && !decoder.ended()) {
    std::optional<DecoderThread> helper;
    try {
      helper.emplace(decoder);
    } catch (const std::system_error&) {  // no thread to be had: decode here
    }
    if (helper) {
      const char* data = nullptr;
      std::size_t size = 0;
      while (going && helper->next(&data, &size)) {
        going = feeder.feed(data, size, false);
        helper->release();
      }
      helper.reset();  // joined: the decoder's state is read below
    } else {
      while (going && !decoder.ended()) going = decodeHere();
    }
  }
  if (!going) return false;
  if (!decoder.error().empty()) {
    builder.fail(decoder.error());
    return false;
  }
  return feeder.feed(nullptr, 0, true);
}

}  // namespace

Xcsp3ReadResult readXcsp3(std::istream& in, const Xcsp3ReadOptions& options) {
  Xcsp3ReadResult result;
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) {
    result.error = "no memory for the XML parser";
    result.outOfMemory = true;
    return result;
  }
  {
    Xcsp3Builder builder(parser, options, result);
    XML_SetUserData(parser, &builder);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onCharacters);
    XML_SetStartDoctypeDeclHandler(parser, onDoctype);
    XML_SetEntityDeclHandler(parser, onEntity);
    Feeder feeder(parser, builder);
    constexpr std::size_t kChunk = std::size_t(1) << 18;
    // Left unwritten: a small file touches only the pages it fills.
    const std::unique_ptr<char[]> input = std::make_unique_for_overwrite<char[]>(kChunk);
    std::streambuf* source = in.rdbuf();
    const auto readSome = [&](char* to, std::size_t size) {
      return source == nullptr
                 ? std::size_t(0)
                 : static_cast<std::size_t>(source->sgetn(to, static_cast<std::streamsize>(size)));
    };
    std::size_t got = readSome(input.get(), kChunk);
    const std::string_view head(input.get(), got);
    if (got == 0 || startsWithXml(head)) {
      bool going = true;
      while (going && got > 0) {
        going = feeder.feed(input.get(), got, false);
        got = going ? readSome(input.get(), kChunk) : 0;
      }
      if (going) feeder.feed(nullptr, 0, true);
    } else {
      LzmaDecoder decoder(source, input.get(), kChunk, got);
      decodeAndParse(decoder, feeder, builder);
    }
    builder.finish();
  }
  XML_ParserFree(parser);
  if (result.line == 0) result.line = 1;
  return result;
}

}  // namespace varnel
