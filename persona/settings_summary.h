// The persona's settings as the progress window lists them: display rows of
// fixed width, one list for the top-level entries and one for the raw
// engine switches of "chrome-command-line".
#pragma once

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
};

SettingsSummary BuildSettingsSummary(std::string_view text);

}  // namespace quillwave
