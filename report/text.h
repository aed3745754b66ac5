// Text and file primitives shared by every subsystem: the UTF-8/wide
// conversions, JSON string escaping, the UTC timestamp of the records and
// the atomic file replacement.
#pragma once

#include <string>
#include <string_view>

#include "platform/system.h"

namespace quillwave {

inline constexpr char kLauncherVersion[] = "0.32.0";

// UTF-8 -> wide and back; malformed input is replaced, never rejected.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// The body of a JSON string literal (no surrounding quotes). The output is
// always valid UTF-8: an invalid or truncated sequence becomes \ufffd.
std::string EscapeJsonString(std::string_view utf8);

// Appends `,"key":"escaped value"` to a record being built.
void AppendJsonStringMember(std::string& record, std::string_view key, std::string_view value);

// "YYYY-MM-DDTHH:MM:SSZ".
std::string FormatUtcTimestamp(const platform::UtcTime& time);
std::string UtcTimestamp();

// Replaces `target` so that a reader sees the old or the complete new
// content, never a mix: writes `target`.tmp in the same folder, then renames.
// Never creates folders; leaves no temporary file behind on failure.
bool WriteFileAtomic(const std::wstring& target, std::string_view content);

}  // namespace quillwave
