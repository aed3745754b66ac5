// UTF-8 <-> wide conversion at the system edge. Malformed input is replaced
// with U+FFFD, never rejected. Wide strings are UTF-16 on Windows and hold
// one code point per wchar_t elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace quillwave::platform {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace quillwave::platform

namespace quillwave {

// The two conversions every other layer uses.
inline std::wstring Widen(std::string_view utf8) { return platform::Utf8ToWide(utf8); }
inline std::string Narrow(std::wstring_view wide) { return platform::WideToUtf8(wide); }

}  // namespace quillwave
