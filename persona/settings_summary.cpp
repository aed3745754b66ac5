#include "persona/settings_summary.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "base/json_readers.h"
#include "persona/persona_config.h"
#include "platform/encoding.h"

namespace quillwave {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

void AppendEllipsis(std::string& text) { text += "\xE2\x80\xA6"; }

// The distinct keys of one text, each kept as where it stands in the text:
// an open-addressing table of 8 bytes a slot (the hash's upper half and the
// offset), so counting millions of keys stays within a small multiple of
// the text. A key is the raw text between a member's quotes; the one in the
// table is known to end where the text has its closing quote.
class DistinctKeys {
 public:
  explicit DistinctKeys(std::string_view text) : text_(text) {}

  // True when the key was not there yet.
  bool Insert(std::string_view key) {
    if (slots_.empty() || (count_ + 1) * 5 > slots_.size() * 4) Grow();
    const std::uint64_t hash = Hash(key);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) {
        slots_[i] = (std::uint64_t{tag} << 32) | (static_cast<std::uint64_t>(key.data() - text_.data()) + 1);
        ++count_;
        return true;
      }
      if (static_cast<std::uint32_t>(slot >> 32) == tag && SameKey(static_cast<std::uint32_t>(slot) - 1, key)) {
        return false;
      }
    }
  }

  std::size_t size() const { return count_; }

 private:
  static std::uint64_t Hash(std::string_view key) {
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, then mixed
    for (const char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    return hash ^ (hash >> 33);
  }

  // The stored key has the same bytes and ends there: its closing quote
  // follows (a complete key never ends in an escaping backslash).
  bool SameKey(std::size_t at, std::string_view key) const {
    return text_.size() - at > key.size() && text_.compare(at, key.size(), key) == 0 && text_[at + key.size()] == '"';
  }

  void Grow() {
    std::vector<std::uint64_t> old(std::max<std::size_t>(64, slots_.size() * 2));
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const std::uint64_t slot : old) {
      if (slot == 0) continue;
      std::size_t i = (slot >> 32) & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::string_view text_;
  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
};

// One list of the summary: the entries with the smallest keys, at most
// `limit`, and how many distinct keys did not fit. A key pushed out for being
// larger never comes back smaller, so nothing but its count is kept.
class SummaryList {
 public:
  SummaryList(std::string_view text, std::size_t limit, std::string_view proxy_key)
      : limit_(limit), proxy_key_(proxy_key), left_out_(text) {}

  void Add(std::string_view key, std::string_view raw) {
    if (kept_.size() == limit_ && key > kept_.rbegin()->first) {
      left_out_.Insert(key);
      return;
    }
    kept_.insert_or_assign(key, raw);
    if (kept_.size() > limit_) {
      const auto largest = std::prev(kept_.end());
      left_out_.Insert(largest->first);
      kept_.erase(largest);
    }
  }

  // The rows, and through `left_out` how many entries the "… N more" row stands for.
  std::vector<SummaryRow> Rows(std::size_t& left_out) const {
    const std::size_t total = kept_.size() + left_out_.size();
    const std::size_t shown = total > limit_ ? limit_ - 1 : total;
    Pairs pairs;
    pairs.reserve(shown);
    for (auto entry = kept_.begin(); pairs.size() < shown; ++entry) {
      pairs.emplace_back(entry->first,
                         entry->first == proxy_key_ ? MaskProxyPassword(entry->second) : std::string(entry->second));
    }
    std::vector<SummaryRow> rows = MakeSummaryRows(pairs);
    left_out = total - shown;
    if (left_out > 0) rows.push_back({L"\u2026 " + std::to_wstring(left_out) + L" more", L""});
    return rows;
  }

 private:
  std::size_t limit_;
  std::string_view proxy_key_;
  std::map<std::string_view, std::string_view> kept_;
  DistinctKeys left_out_;
};

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

SettingsSummary BuildSettingsSummary(std::string_view text, std::size_t row_limit) {
  SettingsSummary summary;
  if (row_limit == 0) return summary;
  SummaryList overrides(text, row_limit, "proxy-server");
  SummaryList switches(text, row_limit, "--proxy-server");
  std::string_view switch_object;
  ForEachMember(text, [&](std::string_view key, std::string_view raw) {
    if (key.empty() || key.front() == '_') return;
    if (key == "chrome-command-line") {
      if (!raw.empty() && raw.front() == '{') switch_object = raw;
      return;
    }
    if (IsTruthyValue(raw)) overrides.Add(key, raw);
  });
  if (!switch_object.empty()) {
    ForEachMember(switch_object, [&](std::string_view key, std::string_view raw) {
      if (!key.empty() && IsTruthyValue(raw)) switches.Add(key, raw);
    });
  }
  summary.overrides = overrides.Rows(summary.overrides_left_out);
  summary.switches = switches.Rows(summary.switches_left_out);
  return summary;
}

}  // namespace quillwave
