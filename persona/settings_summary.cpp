#include "persona/settings_summary.h"

#include <algorithm>

#include "base/json_readers.h"
#include "persona/persona_config.h"
#include "platform/encoding.h"

namespace quillwave {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

void AppendEllipsis(std::string& text) { text += "\xE2\x80\xA6"; }

std::vector<SummaryRow> SortedRows(Pairs pairs) {
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return MakeSummaryRows(pairs);
}

}  // namespace

std::vector<SummaryRow> MakeSummaryRows(const std::vector<std::pair<std::string, std::string>>& pairs) {
  constexpr std::size_t kMaxLabel = 28;
  constexpr std::size_t kMaxValue = 36;
  constexpr std::size_t kValueKept = 33;
  std::size_t width = 0;
  for (const auto& [key, value] : pairs) width = std::max(width, key.size());
  width = std::min(width, kMaxLabel);

  std::vector<SummaryRow> rows;
  rows.reserve(pairs.size());
  for (const auto& [key, raw] : pairs) {
    std::string label = key;
    if (label.size() > width) {
      label.resize(width - 1);
      AppendEllipsis(label);
    } else {
      label.resize(width, ' ');
    }
    std::string_view value = raw;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    std::string shown(value.substr(0, kValueKept));
    if (value.size() > kMaxValue) {
      AppendEllipsis(shown);
    } else {
      shown = value;
    }
    rows.push_back({Widen(label), Widen(shown)});
  }
  return rows;
}

SettingsSummary BuildSettingsSummary(std::string_view text) {
  Pairs overrides;
  Pairs switches;
  std::string_view switch_object;
  ForEachMember(text, [&](std::string_view key, std::string_view raw) {
    if (key.empty() || key.front() == '_') return;
    if (key == "chrome-command-line") {
      if (!raw.empty() && raw.front() == '{') switch_object = raw;
      return;
    }
    if (IsTruthyValue(raw))
      overrides.emplace_back(key, key == "proxy-server" ? MaskProxyPassword(raw) : std::string(raw));
  });
  if (!switch_object.empty()) {
    ForEachMember(switch_object, [&](std::string_view key, std::string_view raw) {
      if (!key.empty() && IsTruthyValue(raw)) {
        switches.emplace_back(key, key == "--proxy-server" ? MaskProxyPassword(raw) : std::string(raw));
      }
    });
  }
  return {SortedRows(std::move(overrides)), SortedRows(std::move(switches))};
}

}  // namespace quillwave
