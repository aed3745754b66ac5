#include "base/json_writer.h"

#include <cstddef>
#include <cstdio>

namespace quillwave {
namespace {

struct Utf8Sequence {
  std::size_t length;  // bytes taken; for an ill-formed piece, its maximal subpart
  bool valid;
};

// The sequence that starts with the non-ASCII byte at `i`. Each ill-formed
// piece is reported once, so it is replaced once, and the byte that broke it
// starts the next sequence.
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

}  // namespace

std::string EscapeJsonString(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 8);
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) {
      // Copy valid multi-byte characters as they are; a cut or invalid one
      // would make the whole record unreadable for strict JSON readers.
      const Utf8Sequence sequence = Utf8SequenceAt(utf8, i);
      if (sequence.valid) {
        out.append(utf8.substr(i, sequence.length));
      } else {
        out += "\\ufffd";
      }
      i += sequence.length;
      continue;
    }
    // clang-format off: one escape per line, as a table
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
        // clang-format on
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out;
}

void AppendJsonStringMember(std::string& record, std::string_view key, std::string_view value) {
  record += ",\"";
  record += key;
  record += "\":\"";
  record += EscapeJsonString(value);
  record += '"';
}

}  // namespace quillwave
