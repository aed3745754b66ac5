// The files the launcher reads, the persona and the WebGL profiles, as UTF-8
// text, also when a Windows editor saved them as UTF-16.
#pragma once

#include <optional>
#include <string>

namespace quillwave {

// The file's text; UTF-16 with a byte-order mark is converted to UTF-8.
// Nothing when it cannot be read (see platform::ReadFileBytes).
std::optional<std::string> ReadTextFile(const std::wstring& path);

}  // namespace quillwave
