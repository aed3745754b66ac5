#include "tool/findings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "base/utf8.h"

namespace quillwave {
namespace {

constexpr std::size_t kMarkSpacing = 4096;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

void AppendEscaped(std::string& out, const char* format, unsigned value) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, format, value);
  out += escaped;
}

void AddPosition(JsonWriter& json, std::string_view key, std::size_t value) {
  if (value == 0) {
    json.Raw(key, "null");
  } else {
    json.Integer(key, static_cast<std::int64_t>(value));
  }
}

}  // namespace

int ExitCodeFor(const std::vector<Finding>& findings) {
  int code = 0;
  for (const Finding& finding : findings) {
    if (finding.severity == kSeverityError) code = 2;
    if (finding.severity == kSeverityWarning) code = std::max(code, 1);
  }
  return code;
}

TextPositions::TextPositions(std::string_view text) : text_(text), start_(text.starts_with("\xEF\xBB\xBF") ? 3 : 0) {
  marks_.reserve((text.size() - start_) / kMarkSpacing + 1);
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = start_; i < text.size(); ++i) {
    if ((i - start_) % kMarkSpacing == 0) marks_.push_back({line, column});
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if (!IsContinuation(text[i])) {
      ++column;
    }
  }
}

std::pair<std::size_t, std::size_t> TextPositions::At(std::size_t offset) const {
  if (offset > text_.size()) return {0, 0};
  if (offset <= start_ || marks_.empty()) return {1, 1};
  const std::size_t mark = (offset - start_) / kMarkSpacing;
  // The end of a text whose length is a multiple of the spacing has no mark of its own.
  const std::size_t from = std::min(mark, marks_.size() - 1);
  std::size_t line = marks_[from].line;
  std::size_t column = marks_[from].column;
  // A character is counted at its first byte; continuation bytes are not.
  for (std::size_t i = start_ + from * kMarkSpacing; i < offset; ++i) {
    if (text_[i] == '\n') {
      ++line;
      column = 1;
    } else if (!IsContinuation(text_[i])) {
      ++column;
    }
  }
  return {line, column};
}

std::string TerminalText(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      AppendEscaped(safe, "\\x%02x", c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      safe += text[i++];
      continue;
    }
    const std::size_t length = MultiByteSequenceAt(text, i);
    if (length == 0) {
      AppendEscaped(safe, "\\x%02x", c);
      ++i;
    } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      AppendEscaped(safe, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      safe.append(text, i, length);
      i += length;
    }
  }
  return safe;
}

std::string ShowBytesInJson(std::string_view json) {
  std::string shown;
  shown.reserve(json.size());
  for (std::size_t i = 0; i < json.size();) {
    const std::size_t length = static_cast<unsigned char>(json[i]) < 0x80 ? 1 : MultiByteSequenceAt(json, i);
    if (length == 0) {
      AppendEscaped(shown, "\\\\x%02x", static_cast<unsigned char>(json[i]));
      ++i;
    } else {
      shown.append(json, i, length);
      i += length;
    }
  }
  return shown;
}

void AddPlaceMembers(JsonWriter& json, std::size_t line, std::size_t column) {
  AddPosition(json, "line", line);
  AddPosition(json, "column", column);
}

void AddFindingsMember(JsonWriter& json, const std::vector<Finding>& findings) {
  json.BeginArray("findings");
  for (const Finding& finding : findings) {
    json.BeginObject().String("severity", finding.severity).String("key", finding.key);
    AddPlaceMembers(json, finding.line, finding.column);
    json.String("message", finding.message).EndObject();
  }
  json.EndArray();
}

std::string FindingsText(const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& finding : findings) {
    text += finding.severity + ": ";
    if (finding.line != 0) {
      text += "line " + std::to_string(finding.line) + ", column " + std::to_string(finding.column) + ": ";
    }
    if (!finding.key.empty()) text += TerminalText(finding.key) + ": ";
    text += TerminalText(finding.message) + "\n";
  }
  return text;
}

}  // namespace quillwave
