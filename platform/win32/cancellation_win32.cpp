#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/cancellation.h"

namespace quillwave::platform {

bool WaitableTraits::Close(HANDLE event) { return ::CloseHandle(event) != 0; }

Cancellation::Cancellation() : waitable_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

std::intptr_t Cancellation::waitable() const noexcept {
  return waitable_.valid() ? reinterpret_cast<std::intptr_t>(waitable_.get()) : -1;
}

void Cancellation::Raise() noexcept {
  if (raised_.exchange(true) || !waitable_.valid()) return;
  ::SetEvent(waitable_.get());
}

void WaitOnceOnAny(std::initializer_list<const Cancellation*> events, std::int64_t limit_ms) {
  std::vector<HANDLE> watched;
  watched.reserve(events.size());
  bool blind = events.size() == 0 || events.size() > MAXIMUM_WAIT_OBJECTS;
  for (const Cancellation* event : events) {
    // An event the system gave no handle is only seen by looking again.
    blind = blind || event->waitable() == -1;
    watched.push_back(reinterpret_cast<HANDLE>(event->waitable()));
  }
  if (blind) {
    ::Sleep(static_cast<DWORD>(std::min<std::int64_t>(limit_ms, 10)));
    return;
  }
  ::WaitForMultipleObjects(static_cast<DWORD>(watched.size()), watched.data(), FALSE,
                           static_cast<DWORD>(std::min<std::int64_t>(limit_ms, 1 << 30)));
}

// A GUI program on Windows receives no stop request of this kind: the
// person's close is its one way to cancel.
struct StopRequests::Saved {};

StopRequests::StopRequests(Cancellation& /*cancel*/) {}

StopRequests::~StopRequests() = default;

int StopRequests::Finish() { return 0; }

void EndAsRequested(int request) { std::_Exit(request); }

}  // namespace quillwave::platform
