// Writing JSON by hand: string bodies escaped so that any bytes give a
// record strict readers accept.
#pragma once

#include <string>
#include <string_view>

namespace quillwave {

// What becomes of a byte that is part of no valid UTF-8 sequence: kReplace
// writes \ufffd for each ill-formed piece, so the output is always valid
// UTF-8; kKeep leaves the bytes as they are for the caller to show.
enum class InvalidUtf8 { kReplace, kKeep };

// The body of a JSON string literal (no surrounding quotes).
std::string EscapeJsonString(std::string_view utf8, InvalidUtf8 invalid = InvalidUtf8::kReplace);

// Appends `,"key":"escaped value"` to a record being built.
void AppendJsonStringMember(std::string& record, std::string_view key, std::string_view value);

}  // namespace quillwave
