// What the persona tool tells a person about a persona, and where in the
// file it stands.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_writer.h"

namespace quillwave {

inline constexpr char kSeverityError[] = "error";
inline constexpr char kSeverityWarning[] = "warning";
inline constexpr char kSeverityNote[] = "note";  // worth knowing, nothing wrong

struct Finding {
  std::string severity;  // kSeverityError, kSeverityWarning or kSeverityNote
  std::string key;       // the persona key it is about; may be empty
  std::size_t line = 0;  // 1-based; 0 when it stands nowhere in the file
  std::size_t column = 0;
  std::string message;
};

// 0 without findings but notes, 1 with warnings, 2 with an error.
int ExitCodeFor(const std::vector<Finding>& findings);

// Lines and columns of byte offsets in one text: both 1-based, columns
// counted in characters, a byte-order mark not counted. One pass leaves a
// mark every few kilobytes, so any offset is placed by counting from the
// mark before it, whatever the file's shape.
class TextPositions {
 public:
  explicit TextPositions(std::string_view text);
  // {0, 0} for an offset past the end (npos); the end itself is the place
  // after the last character.
  std::pair<std::size_t, std::size_t> At(std::size_t offset) const;

 private:
  struct Mark {
    std::size_t line;
    std::size_t column;
  };
  std::string_view text_;
  std::size_t start_;        // after a byte-order mark
  std::vector<Mark> marks_;  // where every kMarkSpacing-th byte after `start_` stands
};

// A text from a file, a path or an answer made safe for a terminal: control
// characters (below U+0020, U+007F) are written \x1b, those of U+0080 to
// U+009F \u009b, and bytes that are no UTF-8 \xff. Everything else is kept.
std::string TerminalText(std::string_view text);

// The tool's JSON is written with InvalidUtf8::kKeep: bytes that are part of
// no valid UTF-8 sequence stay as they are, for ShowBytesInJson or
// TerminalText to show at the output.
inline constexpr InvalidUtf8 kToolJsonBytes = InvalidUtf8::kKeep;

// The tool's JSON output made valid UTF-8 so that it still tells every byte
// apart: each byte that is part of no valid UTF-8 sequence (only strings can
// hold one) becomes the four characters \xNN inside its string, written
// "\\xff" in the JSON text.
std::string ShowBytesInJson(std::string_view json);

// The findings as the member "findings" of the object open in `json`: a
// list of objects with severity, key, line, column and message.
void AddFindingsMember(JsonWriter& json, const std::vector<Finding>& findings);

// One finding per line: "warning: line 3, column 5: auto-geo: ...".
std::string FindingsText(const std::vector<Finding>& findings);

// The members "line" and "column": numbers, or null for 0 (a place that is
// not there).
void AddPlaceMembers(JsonWriter& json, std::size_t line, std::size_t column);

}  // namespace quillwave
