// EscapeJsonString's output must always be the body of a strict JSON string
// whose value is valid UTF-8, and the input itself when that was valid UTF-8.
// JsonUnescape must agree with a strict reader wherever both apply.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/json_readers.h"
#include "base/json_writer.h"
#include "fuzz/fuzz_check.h"
#include "platform/encoding.h"

namespace {

void AppendUtf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// Length of the well-formed UTF-8 sequence at `i` (shortest form, no
// surrogates, at most U+10FFFF), or 0.
std::size_t Utf8LengthAt(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8LengthAt(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::optional<std::uint32_t> Hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t k = at; k < at + 4; ++k) {
    const char c = text[k];
    value <<= 4;
    if (c >= '0' && c <= '9') {
      value |= static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value |= static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      value |= static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
  }
  return value;
}

// The value of a JSON string literal's body as a strict reader sees it
// (RFC 8259, UTF-8 text, no lone surrogates), or nothing when it is not one.
std::optional<std::string> DecodeJsonStringBody(std::string_view body) {
  std::string out;
  std::size_t i = 0;
  while (i < body.size()) {
    const auto c = static_cast<unsigned char>(body[i]);
    if (c == '"' || c < 0x20) return std::nullopt;
    if (c >= 0x80) {
      const std::size_t length = Utf8LengthAt(body, i);
      if (length == 0) return std::nullopt;
      out.append(body.substr(i, length));
      i += length;
      continue;
    }
    if (c != '\\') {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (i + 1 >= body.size()) return std::nullopt;
    const char kind = body[i + 1];
    i += 2;
    // clang-format off: one escape per line, as a table
    switch (kind) {
      case '"':
        out += '"';
        break;
      case '\\':
        out += '\\';
        break;
      case '/':
        out += '/';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      // clang-format on
      case 'u': {
        const auto unit = Hex4(body, i);
        if (!unit) return std::nullopt;
        i += 4;
        std::uint32_t code_point = *unit;
        if (code_point >= 0xDC00 && code_point <= 0xDFFF) return std::nullopt;
        if (code_point >= 0xD800 && code_point <= 0xDBFF) {
          if (i + 1 >= body.size() || body[i] != '\\' || body[i + 1] != 'u') return std::nullopt;
          const auto low = Hex4(body, i + 2);
          if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
          i += 6;
          code_point = 0x10000 + ((code_point - 0xD800) << 10) + (*low - 0xDC00);
        }
        AppendUtf8(out, code_point);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

bool HasControlOtherThanTabOrLineBreak(std::string_view text) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillwave;
  using fuzz::Check;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const bool valid = IsValidUtf8(input);

  const std::string escaped = EscapeJsonString(input);
  const std::optional<std::string> decoded = DecodeJsonStringBody(escaped);
  Check(decoded.has_value(), "the escaped text is not a JSON string body");
  Check(IsValidUtf8(*decoded), "the escaped text stands for invalid UTF-8");
  if (valid) Check(*decoded == input, "valid UTF-8 does not come back unchanged");

  // JsonUnescape keeps \u escapes as written, so it inverts the escaping
  // only where no control character needed one.
  const std::string unescaped = JsonUnescape(escaped);
  if (valid && !HasControlOtherThanTabOrLineBreak(input)) {
    Check(unescaped == input, "JsonUnescape does not invert EscapeJsonString");
  }

  // On any text a strict reader accepts without \u escapes, both readers agree.
  const std::string raw_unescaped = JsonUnescape(input);
  Check(raw_unescaped.size() <= input.size(), "JsonUnescape made the text longer");
  if (input.find("\\u") == std::string::npos) {
    if (const auto strict = DecodeJsonStringBody(input)) {
      Check(raw_unescaped == *strict, "JsonUnescape differs from a strict reader");
    }
  }
  return 0;
}
