// Writing JSON by hand: string bodies escaped so that any bytes give a
// record strict readers accept.
#pragma once

#include <string>
#include <string_view>

namespace quillwave {

// The body of a JSON string literal (no surrounding quotes). The output is
// always valid UTF-8: an invalid or truncated sequence becomes \ufffd.
std::string EscapeJsonString(std::string_view utf8);

// Appends `,"key":"escaped value"` to a record being built.
void AppendJsonStringMember(std::string& record, std::string_view key, std::string_view value);

}  // namespace quillwave
