// CspInstance: a constraint satisfaction problem as plain data: variables with their values,
// and positive tables over them. Read only once built, so that several threads can each build
// their own search over one instance.
#pragma once

#include <cstdint>

#include "varnel/solver/reversible.h"

namespace varnel {

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
                     std::int32_t numTuples);

  std::int32_t varCount() const { return varCount_; }
  std::int32_t domainSize(std::int32_t x) const { return domainSizes_[x]; }
  // The value that index k of variable x stands for.
  std::int64_t value(std::int32_t x, std::int32_t k) const { return domains_[x][k]; }
  // Variable x's values, increasing (domainSize(x) of them).
  const std::int64_t* values(std::int32_t x) const { return domains_[x]; }
  std::int32_t constraintCount() const { return constraintCount_; }
  std::int32_t arity(std::int32_t c) const { return constraints_[c].arity; }
  const std::int32_t* scope(std::int32_t c) const { return constraints_[c].scope; }
  std::int32_t tupleCount(std::int32_t c) const { return constraints_[c].numTuples; }
  // Row-major value indices of constraint c's tuples.
  const std::int32_t* tuples(std::int32_t c) const { return constraints_[c].tuples; }
  // Sum of the tables' sizes.
  std::int64_t totalTuples() const;
  // The first table that does not allow the assignment `values` (one value per variable, the
  // values themselves, not their indices), or -1 when every table allows it. A plain scan of
  // every tuple, independent of any propagator: the check of a solution before it is shown.
  std::int32_t firstViolatedTable(const std::int64_t* values) const;

 private:
  struct Table {
    std::int32_t* scope;
    std::int32_t* tuples;
    std::int32_t arity;
    std::int32_t numTuples;
  };

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
