#include "tool/findings.h"

#include <algorithm>

#include "base/json_writer.h"

namespace quillwave {

int ExitCodeFor(const std::vector<Finding>& findings) {
  int code = 0;
  for (const Finding& finding : findings) code = std::max(code, finding.severity == kSeverityError ? 2 : 1);
  return code;
}

TextPositions::TextPositions(std::string_view text) : text_(text) {
  line_starts_.push_back(text.starts_with("\xEF\xBB\xBF") ? 3 : 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') line_starts_.push_back(i + 1);
  }
}

std::pair<std::size_t, std::size_t> TextPositions::At(std::size_t offset) const {
  if (offset >= text_.size()) return {0, 0};
  const auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
  const std::size_t line = static_cast<std::size_t>(after - line_starts_.begin());
  std::size_t start = line == 0 ? 0 : line_starts_[line - 1];
  std::size_t column = 1;
  if (line == last_line_ && offset >= last_offset_ && last_offset_ >= start) {
    start = last_offset_;
    column = last_column_;
  }
  // A character is counted at its first byte; continuation bytes are not.
  for (std::size_t i = start; i < offset; ++i) {
    if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) ++column;
  }
  last_line_ = line;
  last_offset_ = offset;
  last_column_ = column;
  return {std::max<std::size_t>(line, 1), column};
}

std::string PositionJson(std::size_t value) { return value == 0 ? "null" : std::to_string(value); }

std::string FindingsJson(const std::vector<Finding>& findings) {
  std::string json = "[";
  for (const Finding& finding : findings) {
    if (json.size() > 1) json += ',';
    json += "{\"severity\":\"" + finding.severity + "\",\"key\":\"" + EscapeJsonString(finding.key) +
            "\",\"line\":" + PositionJson(finding.line) + ",\"column\":" + PositionJson(finding.column) +
            ",\"message\":\"" + EscapeJsonString(finding.message) + "\"}";
  }
  return json + "]";
}

std::string FindingsText(const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& finding : findings) {
    text += finding.severity + ": ";
    if (finding.line != 0) {
      text += "line " + std::to_string(finding.line) + ", column " + std::to_string(finding.column) + ": ";
    }
    if (!finding.key.empty()) text += finding.key + ": ";
    text += finding.message + "\n";
  }
  return text;
}

}  // namespace quillwave
