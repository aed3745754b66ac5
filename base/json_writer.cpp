#include "base/json_writer.h"

#include <cstddef>
#include <cstdio>

#include "base/utf8.h"

namespace quillwave {

std::string EscapeJsonString(std::string_view utf8, InvalidUtf8 invalid) {
  std::string out;
  out.reserve(utf8.size() + 8);
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) {
      // Copy valid multi-byte characters as they are; a cut or invalid one
      // would make the whole record unreadable for strict JSON readers.
      const Utf8Sequence sequence = Utf8SequenceAt(utf8, i);
      if (sequence.valid || invalid == InvalidUtf8::kKeep) {
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
