#include "platform/cancellation.h"

namespace quillwave::platform {

bool Cancellation::WaitFor(std::chrono::milliseconds limit) const { return WaitForAny({this}, limit); }

bool WaitForAny(std::initializer_list<const Cancellation*> events, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    for (const Cancellation* event : events) {
      if (event->raised()) return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    WaitOnceOnAny(events, left);
  }
}

}  // namespace quillwave::platform
