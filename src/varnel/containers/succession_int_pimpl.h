// SuccessionIntPimpl: an 8-byte handle to a pooled SuccessionInt, to measure the cost of one
// more indirection against the plain object.
#pragma once

#include <cstdint>

#include "varnel/containers/succession_int.h"
#include "varnel/memory/pooled.h"

namespace varnel {

class SuccessionIntPimpl {
 public:
  explicit SuccessionIntPimpl(std::int32_t capacity) : impl_(newPooled<SuccessionInt>(capacity)) {}
  ~SuccessionIntPimpl() { deletePooled(impl_); }
  SuccessionIntPimpl(const SuccessionIntPimpl&) = delete;
  SuccessionIntPimpl& operator=(const SuccessionIntPimpl&) = delete;

  void pushBack(std::int32_t v) { impl_->pushBack(v); }
  std::int32_t size() const { return impl_->size(); }
  std::int32_t& operator[](std::int32_t i) { return (*impl_)[i]; }
  const std::int32_t& operator[](std::int32_t i) const { return (*impl_)[i]; }
  // The sequence behind the handle.
  SuccessionInt& impl() { return *impl_; }

 private:
  SuccessionInt* impl_;
};

static_assert(sizeof(SuccessionIntPimpl) == 8, "the handle is one pointer");

}  // namespace varnel
