// Storage of the POSIX thread-local slot.
#include "varnel/platform/thread_slot.h"

namespace varnel::platform::detail {
constinit thread_local void* threadSlotValue __attribute__((tls_model("initial-exec"))) = nullptr;
}  // namespace varnel::platform::detail
