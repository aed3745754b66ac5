#include "platform/cancellation.h"

namespace quillwave::platform {

bool Cancellation::WaitFor(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (raised()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    WaitOnce(left);
  }
}

}  // namespace quillwave::platform
