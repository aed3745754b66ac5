#include "base/utf16_text.h"

#include "base/utf8.h"

namespace quillwave {
namespace {

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

ByteOrderMark Utf16ByteOrderMark(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) return ByteOrderMark::kUtf16LittleEndian;
  if (bytes.starts_with("\xFE\xFF")) return ByteOrderMark::kUtf16BigEndian;
  return ByteOrderMark::kNone;
}

std::string FileTextAsUtf8(std::string bytes) {
  const ByteOrderMark mark = Utf16ByteOrderMark(bytes);
  if (mark == ByteOrderMark::kNone) return bytes;
  const bool little = mark == ByteOrderMark::kUtf16LittleEndian;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  const auto unit_at = [&](std::size_t i) -> char32_t {
    return little ? p[i] | (p[i + 1] << 8) : (p[i] << 8) | p[i + 1];
  };
  std::string out;
  out.reserve(n / 2);  // ASCII text halves; others grow on demand
  std::size_t i = 2;
  for (; i + 1 < n; i += 2) {
    const char32_t unit = unit_at(i);
    if (IsHighSurrogate(unit) && i + 3 < n && IsLowSurrogate(unit_at(i + 2))) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unit_at(i + 2) - 0xDC00));
      i += 2;
    } else {
      AppendUtf8(out, IsHighSurrogate(unit) || IsLowSurrogate(unit) ? 0xFFFD : unit);
    }
  }
  if (i < n) AppendUtf8(out, 0xFFFD);  // half a unit at the end
  return out;
}

std::string Utf8AsFileText(std::string_view text, ByteOrderMark mark) {
  if (mark == ByteOrderMark::kNone) return std::string(text);
  const bool little = mark == ByteOrderMark::kUtf16LittleEndian;
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  out.reserve(2 + text.size() * 2);
  const auto append_unit = [&](char32_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out += little ? low : high;
    out += little ? high : low;
  };
  for (std::size_t i = 0; i < text.size();) {
    char32_t code_point = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    if (code_point >= 0x80) {
      const Utf8Sequence sequence = Utf8SequenceAt(text, i);
      length = sequence.length;
      code_point = sequence.valid ? CodePointOf(text.substr(i, length)) : 0xFFFD;
    }
    i += length;
    if (code_point >= 0x10000) {
      append_unit(0xD800 + ((code_point - 0x10000) >> 10));
      append_unit(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    } else {
      append_unit(code_point);
    }
  }
  return out;
}

}  // namespace quillwave
