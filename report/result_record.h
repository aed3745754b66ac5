// The one-line JSON record of every launch that reaches a decision.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillwave {

inline constexpr char kResultRecordName[] = ".corvane-launcher-result.json";

// What a launch came to, as the record states it. The discovery members stay
// empty when nothing was discovered.
struct LaunchOutcome {
  std::string status{};
  std::int64_t elapsed_ms = 0;
  std::string error_code{};
  std::string message{};
  std::string ip{};
  std::string timezone{};
  std::string country_code{};
  std::string lat{};
  std::string lng{};
  std::string lang{};
  std::string accept_lang{};
  std::string provider{};
};

// A path as the record's message names it: UTF-8 (a byte or character no
// UTF-8 holds becomes U+FFFD) with '%', ';' and every control character
// (below U+0020, U+007F to U+009F) percent-encoded byte by byte, "%3B" for
// ';'. So no name can hold the separator "; " of the notes or end a line,
// and a reader can always tell where a note ends.
std::string PathInNote(std::wstring_view path);

// The record text, fifteen members in fixed order, ending in "}\n".
std::string FormatResultRecord(const LaunchOutcome& outcome, std::string_view timestamp);

// Writes the record to `path` atomically; an empty path or any failure is
// silent.
void WriteResultRecord(const std::wstring& path, const LaunchOutcome& outcome);

}  // namespace quillwave
