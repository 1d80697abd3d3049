// CspInstance: a constraint satisfaction problem as plain data: variables with their values,
// and constraints over them: tables of allowed tuples (supports) or of forbidden ones
// (conflicts), either of which may hold the wildcard kStar, and allDifferent. Read only once
// built, so that several threads can each build their own search over one instance.
#pragma once

#include <cstdint>

#include "varnel/solver/reversible.h"

namespace varnel {

// What a constraint of an instance says.
enum class ConstraintKind : std::uint8_t {
  kSupports,      // a table: the scope's values must match one of its tuples
  kConflicts,     // a table: the scope's values must match none of its tuples
  kAllDifferent,  // the scope's lists of variables pairwise differ (see addAllDifferent)
};

// A table entry that matches every value of its variable (a "short" tuple).
inline constexpr std::int32_t kStar = -1;

class CspInstance : public Reversible {
 public:
  // `varCount` variables (>= 0), each with an empty domain until setDomain.
  explicit CspInstance(std::int32_t varCount);
  ~CspInstance() override;

  // Variable x takes the `count` (>= 1) values of `values`, distinct and increasing: value
  // index k stands for values[k], so the smallest index is the smallest value.
  void setDomain(std::int32_t x, const std::int64_t* values, std::int32_t count);
  // Appends a table over `arity` distinct variables allowing the numTuples rows of `tuples`,
  // row-major, each entry the value index of its variable (0 <= entry < domain size).
  void addConstraint(const std::int32_t* scope, std::int32_t arity, const std::int32_t* tuples,
                     std::int32_t numTuples) {
    addTable(ConstraintKind::kSupports, scope, arity, tuples, numTuples);
  }
  // Appends a table of `kind` kSupports or kConflicts over `arity` distinct variables, whose
  // entries are value indices or kStar.
  void addTable(ConstraintKind kind, const std::int32_t* scope, std::int32_t arity,
                const std::int32_t* tuples, std::int32_t numTuples);
  // Appends an allDifferent over `listCount` lists of `listLength` variables each, side by side
  // in `vars`. One list: its variables take pairwise different values. Several lists: the lists
  // pairwise differ as tuples (at some position); a variable may then stand in several lists.
  void addAllDifferent(const std::int32_t* vars, std::int32_t listLength, std::int32_t listCount);
  // Narrows domains in place. For each x whose renumber[x] is not null, value index k becomes
  // renumber[x][k], or leaves the domain when that is -1; the indices kept must run 0, 1, ...
  // in order, and at least one must be kept. A table row naming a value that left is dropped
  // and the others are renumbered; constraints over no narrowed variable are not touched.
  void keepValues(const std::int32_t* const* renumber);

  std::int32_t varCount() const { return varCount_; }
  std::int32_t domainSize(std::int32_t x) const { return domainSizes_[x]; }
  // The value that index k of variable x stands for.
  std::int64_t value(std::int32_t x, std::int32_t k) const { return domains_[x][k]; }
  // Variable x's values, increasing (domainSize(x) of them).
  const std::int64_t* values(std::int32_t x) const { return domains_[x]; }
  std::int32_t constraintCount() const { return constraintCount_; }
  ConstraintKind kind(std::int32_t c) const { return constraints_[c].kind; }
  // True when constraint c is a table (supports or conflicts).
  bool isTable(std::int32_t c) const {
    return constraints_[c].kind != ConstraintKind::kAllDifferent;
  }
  // True when table c holds kStar somewhere.
  bool hasStars(std::int32_t c) const { return constraints_[c].stars; }
  // The length of the scope: the table's arity, or listLength x listCount for an allDifferent.
  std::int32_t arity(std::int32_t c) const { return constraints_[c].arity; }
  const std::int32_t* scope(std::int32_t c) const { return constraints_[c].scope; }
  // Tables: the tuple count; allDifferent: 0.
  std::int32_t tupleCount(std::int32_t c) const { return constraints_[c].numTuples; }
  // Row-major entries of table c's tuples.
  const std::int32_t* tuples(std::int32_t c) const { return constraints_[c].tuples; }
  // allDifferent c: how many lists (1 for the plain form) and the length of each.
  std::int32_t listCount(std::int32_t c) const { return constraints_[c].lists; }
  std::int32_t listLength(std::int32_t c) const {
    return constraints_[c].arity / constraints_[c].lists;
  }
  // True when every constraint is a positive table without kStar: an instance every propagator
  // and peer reads.
  bool onlyPositiveTables() const;
  // Sum of the tables' sizes.
  std::int64_t totalTuples() const;
  // True when constraint c allows the assignment `values` (one value per variable of the
  // instance, the values themselves, not their indices). A plain scan, independent of any
  // propagator.
  bool allows(std::int32_t c, const std::int64_t* values) const;
  // The first constraint that does not allow `values`, or -1 when every one allows it: the check
  // of a solution before it is shown.
  std::int32_t firstViolatedConstraint(const std::int64_t* values) const;

 private:
  struct Table {
    std::int32_t* scope;
    std::int32_t* tuples;  // null for an allDifferent
    std::int32_t arity;
    std::int32_t numTuples;
    std::int32_t lists;  // allDifferent: the number of lists; tables: 1
    ConstraintKind kind;
    bool stars;
  };
  Table& appendConstraint(ConstraintKind kind, const std::int32_t* scope, std::int32_t arity);

  std::int32_t varCount_;
  std::int32_t* domainSizes_;
  std::int64_t** domains_;
  Table* constraints_;
  std::int32_t constraintCount_;
  std::int32_t constraintCapacity_;
};

// A copy of `from` in the calling thread's pools, stored array by array in the order
// readInstance stores an instance, so that both leave the pools alike.
CspInstance* copyInstance(const CspInstance& from);

}  // namespace varnel
