// Character classes of ASCII text, alike for narrow and wide text. <cctype>
// answers by the locale and is undefined for a negative char; formats the
// launcher reads and writes (addresses, JSON, file names) are ASCII whatever
// the locale.
#pragma once

namespace quillwave {

template <typename Char>
constexpr bool IsAsciiDigit(Char c) {
  return c >= Char('0') && c <= Char('9');
}

template <typename Char>
constexpr bool IsAsciiLowerHexDigit(Char c) {
  return IsAsciiDigit(c) || (c >= Char('a') && c <= Char('f'));
}

template <typename Char>
constexpr bool IsAsciiHexDigit(Char c) {
  return IsAsciiLowerHexDigit(c) || (c >= Char('A') && c <= Char('F'));
}

template <typename Char>
constexpr bool IsAsciiLetter(Char c) {
  return (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z'));
}

}  // namespace quillwave
