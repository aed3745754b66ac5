// What the persona tool tells a person about a persona, and where in the
// file it stands.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillwave {

inline constexpr char kSeverityError[] = "error";
inline constexpr char kSeverityWarning[] = "warning";

struct Finding {
  std::string severity;  // kSeverityError or kSeverityWarning
  std::string key;       // the persona key it is about; may be empty
  std::size_t line = 0;  // 1-based; 0 when it stands nowhere in the file
  std::size_t column = 0;
  std::string message;
};

// 0 without findings, 1 with warnings only, 2 with an error.
int ExitCodeFor(const std::vector<Finding>& findings);

// Lines and columns of byte offsets in one text: both 1-based, columns
// counted in characters, a byte-order mark not counted.
class TextPositions {
 public:
  explicit TextPositions(std::string_view text);
  // {0, 0} for npos.
  std::pair<std::size_t, std::size_t> At(std::size_t offset) const;

 private:
  std::string_view text_;
  std::vector<std::size_t> line_starts_;
  // The last answer: offsets asked in increasing order along one long line
  // are counted on from there, so placing every member stays linear.
  mutable std::size_t last_offset_ = 0;
  mutable std::size_t last_line_ = 0;
  mutable std::size_t last_column_ = 0;
};

// The findings as JSON: a list of objects with severity, key, line, column
// and message (line and column null when 0).
std::string FindingsJson(const std::vector<Finding>& findings);

// One finding per line: "warning: line 3, column 5: auto-geo: ...".
std::string FindingsText(const std::vector<Finding>& findings);

// A JSON number, or null for 0 (a position that is not there).
std::string PositionJson(std::size_t value);

}  // namespace quillwave
