// The one-line JSON record of a discovery that failed at every endpoint.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillwave {

inline constexpr char kErrorRecordName[] = ".corvane-launcher-error.json";

struct ErrorReport {
  std::string step;
  std::string error_code;
  std::string message;
  std::string proxy;                 // empty: left out
  std::string discovery_url;         // empty: left out
  std::int32_t curl_exit_code = -1;  // negative: left out
  std::int64_t elapsed_ms = 0;
};

// The record text, ending in "}\n"; the time is given, so the text can be
// compared exactly.
std::string FormatErrorRecord(const ErrorReport& report, std::string_view timestamp);

}  // namespace quillwave
