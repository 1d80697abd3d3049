// What an XCSP3 file leaves beside its instance: names for the output and the file's own
// constraints, evaluated afresh on every solution before it is shown. Needs neither expat nor
// liblzma, so every build has it.
#include <algorithm>
#include <cstring>

#include "varnel/search/model/xcsp3_reader.h"

namespace varnel {

bool startsWithXml(std::string_view head) {
  std::size_t i = head.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  while (i < head.size() &&
         (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n')) {
    ++i;
  }
  return i < head.size() && head[i] == '<';
}

bool looksLikeXcsp3(std::string_view head, std::string_view name) {
  const auto endsWith = [&](std::string_view suffix) {
    return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
  };
  if (endsWith(".lzma") || endsWith(".xz")) return true;
  if (head.size() >= 6 && std::memcmp(head.data(),
                                      "\xFD"
                                      "7zXZ\0",
                                      6) == 0)
    return true;
  return startsWithXml(head);
}

std::string Xcsp3Model::variableName(std::int32_t x) const {
  const Entity& e = entities_[static_cast<std::size_t>(entityOf_[static_cast<std::size_t>(x)])];
  std::string name = e.name;
  std::int64_t element = elementOf_[static_cast<std::size_t>(x)];
  std::vector<std::int64_t> index(e.sizes.size());
  for (std::size_t d = e.sizes.size(); d-- > 0;) {
    index[d] = element % e.sizes[d];
    element /= e.sizes[d];
  }
  for (const std::int64_t i : index) {
    name += '[';
    name += std::to_string(i);
    name += ']';
  }
  return name;
}

std::string Xcsp3Model::valueText(std::int32_t x, std::int64_t value) const {
  if (symbolic_[static_cast<std::size_t>(x)] && value >= 0 &&
      value < static_cast<std::int64_t>(symbols_.size())) {
    return symbols_[static_cast<std::size_t>(value)];
  }
  return std::to_string(value);
}

bool Xcsp3Model::holds(const Check& check, const std::int64_t* values,
                       std::vector<std::int64_t>& scratch) const {
  const auto termValue = [&](const Term& t) { return t.variable ? values[t.value] : t.value; };
  switch (check.kind) {
    case Check::kSupports:
    case Check::kConflicts: {
      const ValueTable& table = *check.table;
      bool matched = false;
      if (table.unaryForm) {
        const std::int64_t v = termValue(check.terms[0]);
        for (std::size_t r = 0; r < table.ranges.size() && !matched; r += 2) {
          matched = table.ranges[r] <= v && v <= table.ranges[r + 1];
        }
      } else {
        const std::size_t arity = static_cast<std::size_t>(table.arity);
        for (std::size_t r = 0; r < table.entries.size() && !matched; r += arity) {
          matched = true;
          for (std::size_t i = 0; i < arity && matched; ++i) {
            const std::int32_t e = table.entries[r + i];
            matched = e == kTableStar || (e != kTableOutside && e == termValue(check.terms[i]));
          }
        }
      }
      return matched == (check.kind == Check::kSupports);
    }
    case Check::kIntension: {
      std::int64_t result = 0;
      return check.expression->evaluate(values, &result, scratch) && result != 0;
    }
    case Check::kAllDifferent: {
      scratch.clear();
      for (const Term& t : check.terms) scratch.push_back(termValue(t));
      std::sort(scratch.begin(), scratch.end());
      return std::adjacent_find(scratch.begin(), scratch.end()) == scratch.end();
    }
    case Check::kLists: {
      const std::size_t length = static_cast<std::size_t>(check.listLength);
      const std::size_t lists = check.terms.size() / length;
      for (std::size_t a = 0; a < lists; ++a) {
        for (std::size_t b = a + 1; b < lists; ++b) {
          bool same = true;
          for (std::size_t i = 0; i < length && same; ++i) {
            same = termValue(check.terms[a * length + i]) == termValue(check.terms[b * length + i]);
          }
          if (same) return false;
        }
      }
      return true;
    }
    case Check::kEqual:
      for (std::size_t i = 0; i + 1 < check.terms.size(); i += 2) {
        if (termValue(check.terms[i]) != check.terms[i + 1].value) return false;
      }
      return true;
  }
  return false;
}

std::int64_t Xcsp3Model::firstViolatedLine(const std::int64_t* values) const {
  for (std::size_t x = 0; x < domainOf_.size(); ++x) {
    const std::vector<std::int64_t>& d = domains_[static_cast<std::size_t>(domainOf_[x])];
    if (!std::binary_search(d.begin(), d.end(), values[x])) return variablesLine_;
  }
  std::vector<std::int64_t> scratch;
  for (const Check& check : checks_) {
    if (!holds(check, values, scratch)) return check.line;
  }
  return 0;
}

}  // namespace varnel
