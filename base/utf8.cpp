#include "base/utf8.h"

namespace quillwave {

Utf8Sequence Utf8SequenceAt(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t need = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return {1, false};
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= text.size()) return {k, false};
    const auto b = static_cast<unsigned char>(text[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return {k, false};
  }
  return {need + 1, true};
}

char32_t CodePointOf(std::string_view valid_sequence) {
  static constexpr unsigned char kLeadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
  char32_t cp = static_cast<unsigned char>(valid_sequence[0]) & kLeadBits[valid_sequence.size() - 1];
  for (std::size_t k = 1; k < valid_sequence.size(); ++k) {
    cp = (cp << 6) | (static_cast<unsigned char>(valid_sequence[k]) & 0x3F);
  }
  return cp;
}

void AppendUtf8(std::string& out, char32_t code_point) {
  const char32_t cp = code_point;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace quillwave
