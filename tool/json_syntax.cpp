#include "tool/json_syntax.h"

#include <string>

#include "base/ascii.h"
#include "base/utf8.h"

namespace quillwave {
namespace {

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

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
    } else if (c == '-' || IsAsciiDigit(c)) {
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
      while (at < n && IsAsciiDigit(text_[at])) ++at;
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
            if (i + k >= n || !IsAsciiHexDigit(text_[i + k])) return JsonSyntaxError{i, "invalid escape in a string"};
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
