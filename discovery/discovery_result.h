// What discovery found, and the two flags through which the window and the
// lookup stop the launch.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

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

}  // namespace quillwave
