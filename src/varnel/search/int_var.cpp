// Building and releasing a variable's sparse set.
#include "varnel/search/int_var.h"

#include "varnel/memory/arrays.h"

namespace varnel {

IntVar::IntVar(Solver& solver, std::int32_t index, std::int32_t domainSize)
    : solver_(&solver),
      values_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(domainSize))),
      position_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(domainSize))),
      size_(domainSize),
      domainSize_(domainSize),
      index_(index),
      watcherCount_(0),
      stamp_(0),
      watchers_(nullptr) {
  VARNEL_ASSERT(domainSize >= 1);
  for (std::int32_t v = 0; v < domainSize; ++v) {
    values_[v] = v;
    position_[v] = v;
  }
}

IntVar::~IntVar() {
  freeArray(position_, static_cast<std::uint64_t>(domainSize_));
  freeArray(values_, static_cast<std::uint64_t>(domainSize_));
}

}  // namespace varnel
