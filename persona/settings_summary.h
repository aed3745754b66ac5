// The persona's settings as the progress window lists them: display rows of
// fixed width, one list for the top-level entries and one for the raw
// engine switches of "chrome-command-line".
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillwave {

struct SummaryRow {
  std::wstring label;
  std::wstring value;
  bool operator==(const SummaryRow&) const = default;
};

// Fixed-width display rows from (key, raw value) pairs.
std::vector<SummaryRow> MakeSummaryRows(const std::vector<std::pair<std::string, std::string>>& pairs);

struct SettingsSummary {
  std::vector<SummaryRow> overrides;  // "Active overrides"
  std::vector<SummaryRow> switches;   // "Raw Chromium switches"
  // Entries a list had no room for; its last row then reads "… N more".
  std::size_t overrides_left_out = 0;
  std::size_t switches_left_out = 0;
};

inline constexpr std::size_t kEveryRow = std::numeric_limits<std::size_t>::max();

// Each list holds the entries with the smallest keys, a later entry of a key
// replacing an earlier one. With more entries than `row_limit`, the list
// keeps `row_limit` - 1 of them and ends with the row "… N more". Time is
// linear in the text, memory bounded by the limit plus a few bytes per key.
SettingsSummary BuildSettingsSummary(std::string_view text, std::size_t row_limit = kEveryRow);

}  // namespace quillwave
