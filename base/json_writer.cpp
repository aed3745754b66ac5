#include "base/json_writer.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdio>

#include "base/utf8.h"

namespace quillwave {
namespace {

// The bytes that stand for themselves inside a JSON string: printable ASCII
// and DEL, but for the quote and the backslash.
constexpr std::array<bool, 256> kPlainBytes = [] {
  std::array<bool, 256> plain{};
  for (std::size_t c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();

// The one escaping path: appends the string body straight to the text
// being built.
void AppendEscaped(std::string& out, std::string_view utf8, InvalidUtf8 invalid) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    // Plain ASCII, the bulk of every text, goes in runs.
    std::size_t plain = i;
    while (plain < utf8.size() && kPlainBytes[static_cast<unsigned char>(utf8[plain])]) ++plain;
    out.append(utf8.data() + i, plain - i);
    i = plain;
    if (i == utf8.size()) break;
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) {
      // Copy valid multi-byte characters as they are; a cut or invalid one
      // would make the whole text unreadable for strict JSON readers.
      const Utf8Sequence sequence = Utf8SequenceAt(utf8, i);
      if (sequence.valid || invalid == InvalidUtf8::kKeep) {
        out.append(utf8.data() + i, sequence.length);
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
      default: {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
        out += escaped;
      }
    }
    ++i;
  }
}

}  // namespace

std::string EscapeJsonString(std::string_view utf8, InvalidUtf8 invalid) {
  std::string out;
  out.reserve(utf8.size() + 8);
  AppendEscaped(out, utf8, invalid);
  return out;
}

// A comma unless the value is the first in its object or array (or the
// first of the text), or follows its key.
void JsonWriter::Separate() {
  if (text_.empty()) return;
  const char last = text_.back();
  if (last != '{' && last != '[' && last != ':') text_ += ',';
}

void JsonWriter::Key(std::string_view key) {
  Separate();
  text_ += '"';
  AppendEscaped(text_, key, invalid_);
  text_ += "\":";
}

JsonWriter& JsonWriter::Open(char bracket) {
  Separate();
  text_ += bracket;
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  text_ += bracket;
  return *this;
}

JsonWriter& JsonWriter::BeginObject() { return Open('{'); }

JsonWriter& JsonWriter::BeginObject(std::string_view key) {
  Key(key);
  return Open('{');
}

JsonWriter& JsonWriter::EndObject() { return Close('}'); }

JsonWriter& JsonWriter::BeginArray() { return Open('['); }

JsonWriter& JsonWriter::BeginArray(std::string_view key) {
  Key(key);
  return Open('[');
}

JsonWriter& JsonWriter::EndArray() { return Close(']'); }

JsonWriter& JsonWriter::String(std::string_view value) {
  Separate();
  text_ += '"';
  AppendEscaped(text_, value, invalid_);
  text_ += '"';
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view key, std::string_view value) {
  Key(key);
  return String(value);
}

JsonWriter& JsonWriter::Integer(std::int64_t value) {
  char digits[24];
  // 20 characters hold every 64-bit integer with its sign.
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return Raw(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

JsonWriter& JsonWriter::Integer(std::string_view key, std::int64_t value) {
  Key(key);
  return Integer(value);
}

JsonWriter& JsonWriter::Boolean(bool value) { return Raw(value ? "true" : "false"); }

JsonWriter& JsonWriter::Boolean(std::string_view key, bool value) {
  Key(key);
  return Boolean(value);
}

JsonWriter& JsonWriter::Raw(std::string_view json) {
  Separate();
  text_ += json;
  return *this;
}

JsonWriter& JsonWriter::Raw(std::string_view key, std::string_view json) {
  Key(key);
  return Raw(json);
}

}  // namespace quillwave
