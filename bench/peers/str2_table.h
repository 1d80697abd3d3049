// Str2Table: a table constraint kept generalised-arc-consistent by simple tabular reduction,
// STR2 (Lecoutre, "STR2: optimized simple tabular reduction for table constraints",
// Constraints 16(4), 2011). A peer of GAC4RTableCt for the table run, over the same tuples.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "varnel/table/tuple_table.h"

namespace varnel::bench {

// The constraint keeps one list of the indices of its valid tuples. A propagation walks that
// list once: a tuple is checked only on the variables whose domain shrank since the last walk
// (S_val), leaves the list by a swap with its last entry when it has become invalid, and
// otherwise marks its values as supported for the variables that still have unsupported values
// (S_sup), each of which drops out of the walk once all its values are marked. The values left
// unmarked then leave their domains. Domains are byte arrays over the value indices; no value
// ever comes back (there is no search, hence no trail of the list's size).
class Str2Table {
 public:
  // Copies the table's tuples (value indices, row by row) into one flat array and lists every
  // tuple as valid; every domain holds all the values of its column. Only reads `table`.
  explicit Str2Table(const TupleTable& table);

  // Number of variables.
  std::int32_t arity() const { return arity_; }
  // Number of value indices of variable i (its initial domain size).
  std::int32_t valueCount(std::int32_t i) const { return offsets_[i + 1] - offsets_[i]; }
  // Current domain size of variable i.
  std::int32_t domainSize(std::int32_t i) const { return domainSize_[i]; }
  // Whether value index v is in the domain of variable i.
  bool contains(std::int32_t i, std::int32_t v) const { return present_[offsets_[i] + v] != 0; }
  // Number of tuples still in the valid list.
  std::int32_t validTupleCount() const { return validCount_; }

  // Removes value v from the domain of variable i; nothing if it is not there. Nothing is
  // propagated until propagate().
  void removeValue(std::int32_t i, std::int32_t v);
  // One STR2 walk: drops the tuples made invalid by the removals since the last call and removes
  // every value left without a valid tuple. When no tuple stays valid, every domain is emptied.
  void propagate();

 private:
  std::int32_t arity_;
  std::unique_ptr<std::int32_t[]> rows_;   // tuple t's value indices at rows_[t * arity_ ..]
  std::unique_ptr<std::int32_t[]> valid_;  // the valid tuples are valid_[0 .. validCount_ - 1]
  std::int32_t validCount_;
  std::vector<std::int32_t> offsets_;    // variable i's values are at offsets_[i] .. [i + 1] - 1
  std::vector<std::uint8_t> present_;    // 1 when the value is in its variable's domain
  std::vector<std::uint8_t> supported_;  // gacValues: marked when a valid tuple has the value
  std::vector<std::int32_t> domainSize_;
  std::vector<std::int32_t> lastSize_;        // domain sizes at the end of the last walk
  std::vector<std::int32_t> supportedCount_;  // marked values of each S_sup variable
  std::vector<std::int32_t> sVal_;
  std::vector<std::int32_t> sSup_;
};

inline Str2Table::Str2Table(const TupleTable& table)
    : arity_(table.arity()),
      rows_(new std::int32_t[static_cast<std::size_t>(table.tupleCount()) *
                             static_cast<std::size_t>(table.arity())]),
      valid_(new std::int32_t[static_cast<std::size_t>(table.tupleCount())]),
      validCount_(table.tupleCount()),
      offsets_(static_cast<std::size_t>(table.arity()) + 1, 0),
      domainSize_(static_cast<std::size_t>(table.arity())),
      lastSize_(static_cast<std::size_t>(table.arity())),
      supportedCount_(static_cast<std::size_t>(table.arity()), 0),
      sVal_(static_cast<std::size_t>(table.arity())),
      sSup_(static_cast<std::size_t>(table.arity())) {
  const std::size_t width = static_cast<std::size_t>(arity_);
  for (std::int32_t t = 0; t < validCount_; ++t) {
    std::memcpy(&rows_[static_cast<std::size_t>(t) * width], table.tuple(t),
                width * sizeof(std::int32_t));
    valid_[t] = t;
  }
  for (std::int32_t i = 0; i < arity_; ++i) {
    // Every value index of a column occurs in some tuple, so the full domains are supported
    // and the first walk has nothing to check (lastSize equals the size).
    offsets_[i + 1] = offsets_[i] + table.valueCount(i);
    domainSize_[i] = lastSize_[i] = table.valueCount(i);
  }
  present_.assign(static_cast<std::size_t>(offsets_[arity_]), 1);
  supported_.assign(static_cast<std::size_t>(offsets_[arity_]), 0);
}

inline void Str2Table::removeValue(std::int32_t i, std::int32_t v) {
  std::uint8_t& present = present_[offsets_[i] + v];
  domainSize_[i] -= present;
  present = 0;
}

inline void Str2Table::propagate() {
  const std::int32_t* offsets = offsets_.data();
  std::int32_t* sVal = sVal_.data();
  std::int32_t* sSup = sSup_.data();
  std::int32_t valCount = 0;
  std::int32_t supCount = 0;
  for (std::int32_t x = 0; x < arity_; ++x) {
    if (domainSize_[x] != lastSize_[x]) sVal[valCount++] = x;
    // A variable with one value needs no support search: the value is supported as long as
    // any tuple stays valid, which the end of the walk checks.
    if (domainSize_[x] > 1) {
      sSup[supCount++] = x;
      supportedCount_[x] = 0;
      std::memset(&supported_[offsets[x]], 0, static_cast<std::size_t>(valueCount(x)));
    }
  }

  const std::uint8_t* present = present_.data();
  std::uint8_t* supported = supported_.data();
  std::int32_t* supportedCount = supportedCount_.data();
  const std::int32_t* domainSize = domainSize_.data();
  const std::int32_t* rows = rows_.get();
  std::int32_t* valid = valid_.get();
  const std::size_t width = static_cast<std::size_t>(arity_);
  std::int32_t limit = validCount_;
  std::int32_t k = 0;
  while (k < limit) {
    const std::int32_t t = valid[k];
    const std::int32_t* row = rows + static_cast<std::size_t>(t) * width;
    bool isValid = true;
    for (std::int32_t a = 0; a < valCount; ++a) {
      const std::int32_t x = sVal[a];
      if (present[offsets[x] + row[x]] == 0) {
        isValid = false;
        break;
      }
    }
    if (!isValid) {
      // removeTuple: swap with the last valid tuple and shorten the list.
      --limit;
      valid[k] = valid[limit];
      valid[limit] = t;
      continue;
    }
    for (std::int32_t a = 0; a < supCount;) {
      const std::int32_t x = sSup[a];
      std::uint8_t& mark = supported[offsets[x] + row[x]];
      if (mark == 0) {
        mark = 1;
        if (++supportedCount[x] == domainSize[x]) {
          // Every value of x has a valid tuple: x leaves S_sup for the rest of the walk.
          sSup[a] = sSup[--supCount];
          continue;
        }
      }
      ++a;
    }
    ++k;
  }
  validCount_ = limit;

  // The variables still in S_sup lose their unmarked values. Those values are in no valid tuple,
  // so their removal makes no listed tuple invalid and needs no further walk.
  for (std::int32_t a = 0; a < supCount; ++a) {
    const std::int32_t x = sSup[a];
    const std::int32_t base = offsets[x];
    for (std::int32_t v = 0; v < valueCount(x); ++v) {
      if (present_[base + v] != 0 && supported[base + v] == 0) {
        present_[base + v] = 0;
        --domainSize_[x];
      }
    }
  }
  if (limit == 0) {
    std::fill(present_.begin(), present_.end(), 0);
    std::fill(domainSize_.begin(), domainSize_.end(), 0);
  }
  lastSize_ = domainSize_;
}

}  // namespace varnel::bench
