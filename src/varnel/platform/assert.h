// VARNEL_ASSERT: precondition checks for debug and sanitizer builds; nothing in release builds.
#pragma once

#if !defined(NDEBUG) || defined(VARNEL_ENABLE_ASSERTS)
#define VARNEL_ASSERTS_ON 1
#else
#define VARNEL_ASSERTS_ON 0
#endif

namespace varnel::detail {
[[noreturn]] void assertionFailed(const char* condition, const char* file, int line);
}  // namespace varnel::detail

#if VARNEL_ASSERTS_ON
#define VARNEL_ASSERT(condition)      \
  ((condition) ? static_cast<void>(0) \
               : ::varnel::detail::assertionFailed(#condition, __FILE__, __LINE__))
#else
#define VARNEL_ASSERT(condition) static_cast<void>(0)
#endif
