#include "tool/json_syntax.h"

#include <string>

namespace quillwave {
namespace {

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The length of the well-formed UTF-8 sequence of more than one byte at
// `i`, or 0.
std::size_t MultiByteSequenceAt(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char b0 = byte(i);
  std::size_t need = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i <= need) return 0;
  for (std::size_t k = 1; k <= need; ++k) {
    if (byte(i + k) < (k == 1 ? lo : 0x80) || byte(i + k) > (k == 1 ? hi : 0xBF)) return 0;
  }
  return need + 1;
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::optional<JsonSyntaxError> Run() {
    std::size_t i = text_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    Next next = Next::kValue;
    while (true) {
      while (i < text_.size() && IsJsonSpace(text_[i])) ++i;
      if (i == text_.size()) {
        if (next == Next::kNothing) return std::nullopt;
        return JsonSyntaxError{i, "unexpected end of text"};
      }
      const char c = text_[i];
      switch (next) {
        case Next::kNothing:
          return JsonSyntaxError{i, "text after the end of the JSON value"};
        case Next::kColon:
          if (c != ':') return JsonSyntaxError{i, "expected ':'"};
          ++i;
          next = Next::kValue;
          continue;
        case Next::kCommaOrEnd:
          if (c == ',') {
            ++i;
            next = open_.back() == '{' ? Next::kKey : Next::kValue;
          } else if (c == (open_.back() == '{' ? '}' : ']')) {
            ++i;
            next = Close();
          } else {
            return JsonSyntaxError{i, open_.back() == '{' ? "expected ',' or '}'" : "expected ',' or ']'"};
          }
          continue;
        case Next::kFirstKeyOrEnd:
          if (c == '}') {
            ++i;
            next = Close();
            continue;
          }
          [[fallthrough]];
        case Next::kKey:
          if (c != '"') return JsonSyntaxError{i, "expected a key in double quotes"};
          if (const auto error = String(i)) return error;
          next = Next::kColon;
          continue;
        case Next::kFirstValueOrEnd:
          if (c == ']') {
            ++i;
            next = Close();
            continue;
          }
          [[fallthrough]];
        case Next::kValue:
          if (const auto error = Value(i, next)) return error;
          continue;
      }
    }
  }

 private:
  enum class Next { kValue, kFirstValueOrEnd, kFirstKeyOrEnd, kKey, kColon, kCommaOrEnd, kNothing };

  Next AfterValue() const { return open_.empty() ? Next::kNothing : Next::kCommaOrEnd; }

  Next Close() {
    open_.pop_back();
    return AfterValue();
  }

  // A value starting at `i`; on success `i` is just past it (or inside a
  // container just opened) and `next` says what may follow.
  std::optional<JsonSyntaxError> Value(std::size_t& i, Next& next) {
    const char c = text_[i];
    if (c == '{' || c == '[') {
      open_ += c;
      ++i;
      next = c == '{' ? Next::kFirstKeyOrEnd : Next::kFirstValueOrEnd;
      return std::nullopt;
    }
    std::optional<JsonSyntaxError> error;
    if (c == '"') {
      error = String(i);
    } else if (c == '-' || IsDigit(c)) {
      error = Number(i);
    } else if (!Literal(i, "true") && !Literal(i, "false") && !Literal(i, "null")) {
      error = JsonSyntaxError{i, "expected a value"};
    }
    next = AfterValue();
    return error;
  }

  bool Literal(std::size_t& i, std::string_view word) const {
    if (text_.compare(i, word.size(), word) != 0) return false;
    i += word.size();
    return true;
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
  std::optional<JsonSyntaxError> Number(std::size_t& i) const {
    const std::size_t n = text_.size();
    const auto digits = [&](std::size_t& at) {
      const std::size_t from = at;
      while (at < n && IsDigit(text_[at])) ++at;
      return at > from;
    };
    if (text_[i] == '-') ++i;
    if (i < n && text_[i] == '0') {
      ++i;
    } else if (!digits(i)) {
      return JsonSyntaxError{i, "invalid number"};
    }
    if (i < n && text_[i] == '.' && !digits(++i)) return JsonSyntaxError{i, "invalid number"};
    if (i < n && (text_[i] == 'e' || text_[i] == 'E')) {
      ++i;
      if (i < n && (text_[i] == '+' || text_[i] == '-')) ++i;
      if (!digits(i)) return JsonSyntaxError{i, "invalid number"};
    }
    return std::nullopt;
  }

  // A string from its opening quote at `i`; on success `i` is past its closing quote.
  std::optional<JsonSyntaxError> String(std::size_t& i) const {
    const std::size_t n = text_.size();
    for (++i; i < n;) {
      const auto c = static_cast<unsigned char>(text_[i]);
      if (c == '"') {
        ++i;
        return std::nullopt;
      }
      if (c < 0x20) return JsonSyntaxError{i, "control character in a string"};
      if (c == '\\') {
        if (i + 1 == n) break;
        const char e = text_[i + 1];
        if (e == 'u') {
          for (std::size_t k = 2; k < 6; ++k) {
            if (i + k >= n || !IsHexDigit(text_[i + k])) return JsonSyntaxError{i, "invalid escape in a string"};
          }
          i += 6;
        } else if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) {
          i += 2;
        } else {
          return JsonSyntaxError{i, "invalid escape in a string"};
        }
      } else if (c < 0x80) {
        ++i;
      } else {
        const std::size_t length = MultiByteSequenceAt(text_, i);
        if (length == 0) return JsonSyntaxError{i, "invalid UTF-8"};
        i += length;
      }
    }
    return JsonSyntaxError{n, "unexpected end of text"};
  }

  std::string_view text_;
  std::string open_;  // the containers around the position, innermost last
};

}  // namespace

std::optional<JsonSyntaxError> FindJsonSyntaxError(std::string_view text) { return Scanner(text).Run(); }

}  // namespace quillwave
