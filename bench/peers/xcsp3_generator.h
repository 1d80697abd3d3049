// Random XCSP3 documents inside the subset varnel-solve reads, each with what its constraints
// mean kept beside the text as plain C++ over the variables' values, so that a reader can be
// counted against the file: every assignment of the declared domains is either allowed by every
// meaning or not. Small enough to enumerate (6 to 10 variables, at most 50,000 assignments).
// Used by gecode_solve --check-xcsp3 and by the reader's round-trip test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varnel::xcsp3gen {

using Assignment = std::vector<std::int64_t>;  // one value per variable, in declaration order

// One constraint of the document as the generator means it.
struct Meaning {
  std::string what;  // the element and its place, for messages
  std::function<bool(const Assignment&)> holds;
};

struct GeneratedXcsp3 {
  std::string xml;
  std::vector<std::vector<std::int64_t>> domains;  // declared values, increasing (symbols: numbers)
  std::vector<std::string> names;                  // each variable as the file names it
  std::vector<Meaning> constraints;
  std::map<std::string, int> constructs;  // what the document uses, with how often

  // Calls visit(values) on every assignment of the declared domains.
  template <class Visit>
  void forEachAssignment(const Visit& visit) const;
  // The first constraint that `values` violates, or -1.
  int firstViolated(const Assignment& values) const {
    for (std::size_t c = 0; c < constraints.size(); ++c) {
      if (!constraints[c].holds(values)) return static_cast<int>(c);
    }
    return -1;
  }
  std::uint64_t countSolutions() const {
    std::uint64_t count = 0;
    forEachAssignment([&](const Assignment& a) { count += firstViolated(a) < 0; });
    return count;
  }
};

// The document of `seed`: the same seed gives the same text on every machine.
GeneratedXcsp3 generateXcsp3(std::uint32_t seed);

// --- Implementation ----------------------------------------------------------------------------

template <class Visit>
void GeneratedXcsp3::forEachAssignment(const Visit& visit) const {
  const std::size_t n = domains.size();
  Assignment values(n);
  std::vector<std::size_t> at(n, 0);
  for (std::size_t x = 0; x < n; ++x) values[x] = domains[x][0];
  while (true) {
    visit(values);
    std::size_t x = n;
    while (x > 0 && at[x - 1] + 1 == domains[x - 1].size()) {
      at[x - 1] = 0;
      values[x - 1] = domains[x - 1][0];
      --x;
    }
    if (x == 0) return;
    values[x - 1] = domains[x - 1][++at[x - 1]];
  }
}

namespace detail {

struct Term {  // a variable's number, or a constant
  bool variable;
  std::int64_t value;
  std::int64_t of(const Assignment& a) const {
    return variable ? a[static_cast<std::size_t>(value)] : value;
  }
};

// A reference as the file writes it ("m[][1]", "x[0..2]", "v", "3") and what it expands to.
struct Ref {
  std::string text;
  std::vector<Term> terms;
  std::string form;  // the compact form it shows, for coverage; empty for one element
};

// An intension expression: a constant, a symbol (a constant written by name), a slot (a
// variable, or %i in a group) or an operator over its operands.
struct Node {
  enum Kind : std::uint8_t { kConstant, kSymbol, kSlot, kOperator };
  Kind kind = kConstant;
  std::string op;
  std::int64_t value = 0;
  std::vector<Node> operands;
  bool spaced = false;  // printed with a blank after each comma
};

// The value of `node` with slot i at slots[i]; nullopt where the reader disallows the row (a
// division or modulo by zero, a negative exponent). Every operand is evaluated, as the reader's
// postfix program does, so an undefined operand undefines `if` and `or` too. Magnitudes stay
// below 2^50 by construction (values from -2 to 8; pow and sqr over leaves only, so at most
// 2^24; arithmetic two levels deep), so the 64-bit overflow rule never applies.
inline std::optional<std::int64_t> evaluate(const Node& node,
                                            const std::vector<std::int64_t>& slots) {
  switch (node.kind) {
    case Node::kConstant:
    case Node::kSymbol:
      return node.value;
    case Node::kSlot:
      return slots[static_cast<std::size_t>(node.value)];
    case Node::kOperator:
      break;
  }
  std::vector<std::int64_t> a;
  for (const Node& operand : node.operands) {
    if (operand.op == "set") {
      for (const Node& member : operand.operands) a.push_back(member.value);
      continue;
    }
    const std::optional<std::int64_t> v = evaluate(operand, slots);
    if (!v) return std::nullopt;
    a.push_back(*v);
  }
  const std::string& op = node.op;
  const auto truth = [](std::int64_t v) { return v != 0; };
  if (op == "neg") return -a[0];
  if (op == "abs") return a[0] < 0 ? -a[0] : a[0];
  if (op == "add") {
    std::int64_t r = 0;
    for (const std::int64_t v : a) r += v;
    return r;
  }
  if (op == "mul") {
    std::int64_t r = 1;
    for (const std::int64_t v : a) r *= v;
    return r;
  }
  if (op == "sub") return a[0] - a[1];
  if (op == "div" || op == "mod") {
    if (a[1] == 0) return std::nullopt;
    return op == "div" ? a[0] / a[1] : a[0] % a[1];
  }
  if (op == "sqr") return a[0] * a[0];
  if (op == "pow") {
    if (a[1] < 0) return std::nullopt;
    std::int64_t r = 1;
    for (std::int64_t k = 0; k < a[1]; ++k) r *= a[0];
    return r;
  }
  if (op == "min") return *std::min_element(a.begin(), a.end());
  if (op == "max") return *std::max_element(a.begin(), a.end());
  if (op == "dist") return a[0] > a[1] ? a[0] - a[1] : a[1] - a[0];
  if (op == "lt") return a[0] < a[1];
  if (op == "le") return a[0] <= a[1];
  if (op == "ge") return a[0] >= a[1];
  if (op == "gt") return a[0] > a[1];
  if (op == "ne") return a[0] != a[1];
  if (op == "eq") return std::count(a.begin(), a.end(), a[0]) == std::ptrdiff_t(a.size());
  if (op == "not") return !truth(a[0]);
  if (op == "and") return std::all_of(a.begin(), a.end(), truth);
  if (op == "or") return std::any_of(a.begin(), a.end(), truth);
  if (op == "xor") return std::count_if(a.begin(), a.end(), truth) % 2;
  if (op == "iff") {
    return std::all_of(a.begin(), a.end(), [&](std::int64_t v) { return truth(v) == truth(a[0]); });
  }
  if (op == "imp") return !truth(a[0]) || truth(a[1]);
  if (op == "if") return truth(a[0]) ? a[1] : a[2];
  const bool member = std::find(a.begin() + 1, a.end(), a[0]) != a.end();
  return op == "in" ? member : !member;  // in, notin
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 7) {}

  GeneratedXcsp3 run() {
    while (!declare()) {
    }
    xml_ += "  </variables>\n  <constraints>\n";
    const int items = 3 + static_cast<int>(below(6));
    for (int k = 0; k < items; ++k) item(2, "    ");
    xml_ += "  </constraints>\n";
    if (chance(30)) {
      xml_ += "  <annotations><decision> x[] </decision></annotations>\n";
      note("<annotations>");
    }
    xml_ += "</instance>\n";
    out_.xml = std::move(xml_);
    return std::move(out_);
  }

 private:
  struct Entity {
    std::string name;
    std::vector<int> sizes;     // empty for a single variable
    std::vector<int> varOf;     // element (row-major) -> variable, or -1: no domain
    std::vector<int> domainOf;  // element -> index into domains_, or -1
    bool symbolic = false;
  };

  // --- Randomness: a 64-bit LCG, the same sequence everywhere --------------------------------
  std::uint64_t next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return state_ >> 33;
  }
  std::int64_t below(std::int64_t n) {
    return static_cast<std::int64_t>(next() % std::uint64_t(n));
  }
  bool chance(int percent) { return below(100) < percent; }
  template <class T>
  const T& pick(const std::vector<T>& from) {
    return from[static_cast<std::size_t>(below(static_cast<std::int64_t>(from.size())))];
  }
  void note(const std::string& construct) { ++out_.constructs[construct]; }
  // A blank between tokens: a space, now and then a line break or a tab.
  std::string blank() {
    const std::int64_t k = below(20);
    return k == 0 ? "\n        " : k == 1 ? "\t" : " ";
  }

  // --- Declarations ---------------------------------------------------------------------------

  std::vector<std::int64_t> randomValues() {
    const int sizes[] = {2, 3, 3, 4, 4, 5};
    const int size = sizes[below(6)];
    const std::int64_t lo = below(5) - 2;
    const std::int64_t span = size + below(3);
    std::vector<std::int64_t> values;
    for (std::int64_t v = lo; v < lo + span; ++v) values.push_back(v);
    while (static_cast<int>(values.size()) > size) {
      values.erase(values.begin() + below(static_cast<std::int64_t>(values.size())));
    }
    return values;
  }

  // `values` (increasing) as a domain's text: runs as a..b or one by one, in any order, a token
  // sometimes twice.
  std::string domainText(const std::vector<std::int64_t>& values) {
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < values.size();) {
      std::size_t j = i;
      while (j + 1 < values.size() && values[j + 1] == values[j] + 1) ++j;
      if (j > i && chance(70)) {
        tokens.push_back(std::to_string(values[i]) + ".." + std::to_string(values[j]));
        note("domain range a..b");
      } else {
        for (std::size_t k = i; k <= j; ++k) tokens.push_back(std::to_string(values[k]));
      }
      i = j + 1;
    }
    if (chance(15)) tokens.push_back(pick(tokens));
    if (chance(50)) std::reverse(tokens.begin(), tokens.end());
    std::string text;
    for (const std::string& t : tokens) text += blank() + t;
    return text + " ";
  }

  std::string elementName(const Entity& e, int element) const {
    std::string name = e.name;
    std::vector<int> index(e.sizes.size());
    for (std::size_t d = e.sizes.size(); d-- > 0;) {
      index[d] = element % e.sizes[d];
      element /= e.sizes[d];
    }
    for (const int i : index) name += "[" + std::to_string(i) + "]";
    return name;
  }

  // The elements of `chosen` (an array's) as for= text: whole rows as m[i][], runs as
  // x[a..b] or m[i][a..b], whole columns of a matrix sometimes as m[][j].
  std::string forText(const Entity& e, std::vector<bool> chosen) {
    std::string text;
    const int columns = e.sizes.size() == 2 ? e.sizes[1] : static_cast<int>(chosen.size());
    const int rows = static_cast<int>(chosen.size()) / columns;
    if (e.sizes.size() == 2 && chance(50)) {
      for (int j = 0; j < columns; ++j) {
        bool whole = true;
        for (int i = 0; i < rows; ++i) whole = whole && chosen[std::size_t(i * columns + j)];
        if (!whole) continue;
        text += " " + e.name + "[][" + std::to_string(j) + "]";
        for (int i = 0; i < rows; ++i) chosen[std::size_t(i * columns + j)] = false;
      }
    }
    for (int i = 0; i < rows; ++i) {
      const std::string row = e.sizes.size() == 2 ? e.name + "[" + std::to_string(i) + "]" : e.name;
      for (int j = 0; j < columns;) {
        if (!chosen[std::size_t(i * columns + j)]) {
          ++j;
          continue;
        }
        int end = j;
        while (end + 1 < columns && chosen[std::size_t(i * columns + end + 1)]) ++end;
        if (j == 0 && end == columns - 1) {
          text += " " + row + "[]";
        } else if (end > j) {
          text += " " + row + "[" + std::to_string(j) + ".." + std::to_string(end) + "]";
        } else {
          text += " " + row + "[" + std::to_string(j) + "]";
        }
        j = end + 1;
      }
    }
    return text.substr(1);
  }

  // Declares entity e: its elements take their domains (`domainOf`, -1 for none) and are
  // numbered as variables in declaration order.
  void number(Entity& e) {
    e.varOf.assign(e.domainOf.size(), -1);
    for (std::size_t k = 0; k < e.domainOf.size(); ++k) {
      if (e.domainOf[k] < 0) continue;
      e.varOf[k] = static_cast<int>(out_.domains.size());
      out_.domains.push_back(domains_[static_cast<std::size_t>(e.domainOf[k])]);
      out_.names.push_back(elementName(e, static_cast<int>(k)));
      symbolic_.push_back(e.symbolic);
    }
    entities_.push_back(e);
  }

  int addDomain(std::vector<std::int64_t> values) {
    domains_.push_back(std::move(values));
    return static_cast<int>(domains_.size()) - 1;
  }

  // An integer array (or single variable): one domain for all, or <domain for> children with
  // or without `others` (without: the elements left have no domain and are no variables).
  void declareArray(const std::string& name, std::vector<int> sizes) {
    Entity e;
    e.name = name;
    e.sizes = std::move(sizes);
    int elements = 1;
    for (const int s : e.sizes) elements *= s;
    e.domainOf.assign(static_cast<std::size_t>(elements), -1);
    std::string header = e.sizes.empty() ? "    <var id=\"" + name + "\">"
                                         : "    <array id=\"" + name + "\" size=\"";
    for (const int s : e.sizes) header += "[" + std::to_string(s) + "]";
    if (!e.sizes.empty()) header += "\">";
    if (e.sizes.empty() || chance(40)) {
      const std::vector<std::int64_t> values = randomValues();
      std::fill(e.domainOf.begin(), e.domainOf.end(), addDomain(values));
      xml_ += header + domainText(values) + (e.sizes.empty() ? "</var>\n" : "</array>\n");
      note(e.sizes.empty() ? "var" : std::to_string(e.sizes.size()) + "-dimensional array");
      number(e);
      return;
    }
    note(std::to_string(e.sizes.size()) + "-dimensional array");
    xml_ += header + "\n";
    const bool holes = e.sizes.size() == 2 && chance(35);
    for (int part = 0; part < 2; ++part) {
      std::vector<bool> chosen(e.domainOf.size(), false);
      bool any = false;
      for (std::size_t k = 0; k < chosen.size(); ++k) {
        chosen[k] = e.domainOf[k] < 0 && chance(45);
        any = any || chosen[k];
      }
      if (!any && part == 0) chosen[0] = any = true;  // an array holds one domain at least
      if (!any) continue;
      const std::vector<std::int64_t> values = randomValues();
      const int d = addDomain(values);
      for (std::size_t k = 0; k < chosen.size(); ++k) {
        if (chosen[k]) e.domainOf[k] = d;
      }
      xml_ +=
          "      <domain for=\"" + forText(e, chosen) + "\">" + domainText(values) + "</domain>\n";
      note("<domain for>");
    }
    if (holes) {
      note("elements without a domain");
    } else if (std::count(e.domainOf.begin(), e.domainOf.end(), -1) > 0) {
      const std::vector<std::int64_t> values = randomValues();
      const int d = addDomain(values);
      for (int& k : e.domainOf) k = k < 0 ? d : k;
      xml_ += "      <domain for=\"others\">" + domainText(values) + "</domain>\n";
      note("<domain for=\"others\">");
    }
    xml_ += "    </array>\n";
    number(e);
  }

  // A symbolic variable or array of two: symbols numbered in order of first appearance.
  void declareSymbolic() {
    const std::vector<std::string> pool = {"red", "green", "blue", "amber", "teal"};
    std::vector<std::string> chosen = pool;
    for (std::size_t k = chosen.size(); k > 1; --k) {
      std::swap(chosen[k - 1], chosen[static_cast<std::size_t>(below(std::int64_t(k)))]);
    }
    chosen.resize(static_cast<std::size_t>(2 + below(3)));
    std::vector<std::int64_t> values;
    std::string text;
    for (const std::string& s : chosen) {
      values.push_back(static_cast<std::int64_t>(symbols_.size()));
      symbols_.push_back(s);
      text += " " + s;
    }
    Entity e;
    e.name = "s";
    e.symbolic = true;
    const bool array = chance(40);
    if (array) e.sizes = {2};
    e.domainOf.assign(array ? 2 : 1, addDomain(values));
    xml_ += array ? "    <array id=\"s\" type=\"symbolic\" size=\"[2]\">" + text + " </array>\n"
                  : "    <var id=\"s\" type=\"symbolic\">" + text + " </var>\n";
    note("symbolic");
    number(e);
  }

  // `copy` declared as=`original`: the same domains element by element.
  void declareCopy(Entity original, const std::string& copy) {
    Entity e;
    e.name = copy;
    e.sizes = original.sizes;
    e.domainOf = original.domainOf;
    std::string size;
    for (const int s : e.sizes) size += "[" + std::to_string(s) + "]";
    xml_ += e.sizes.empty() ? "    <var id=\"" + copy + "\" as=\"" + original.name + "\"/>\n"
                            : "    <array id=\"" + copy + "\" as=\"" + original.name +
                                  "\" size=\"" + size + "\"/>\n";
    note("as=");
    number(e);
  }

  // The declarations; false (everything undone) when they give fewer than 6 or more than 10
  // variables, fewer than 5 integer ones or more than 50,000 assignments.
  bool declare() {
    xml_ = "<instance format=\"XCSP3\" type=\"CSP\">\n  <variables>\n";
    out_ = GeneratedXcsp3();
    entities_.clear();
    domains_.clear();
    symbols_.clear();
    symbolic_.clear();
    std::vector<int> order = {0, 1};     // x, m
    if (chance(70)) order.push_back(2);  // v
    if (chance(60)) order.push_back(3);  // s
    for (std::size_t k = order.size(); k > 1; --k) {
      std::swap(order[k - 1], order[static_cast<std::size_t>(below(std::int64_t(k)))]);
    }
    for (const int which : order) {
      if (which == 0) declareArray("x", {2 + static_cast<int>(below(3))});
      if (which == 1)
        declareArray("m", {2 + static_cast<int>(below(2)), 2 + static_cast<int>(below(2))});
      if (which == 2) declareArray("v", {});
      if (which == 3) declareSymbolic();
    }
    if (chance(60)) {
      const auto named = [&](const char* name) {
        return std::find_if(entities_.begin(), entities_.end(),
                            [&](const Entity& e) { return e.name == name; });
      };
      if (named("v") != entities_.end() && chance(60)) {
        declareCopy(*named("v"), "w");
      } else if (chance(30)) {
        declareCopy(*named("m"), "z");  // elements without a domain stay without one
      } else {
        declareCopy(*named("x"), "y");
      }
    }
    const std::size_t n = out_.domains.size();
    double assignments = 1;
    for (const auto& d : out_.domains) assignments *= static_cast<double>(d.size());
    const auto integers = std::count(symbolic_.begin(), symbolic_.end(), false);
    if (n < 6 || n > 10 || integers < 5 || assignments > 50000) return false;
    buildRefs();
    return true;
  }

  // Every reference a list may use: each element, and the compact forms with what they cover.
  void buildRefs() {
    refs_.clear();
    for (const Entity& e : entities_) {
      for (std::size_t k = 0; k < e.varOf.size(); ++k) {
        if (e.varOf[k] >= 0) refs_.push_back({elementName(e, int(k)), {{true, e.varOf[k]}}, ""});
      }
      const auto add = [&](std::string text, const std::vector<int>& elements, std::string form) {
        Ref r{std::move(text), {}, std::move(form)};
        for (const int k : elements) {
          if (e.varOf[std::size_t(k)] >= 0) r.terms.push_back({true, e.varOf[std::size_t(k)]});
        }
        if (!r.terms.empty()) refs_.push_back(std::move(r));
      };
      const std::string& n = e.name;
      if (e.sizes.size() == 1) {
        std::vector<int> all;
        for (int k = 0; k < e.sizes[0]; ++k) all.push_back(k);
        add(n + "[]", all, "x[]");
        for (int a = 0; a < e.sizes[0]; ++a) {
          for (int b = a + 1; b < e.sizes[0]; ++b) {
            add(n + "[" + std::to_string(a) + ".." + std::to_string(b) + "]",
                std::vector<int>(all.begin() + a, all.begin() + b + 1), "x[a..b]");
          }
        }
      }
      if (e.sizes.size() != 2) continue;
      const int rows = e.sizes[0], columns = e.sizes[1];
      const auto cell = [&](int i, int j) { return i * columns + j; };
      std::vector<int> all;
      for (int k = 0; k < rows * columns; ++k) all.push_back(k);
      add(n + "[][]", all, "m[][]");
      for (int i = 0; i < rows; ++i) {
        std::vector<int> row;
        for (int j = 0; j < columns; ++j) row.push_back(cell(i, j));
        add(n + "[" + std::to_string(i) + "][]", row, "m[i][]");
        add(n + "[" + std::to_string(i) + "][1.." + std::to_string(columns - 1) + "]",
            std::vector<int>(row.begin() + 1, row.end()), "m[i][a..b]");
      }
      for (int j = 0; j < columns; ++j) {
        std::vector<int> column, lower;
        for (int i = 0; i < rows; ++i) column.push_back(cell(i, j));
        add(n + "[][" + std::to_string(j) + "]", column, "m[][j]");
        add(n + "[1.." + std::to_string(rows - 1) + "][" + std::to_string(j) + "]",
            std::vector<int>(column.begin() + 1, column.end()), "m[a..b][j]");
      }
      std::vector<int> corner = {cell(0, 0), cell(0, 1), cell(1, 0), cell(1, 1)};
      add(n + "[0..1][0..1]", corner, "m[a..b][c..d]");
    }
  }

  bool symbolicTerm(const Term& t) const {
    return t.variable && symbolic_[static_cast<std::size_t>(t.value)];
  }

  // A list of references expanding to exactly `length` terms; empty when none fits. Integer
  // variables only unless `symbols`; no variable twice unless `repeats`; a constant now and
  // then when `constants` (as groups' <args> may hold).
  std::vector<Ref> pickList(int length, bool symbols, bool repeats, bool constants) {
    std::vector<Ref> list;
    std::vector<std::int64_t> used;
    int remaining = length;
    while (remaining > 0) {
      if (constants && chance(12)) {
        const std::int64_t c = below(5) - 1;
        list.push_back({std::to_string(c), {{false, c}}, ""});
        note("constant in <args>");
        --remaining;
        continue;
      }
      std::vector<Ref> fit, compact;
      for (const Ref& r : refs_) {
        bool ok = static_cast<int>(r.terms.size()) <= remaining;
        for (const Term& t : r.terms) {
          ok = ok && (symbols || !symbolicTerm(t)) &&
               (repeats || std::find(used.begin(), used.end(), t.value) == used.end());
        }
        if (!ok) continue;
        fit.push_back(r);
        if (!r.form.empty()) compact.push_back(r);
      }
      if (fit.empty()) return {};
      const Ref& r = !compact.empty() && chance(45) ? pick(compact) : pick(fit);
      for (const Term& t : r.terms) used.push_back(t.value);
      if (repeats && r.terms.size() == 1 && chance(30)) {
        // The same variable once more: a table keeps the rows that agree with it.
        const Ref again = r;
        list.push_back(again);
        --remaining;
        if (remaining > 0) {
          list.push_back(again);
          note("a variable twice in a list");
          --remaining;
        }
        continue;
      }
      list.push_back(r);
      remaining -= static_cast<int>(r.terms.size());
    }
    return list;
  }

  std::string listText(const std::vector<Ref>& list) {
    std::string text;
    for (const Ref& r : list) {
      text += blank() + r.text;
      if (!r.form.empty()) note("compact " + r.form);
    }
    return text + " ";
  }
  static std::vector<Term> termsOf(const std::vector<Ref>& list) {
    std::vector<Term> terms;
    for (const Ref& r : list) terms.insert(terms.end(), r.terms.begin(), r.terms.end());
    return terms;
  }

  // --- Constraints ----------------------------------------------------------------------------

  void meaning(const std::string& what, std::function<bool(const Assignment&)> holds) {
    out_.constraints.push_back(
        {what + " #" + std::to_string(out_.constraints.size()), std::move(holds)});
  }

  // One constraint, group or block (blocks nest while `depth` > 0).
  void item(int depth, const std::string& indent) {
    const std::int64_t kind = below(depth > 0 ? 20 : 18);
    if (kind < 5) return extension(indent);
    if (kind < 9) return intension(indent);
    if (kind < 11) return allDifferent(indent);
    if (kind < 12) return instantiation(indent);
    if (kind < 18) return group(indent);
    xml_ += indent + "<block class=\"b" + std::to_string(depth) + "\">\n";
    note("<block>");
    const int items = 1 + static_cast<int>(below(3));
    for (int k = 0; k < items; ++k) item(depth - 1, indent + "  ");
    xml_ += indent + "</block>\n";
  }

  // A column's values for a table: its variable's domain with a value beside it now and then
  // (outside every domain: a dropped row), or near a constant.
  std::vector<std::int64_t> columnValues(const Term& t) {
    if (!t.variable) return {t.value, t.value + 1};
    std::vector<std::int64_t> values = out_.domains[static_cast<std::size_t>(t.value)];
    if (!symbolicTerm(t) && chance(10)) values.push_back(values.back() + 3);
    return values;
  }

  std::string entryText(const std::vector<Term>& terms, std::size_t i, std::int64_t v) const {
    return symbolicTerm(terms[i]) ? symbols_[static_cast<std::size_t>(v)] : std::to_string(v);
  }

  // Random rows for the columns' values: value or * (stars as `kStar` below).
  static constexpr std::int64_t kStar = INT64_MIN;
  std::vector<std::vector<std::int64_t>> randomRows(
      const std::vector<std::vector<std::int64_t>>& columns, bool conflicts) {
    double product = 1;
    for (const auto& c : columns) product *= static_cast<double>(c.size());
    // Supports: 40 to 95 rows per 100 combinations (some repeated); conflicts: up to 30.
    const int least = conflicts ? 1 : std::max(1, static_cast<int>(product * 0.4));
    const int most = std::max(least, static_cast<int>(product * (conflicts ? 0.3 : 0.95)));
    const int count = least + static_cast<int>(below(most - least + 1));
    std::vector<std::vector<std::int64_t>> rows;
    for (int r = 0; r < count; ++r) {
      std::vector<std::int64_t> row;
      for (const auto& c : columns) row.push_back(chance(conflicts ? 8 : 7) ? kStar : pick(c));
      rows.push_back(std::move(row));
    }
    return rows;
  }

  static bool tableHolds(const std::vector<std::vector<std::int64_t>>& rows,
                         const std::vector<Term>& terms, bool conflicts, const Assignment& a) {
    for (const auto& row : rows) {
      bool match = true;
      for (std::size_t i = 0; i < row.size() && match; ++i) {
        match = row[i] == kStar || row[i] == terms[i].of(a);
      }
      if (match) return !conflicts;
    }
    return conflicts;
  }

  std::string rowsText(const std::vector<std::vector<std::int64_t>>& rows,
                       const std::vector<Term>& terms) {
    std::string text;
    for (const auto& row : rows) {
      text += "(";
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0) text += ",";
        text += row[i] == kStar ? "*" : entryText(terms, i, row[i]);
        if (row[i] == kStar) note("* in a tuple");
      }
      text += chance(20) ? ")\n" : ")";
      if (chance(4)) {
        // Expat hands the text on either side of a comment as two pieces.
        text += "<!-- a comment between tuples -->";
        note("comment inside <supports>/<conflicts>");
      }
    }
    return text;
  }

  void extension(const std::string& indent) {
    const bool unary = chance(30);
    const std::vector<Ref> list =
        pickList(unary ? 1 : 2 + static_cast<int>(below(2)), true, !unary && chance(15), false);
    if (list.empty()) return;
    const std::vector<Term> terms = termsOf(list);
    const bool conflicts = chance(35);
    const std::string tag = conflicts ? "conflicts" : "supports";
    note("<" + tag + ">");
    xml_ += indent + "<extension><list>" + listText(list) + "</list><" + tag + ">";
    if (unary && chance(55)) {
      // The unary form: values and ranges a..b (symbols one by one).
      const std::vector<std::int64_t> values = columnValues(terms[0]);
      std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
      std::string text;
      const int count = 1 + static_cast<int>(below(3));
      for (int k = 0; k < count; ++k) {
        std::int64_t lo = pick(values), hi = lo;
        if (!symbolicTerm(terms[0]) && chance(60)) hi = lo + 1 + below(2);
        ranges.emplace_back(lo, hi);
        text += " " + entryText(terms, 0, lo) + (hi > lo ? ".." + std::to_string(hi) : "");
      }
      xml_ += text + " </" + tag + "></extension>\n";
      note("unary form");
      meaning("unary " + tag, [ranges, terms, conflicts](const Assignment& a) {
        const std::int64_t v = terms[0].of(a);
        const bool in = std::any_of(ranges.begin(), ranges.end(),
                                    [&](const auto& r) { return r.first <= v && v <= r.second; });
        return in != conflicts;
      });
      return;
    }
    std::vector<std::vector<std::int64_t>> columns;
    for (const Term& t : terms) columns.push_back(columnValues(t));
    const auto rows = randomRows(columns, conflicts);
    xml_ += rowsText(rows, terms) + "</" + tag + "></extension>\n";
    meaning("extension " + tag, [rows, terms, conflicts](const Assignment& a) {
      return tableHolds(rows, terms, conflicts, a);
    });
  }

  // --- Intension ------------------------------------------------------------------------------

  Node leaf(int slots) {
    Node n;
    if (chance(25)) {
      n.value = below(6) - 2;
    } else {
      n.kind = Node::kSlot;
      n.value = below(slots);
    }
    return n;
  }
  Node call(const std::string& op, std::vector<Node> operands) {
    note("operator " + op);
    Node n;
    n.kind = Node::kOperator;
    n.op = op;
    n.operands = std::move(operands);
    n.spaced = chance(15);
    return n;
  }

  // `least` to 3 operands, each made by `make`.
  template <class Make>
  std::vector<Node> operandsOf(int least, const Make& make) {
    std::vector<Node> made;
    const int count = least + static_cast<int>(below(4 - least));
    for (int k = 0; k < count; ++k) made.push_back(make());
    return made;
  }

  // An integer expression of `depth` levels of operators at most; pow's base is a leaf and its
  // exponent a leaf too, so that nothing nears 64 bits.
  Node integer(int depth, int slots) {
    if (depth == 0 || chance(20)) return leaf(slots);
    const auto sub = [&] { return integer(depth - 1, slots); };
    const auto some = [&](int least) { return operandsOf(least, sub); };
    switch (below(15)) {
      case 0:
        return call("neg", {sub()});
      case 1:
        return call("abs", {sub()});
      case 2:
        return chance(50) ? call("add", {sub(), sub()}) : call("add", {sub(), sub(), sub()});
      case 3:
        return call("sub", {sub(), sub()});
      case 4:
        return chance(70) ? call("mul", {sub(), sub()})
                          : call("mul", {leaf(slots), leaf(slots), leaf(slots)});
      case 5:
        return call("div", {sub(), sub()});
      case 6:
        return call("mod", {sub(), sub()});
      case 7:
        return call("sqr", {leaf(slots)});
      case 8:
        return call("pow", {leaf(slots), leaf(slots)});
      case 9:
        return call("min", some(1));
      case 10:
        return call("max", some(1));
      case 11:
        return call("dist", {sub(), sub()});
      case 12:
        return call("if", {boolean(0, slots), sub(), sub()});
      case 13:
        return boolean(0, slots);  // a Boolean is the integer 0 or 1
      default:
        return leaf(slots);
    }
  }

  Node boolean(int depth, int slots) {
    const char* comparisons[] = {"lt", "le", "ge", "gt", "ne", "eq"};
    if (depth == 0) {
      if (chance(25)) return integer(1, slots);  // any non-zero integer is true
      if (chance(10)) return call("eq", {integer(1, slots), integer(1, slots), integer(1, slots)});
      const std::string op = comparisons[below(6)];
      if (symbolSlot_ >= 0 && chance(20)) {
        // The symbolic variable against a symbol written by name.
        Node s;
        s.kind = Node::kSymbol;
        s.value = pick(symbolValues_);
        Node var;
        var.kind = Node::kSlot;
        var.value = symbolSlot_;
        note("symbol in an expression");
        return call(chance(50) ? "eq" : "ne", {var, s});
      }
      return call(op, {integer(1, slots), integer(1, slots)});
    }
    const auto sub = [&] { return boolean(depth - 1, slots); };
    const auto some = [&](int least) { return operandsOf(least, sub); };
    switch (below(11)) {
      case 0:
        return call("not", {sub()});
      case 1:
        return call("and", some(1));
      case 2:
        return call("or", some(1));
      case 3:
        return call("xor", some(1));
      case 4:
        return call("iff", some(2));
      case 5:
        return call("imp", {sub(), sub()});
      case 6:
      case 7: {
        Node set = call("set", {});
        const int members = static_cast<int>(below(4));
        for (int k = 0; k < members; ++k) {
          Node member;
          member.value = below(6) - 1;
          set.operands.push_back(member);
        }
        return call(chance(60) ? "in" : "notin", {integer(2, slots), set});
      }
      case 8:
        return chance(50) ? call("eq", {integer(2, slots), integer(2, slots), integer(1, slots)})
                          : call("ne", {integer(2, slots), integer(2, slots)});
      case 9:
        return call(comparisons[below(4)], {integer(2, slots), integer(2, slots)});
      default:
        return integer(1, slots);  // any non-zero integer is true
    }
  }

  std::string print(const Node& n, const std::vector<std::string>& slotText) const {
    switch (n.kind) {
      case Node::kConstant:
        return std::to_string(n.value);
      case Node::kSymbol:
        return symbols_[static_cast<std::size_t>(n.value)];
      case Node::kSlot:
        return slotText[static_cast<std::size_t>(n.value)];
      case Node::kOperator:
        break;
    }
    std::string text = n.op + "(";
    for (std::size_t k = 0; k < n.operands.size(); ++k) {
      text += (k == 0 ? "" : n.spaced ? ", " : ",") + print(n.operands[k], slotText);
    }
    return text + ")";
  }

  // Holds when the expression is defined and not 0 with slot i bound to terms[i].
  static bool expressionHolds(const Node& root, const std::vector<Term>& terms,
                              const Assignment& a) {
    std::vector<std::int64_t> slots;
    for (const Term& t : terms) slots.push_back(t.of(a));
    const std::optional<std::int64_t> v = evaluate(root, slots);
    return v && *v != 0;
  }

  // The share of the combinations of `terms`' values that `root` allows.
  double allowedShare(const Node& root, const std::vector<Term>& terms) const {
    Assignment a(out_.domains.size(), 0);
    std::vector<std::size_t> at(terms.size(), 0);
    std::uint64_t allowed = 0, all = 0;
    while (true) {
      for (std::size_t i = 0; i < terms.size(); ++i) {
        if (terms[i].variable) {
          const auto x = static_cast<std::size_t>(terms[i].value);
          a[x] = out_.domains[x][at[i]];
        }
      }
      ++all;
      allowed += expressionHolds(root, terms, a);
      std::size_t i = terms.size();
      while (i > 0 && (!terms[i - 1].variable ||
                       at[i - 1] + 1 == out_.domains[std::size_t(terms[i - 1].value)].size())) {
        at[--i] = 0;
      }
      if (i == 0) break;
      ++at[i - 1];
    }
    return static_cast<double>(allowed) / static_cast<double>(all);
  }

  // A Boolean expression over `slots` slots that allows a fair share (a fifth or more) of the
  // combinations of every list of `bound` (tried a few times; random expressions are often
  // never true).
  Node looseExpression(int slots, const std::vector<std::vector<Term>>& bound) {
    Node root;
    for (int attempt = 0; attempt < 12; ++attempt) {
      root = boolean(1 + static_cast<int>(below(2)), slots);
      bool loose = true;
      for (const auto& terms : bound) loose = loose && allowedShare(root, terms) >= 0.2;
      if (loose) break;
    }
    return root;
  }

  void intension(const std::string& indent) {
    const int arity = 1 + static_cast<int>(below(3));
    const std::vector<Ref> list = pickList(arity, false, false, false);
    if (list.empty()) return;
    std::vector<Term> terms = termsOf(list);
    std::vector<std::string> slotText;
    for (const Term& t : terms) slotText.push_back(out_.names[static_cast<std::size_t>(t.value)]);
    bindSymbolSlot(terms, slotText);
    const Node root = looseExpression(arity, {terms});
    symbolSlot_ = -1;
    const std::string text = print(root, slotText);
    const bool function = chance(30);
    xml_ += indent + (function ? "<intension><function> " + text + " </function></intension>\n"
                               : "<intension> " + text + " </intension>\n");
    note(function ? "<intension><function>" : "<intension>");
    meaning("intension",
            [root, terms](const Assignment& a) { return expressionHolds(root, terms, a); });
  }

  // Makes the symbolic variable, if any, one more slot of an intension (compared with symbols).
  void bindSymbolSlot(std::vector<Term>& terms, std::vector<std::string>& slotText) {
    symbolSlot_ = -1;
    if (!chance(40)) return;
    for (std::size_t x = 0; x < symbolic_.size(); ++x) {
      if (!symbolic_[x]) continue;
      symbolSlot_ = static_cast<int>(terms.size());
      symbolValues_ = out_.domains[x];
      terms.push_back({true, static_cast<std::int64_t>(x)});
      slotText.push_back(out_.names[x]);
      return;
    }
  }

  // --- allDifferent, instantiation, groups ----------------------------------------------------

  static bool allDifferentHolds(const std::vector<Term>& terms, const Assignment& a) {
    for (std::size_t i = 0; i < terms.size(); ++i) {
      for (std::size_t j = i + 1; j < terms.size(); ++j) {
        if (terms[i].of(a) == terms[j].of(a)) return false;
      }
    }
    return true;
  }

  void allDifferent(const std::string& indent) {
    const std::int64_t form = below(4);
    if (form == 0 || form == 1) {
      const std::vector<Ref> list = pickList(2 + static_cast<int>(below(2)), false, false, false);
      if (list.empty()) return;
      xml_ += indent + (form == 0
                            ? "<allDifferent>" + listText(list) + "</allDifferent>\n"
                            : "<allDifferent><list>" + listText(list) + "</list></allDifferent>\n");
      note("<allDifferent> list");
      const std::vector<Term> terms = termsOf(list);
      meaning("allDifferent", [terms](const Assignment& a) { return allDifferentHolds(terms, a); });
      return;
    }
    if (form == 2) {
      // Lists pairwise different as tuples; lists may share variables.
      const int length = 1 + static_cast<int>(below(3));
      const int count = 2 + static_cast<int>(below(2));
      std::vector<std::vector<Term>> lists;
      std::string text;
      for (int k = 0; k < count; ++k) {
        const std::vector<Ref> list = pickList(length, false, false, false);
        if (list.empty()) return;
        lists.push_back(termsOf(list));
        text += "<list>" + listText(list) + "</list>";
      }
      xml_ += indent + "<allDifferent>" + text + "</allDifferent>\n";
      note("<allDifferent> lists");
      meaning("allDifferent lists", [lists](const Assignment& a) {
        for (std::size_t p = 0; p < lists.size(); ++p) {
          for (std::size_t q = p + 1; q < lists.size(); ++q) {
            bool same = true;
            for (std::size_t i = 0; i < lists[p].size() && same; ++i) {
              same = lists[p][i].of(a) == lists[q][i].of(a);
            }
            if (same) return false;
          }
        }
        return true;
      });
      return;
    }
    // A matrix: each row and each column all different; m[][] when m has every element.
    std::vector<std::vector<Term>> rows;
    std::string text;
    const Entity& m = *std::find_if(entities_.begin(), entities_.end(),
                                    [](const Entity& e) { return e.name == "m"; });
    if (std::count(m.varOf.begin(), m.varOf.end(), -1) == 0 && chance(60)) {
      const bool corner = chance(30);
      const int r = corner ? 2 : m.sizes[0], c = corner ? 2 : m.sizes[1];
      for (int i = 0; i < r; ++i) {
        rows.emplace_back();
        for (int j = 0; j < c; ++j)
          rows.back().push_back({true, m.varOf[std::size_t(i * m.sizes[1] + j)]});
      }
      text = corner ? " m[0..1][0..1] " : " m[][] ";
      note(corner ? "<matrix> m[a..b][c..d]" : "<matrix> m[][]");
    } else {
      const int r = 2, c = 2 + static_cast<int>(below(2));
      const std::vector<Ref> cells = pickList(r * c, false, false, false);
      if (cells.empty()) return;
      const std::vector<Term> all = termsOf(cells);
      for (int i = 0; i < r; ++i) {
        rows.emplace_back();
        text += "(";
        for (int j = 0; j < c; ++j) {
          const Term& t = all[std::size_t(i * c + j)];
          rows.back().push_back(t);
          text += (j > 0 ? "," : "") + out_.names[static_cast<std::size_t>(t.value)];
        }
        text += ")";
      }
      note("<matrix> rows");
    }
    xml_ += indent + "<allDifferent><matrix>" + text + "</matrix></allDifferent>\n";
    meaning("allDifferent matrix", [rows](const Assignment& a) {
      for (const auto& row : rows) {
        if (!allDifferentHolds(row, a)) return false;
      }
      for (std::size_t j = 0; j < rows[0].size(); ++j) {
        std::vector<Term> column;
        for (const auto& row : rows) column.push_back(row[j]);
        if (!allDifferentHolds(column, a)) return false;
      }
      return true;
    });
  }

  void instantiation(const std::string& indent) {
    const std::vector<Ref> list = pickList(1 + static_cast<int>(below(2)), true, false, false);
    if (list.empty()) return;
    const std::vector<Term> terms = termsOf(list);
    std::vector<std::int64_t> values;
    std::string text;
    for (std::size_t i = 0; i < terms.size(); ++i) {
      const auto& d = out_.domains[static_cast<std::size_t>(terms[i].value)];
      values.push_back(symbolicTerm(terms[i]) || chance(95) ? pick(d) : d.back() + 1);
      text += " " + entryText(terms, i, values.back());
    }
    xml_ += indent + "<instantiation><list>" + listText(list) + "</list><values>" + text +
            " </values></instantiation>\n";
    note("<instantiation>");
    meaning("instantiation", [terms, values](const Assignment& a) {
      for (std::size_t i = 0; i < terms.size(); ++i) {
        if (terms[i].of(a) != values[i]) return false;
      }
      return true;
    });
  }

  // A <group>: an extension over %0 %1 (or %1 %0, or %0 %...), an intension over %0 %1 ..., or
  // an allDifferent over %...; then 2 to 4 <args>, each its own constraint.
  void group(const std::string& indent) {
    std::vector<std::int64_t> symbolic;
    for (std::size_t x = 0; x < symbolic_.size(); ++x) {
      if (symbolic_[x]) symbolic.push_back(static_cast<std::int64_t>(x));
    }
    if (!symbolic.empty() && chance(15)) return symbolicGroup(indent, symbolic);
    const std::int64_t kind = below(3);
    const int arity = kind == 2 ? 0 : 2 + static_cast<int>(below(2));
    std::vector<std::vector<Ref>> args;
    const int count = 2 + static_cast<int>(below(3));
    for (int k = 0; k < count; ++k) {
      const int length = kind == 2 ? 2 + static_cast<int>(below(2)) : arity;
      std::vector<Ref> list = pickList(length, false, false, kind != 2);
      if (list.empty()) return;
      args.push_back(std::move(list));
    }
    note("<group>");
    std::string body;
    if (kind == 0) {
      // The template's list, and where each position takes its term from args.
      std::vector<int> from(static_cast<std::size_t>(arity));
      for (int i = 0; i < arity; ++i) from[std::size_t(i)] = i;
      std::string list;
      const std::int64_t shape = below(3);
      if (shape == 1) std::swap(from[0], from[1]);
      for (int i = 0; i < arity; ++i) list += " %" + std::to_string(from[std::size_t(i)]);
      if (shape == 2) {
        list = " %0 %...";
        note("%...");
      }
      note("%i");
      std::vector<std::vector<Term>> bound;
      std::vector<std::vector<std::int64_t>> columns(static_cast<std::size_t>(arity));
      for (const auto& a : args) {
        const std::vector<Term> terms = termsOf(a);
        bound.emplace_back();
        for (int i = 0; i < arity; ++i) {
          const Term& t = terms[static_cast<std::size_t>(from[std::size_t(i)])];
          bound.back().push_back(t);
          for (const std::int64_t v : columnValues(t)) {
            auto& c = columns[std::size_t(i)];
            if (std::find(c.begin(), c.end(), v) == c.end()) c.push_back(v);
          }
        }
      }
      const bool conflicts = chance(35);
      const std::string tag = conflicts ? "conflicts" : "supports";
      note("<" + tag + ">");
      const auto rows = randomRows(columns, conflicts);
      body = "<extension><list>" + list + " </list><" + tag + ">" + rowsText(rows, bound[0]) +
             "</" + tag + "></extension>";
      for (const auto& terms : bound) {
        meaning("group extension", [rows, terms, conflicts](const Assignment& a) {
          return tableHolds(rows, terms, conflicts, a);
        });
      }
    } else if (kind == 1) {
      std::vector<std::string> slotText;
      for (int i = 0; i < arity; ++i) slotText.push_back("%" + std::to_string(i));
      symbolSlot_ = -1;
      std::vector<std::vector<Term>> bound;
      for (const auto& a : args) bound.push_back(termsOf(a));
      const Node root = looseExpression(arity, bound);
      body = "<intension> " + print(root, slotText) + " </intension>";
      note("%i");
      note("<intension>");
      for (const auto& a : args) {
        const std::vector<Term> terms = termsOf(a);
        meaning("group intension",
                [root, terms](const Assignment& v) { return expressionHolds(root, terms, v); });
      }
    } else {
      body = "<allDifferent> %... </allDifferent>";
      note("%...");
      note("<allDifferent> list");
      for (const auto& a : args) {
        const std::vector<Term> terms = termsOf(a);
        meaning("group allDifferent",
                [terms](const Assignment& v) { return allDifferentHolds(terms, v); });
      }
    }
    xml_ += indent + "<group>\n" + indent + "  " + body + "\n";
    for (const auto& a : args) xml_ += indent + "  <args>" + listText(a) + "</args>\n";
    xml_ += indent + "</group>\n";
  }

  // A group comparing symbolic variables with symbols (constants in <args>) or one another.
  void symbolicGroup(const std::string& indent, const std::vector<std::int64_t>& symbolic) {
    const bool equal = chance(40);
    xml_ += indent + "<group>\n" + indent +
            (equal ? "  <intension> eq(%0,%1) </intension>\n"
                   : "  <intension> ne(%1,%0) </intension>\n");
    const int count = 1 + static_cast<int>(below(2));
    for (int k = 0; k < count; ++k) {
      const Term a{true, pick(symbolic)};
      Term b{true, pick(symbolic)};
      if (b.value == a.value || chance(60)) {
        b = {false, pick(out_.domains[static_cast<std::size_t>(a.value)])};
        note("symbol in <args>");
      }
      xml_ += indent + "  <args> " + out_.names[static_cast<std::size_t>(a.value)] + " " +
              (b.variable ? out_.names[static_cast<std::size_t>(b.value)]
                          : symbols_[static_cast<std::size_t>(b.value)]) +
              " </args>\n";
      meaning("group over symbols",
              [a, b, equal](const Assignment& v) { return (a.of(v) == b.of(v)) == equal; });
    }
    xml_ += indent + "</group>\n";
    note("<group>");
  }

  std::uint64_t state_;
  GeneratedXcsp3 out_;
  std::string xml_;
  std::vector<Entity> entities_;
  std::vector<std::vector<std::int64_t>> domains_;  // by declaration, before numbering
  std::vector<std::string> symbols_;                // symbol k's name
  std::vector<bool> symbolic_;                      // variable -> symbolic
  std::vector<Ref> refs_;
  int symbolSlot_ = -1;  // the slot of the symbolic variable in the intension being made
  std::vector<std::int64_t> symbolValues_;  // its values
};

}  // namespace detail

inline GeneratedXcsp3 generateXcsp3(std::uint32_t seed) { return detail::Generator(seed).run(); }

}  // namespace varnel::xcsp3gen
