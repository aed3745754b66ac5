// UTF-8 <-> wide conversion at the system edge. Malformed input is replaced
// with U+FFFD, never rejected. Wide strings are UTF-16 on Windows and hold
// one code point per wchar_t elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace quillwave::platform {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

#ifndef _WIN32
// The bytes POSIX hands over and takes (arguments, paths, environment
// values), which need not be UTF-8, as wide strings and back without loss:
// UTF-8 decodes as usual and each byte of an ill-formed sequence becomes
// U+DC80 to U+DCFF, which no UTF-8 decodes to, so WideToBytes gives every
// byte back. Text for people or records still goes through Narrow, which
// shows such a byte as U+FFFD.
std::wstring BytesToWide(std::string_view bytes);
std::string WideToBytes(std::wstring_view wide);
#endif

// A path or argument as the system holds it, for showing it exactly: on
// POSIX its very bytes, on Windows (UTF-16 names) its UTF-8.
inline std::string SystemBytes(std::wstring_view wide) {
#ifdef _WIN32
  return WideToUtf8(wide);
#else
  return WideToBytes(wide);
#endif
}

}  // namespace quillwave::platform

namespace quillwave {

// The two conversions every other layer uses.
inline std::wstring Widen(std::string_view utf8) { return platform::Utf8ToWide(utf8); }
inline std::string Narrow(std::wstring_view wide) { return platform::WideToUtf8(wide); }

}  // namespace quillwave
