// What discovery found, handed from the worker to the main thread, and the
// two flags through which the window and the worker stop the launch; and
// the session that holds them for one launch.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "discovery/progress_steps.h"
#include "platform/cancellation.h"

namespace quillwave {

struct DiscoveryResult {
  std::string egress_ip;
  std::string country_code;
  std::string timezone;
  std::string provider;
  std::int64_t elapsed_ms = 0;
  std::wstring webrtc_public_ip;
  std::wstring geo_lat;
  std::wstring geo_lng;
  std::wstring lang;
  std::wstring accept_language;
  std::wstring timezone_override;
  std::atomic<bool> aborted{false};
  std::atomic<bool> blocked{false};
};

// What one launch shares between the main thread, the discovery worker and
// the progress window. Held under shared ownership: the worker may outlive
// the main thread's wait for it. `cancel` stops the lookup at once, curl
// and pauses included: raised by the person's close (after `aborted`) and
// by the system's request to end the launcher.
struct LaunchSession {
  ProgressSteps steps;
  DiscoveryResult result;
  platform::Cancellation cancel;
};

}  // namespace quillwave
