#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "platform/cancellation.h"

namespace quillwave::platform {

Cancellation::Cancellation()
    : waitable_(reinterpret_cast<std::intptr_t>(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
  if (waitable_ == 0) waitable_ = -1;
}

Cancellation::~Cancellation() {
  if (waitable_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(waitable_));
}

void Cancellation::Raise() noexcept {
  if (raised_.exchange(true) || waitable_ == -1) return;
  ::SetEvent(reinterpret_cast<HANDLE>(waitable_));
}

void Cancellation::WaitOnce(std::int64_t limit_ms) const {
  if (waitable_ == -1) {
    ::Sleep(static_cast<DWORD>(std::min<std::int64_t>(limit_ms, 10)));
  } else {
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(waitable_),
                          static_cast<DWORD>(std::min<std::int64_t>(limit_ms, 1 << 30)));
  }
}

// A GUI program on Windows receives no stop request of this kind: the
// person's close is its one way to cancel.
struct StopRequests::Saved {};

StopRequests::StopRequests(Cancellation& /*cancel*/) {}

StopRequests::~StopRequests() = default;

int StopRequests::Finish() { return 0; }

void EndAsRequested(int request) { std::_Exit(request); }

}  // namespace quillwave::platform
