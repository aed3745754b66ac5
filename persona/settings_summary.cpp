#include "persona/settings_summary.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>

#include "base/json_readers.h"
#include "persona/persona_config.h"
#include "persona/persona_keys.h"
#include "platform/encoding.h"

namespace quillwave {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

void AppendEllipsis(std::string& text) { text += "\xE2\x80\xA6"; }

// The distinct keys of one text, each kept as where it stands in the text:
// an open-addressing table of 8 bytes a slot (the hash's upper half and the
// offset, which a persona's size keeps far below 4 GiB), sized once for the keys to come, whose untouched pages cost
// nothing. Keys are hashed in small batches whose slots are fetched ahead,
// so the table's cache misses overlap. A key is the raw text between a
// member's quotes; the one in the table is known to end where the text has
// its closing quote.
class DistinctKeys {
 public:
  DistinctKeys(std::string_view text, std::size_t expected) : text_(text), expected_(expected) {}

  void Add(std::string_view key) {
    if (slots_ == nullptr) Allocate(std::max<std::size_t>(64, expected_ + expected_ / 4));
    const std::uint64_t hash = Hash(key);
    Prefetch(&slots_.get()[(hash >> 32) & mask_]);
    pending_[pending_count_++] = {key, hash};
    if (pending_count_ == kBatch) Flush();
  }

  std::size_t Count() {
    Flush();
    return count_;
  }

 private:
  static constexpr std::size_t kBatch = 16;
  struct Pending {
    std::string_view key;
    std::uint64_t hash;
  };

  static std::uint64_t Hash(std::string_view key) {
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, then mixed
    for (const char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    return hash ^ (hash >> 33);
  }

  static void Prefetch([[maybe_unused]] const void* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address, 1);
#endif
  }

  // Zeroed memory from calloc: pages no key lands on are never touched.
  void Allocate(std::size_t at_least) {
    std::size_t capacity = 64;
    while (capacity < at_least) capacity *= 2;
    slots_.reset(static_cast<std::uint64_t*>(std::calloc(capacity, sizeof(std::uint64_t))));
    if (slots_ == nullptr) throw std::bad_alloc();
    mask_ = capacity - 1;
  }

  void Flush() {
    for (std::size_t k = 0; k < pending_count_; ++k) Insert(pending_[k]);
    pending_count_ = 0;
  }

  void Insert(const Pending& key) {
    // More keys than expected: a table twice as large (never with a good estimate).
    if ((count_ + 1) * 5 > (mask_ + 1) * 4) Grow();
    const auto tag = static_cast<std::uint32_t>(key.hash >> 32);
    std::uint64_t* const slots = slots_.get();
    for (std::size_t i = tag & mask_;; i = (i + 1) & mask_) {
      if (slots[i] == 0) {
        slots[i] = (std::uint64_t{tag} << 32) | (static_cast<std::uint64_t>(key.key.data() - text_.data()) + 1);
        ++count_;
        return;
      }
      if (static_cast<std::uint32_t>(slots[i] >> 32) == tag &&
          SameKey(static_cast<std::uint32_t>(slots[i]) - 1, key.key)) {
        return;
      }
    }
  }

  // The stored key has the same bytes and ends there: its closing quote
  // follows (a complete key never ends in an escaping backslash).
  bool SameKey(std::size_t at, std::string_view key) const {
    return text_.size() - at > key.size() && text_.compare(at, key.size(), key) == 0 && text_[at + key.size()] == '"';
  }

  void Grow() {
    const Slots old = std::move(slots_);
    const std::size_t old_capacity = mask_ + 1;
    Allocate(old_capacity * 2);
    for (std::size_t k = 0; k < old_capacity; ++k) {
      const std::uint64_t slot = old.get()[k];
      if (slot == 0) continue;
      std::size_t i = (slot >> 32) & mask_;
      while (slots_.get()[i] != 0) i = (i + 1) & mask_;
      slots_.get()[i] = slot;
    }
  }

  struct Free {
    void operator()(std::uint64_t* slots) const { std::free(slots); }
  };
  using Slots = std::unique_ptr<std::uint64_t, Free>;

  std::string_view text_;
  std::size_t expected_;
  Slots slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
  Pending pending_[kBatch];
  std::size_t pending_count_ = 0;
};

// One list of the summary: the entries with the smallest keys, at most
// `limit`, and how many distinct keys did not fit. A key pushed out for being
// larger never comes back smaller, so nothing but its count is kept.
class SummaryList {
 public:
  // `members` estimates how many keys the list is offered.
  SummaryList(std::string_view text, std::size_t members, std::size_t limit, std::string_view proxy_key)
      : limit_(limit), proxy_key_(proxy_key), left_out_(text, members) {}

  void Add(std::string_view key, std::string_view raw) {
    if (kept_.size() == limit_ && key > kept_.rbegin()->first) {
      left_out_.Add(key);
      return;
    }
    kept_.insert_or_assign(key, raw);
    if (kept_.size() > limit_) {
      const auto largest = std::prev(kept_.end());
      left_out_.Add(largest->first);
      kept_.erase(largest);
    }
  }

  // The rows, and through `left_out` how many entries the "… N more" row stands for.
  std::vector<SummaryRow> Rows(std::size_t& left_out) {
    const std::size_t total = kept_.size() + left_out_.Count();
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
  // Nearly every member has a colon: their count sizes a list's table once.
  // Too many only leaves pages untouched; too few makes the table grow.
  const auto colons = [](std::string_view part) {
    return static_cast<std::size_t>(std::count(part.begin(), part.end(), ':'));
  };
  SummaryList overrides(text, colons(text), row_limit, "proxy-server");
  std::string_view switch_object;
  ForEachMember(text, [&](std::string_view key, std::string_view raw) {
    if (key.empty() || key.front() == '_') return;
    const PersonaKey* known = FindPersonaKey(key);
    if (known != nullptr && !known->summarized) {
      // The switch object is listed by its own members, as the switches.
      if (key == kSwitchObjectKey && !raw.empty() && raw.front() == '{') switch_object = raw;  // the last one counts
      return;
    }
    if (IsTruthyValue(raw)) overrides.Add(key, raw);
  });
  SummaryList switches(text, colons(switch_object), row_limit, "--proxy-server");
  ForEachMember(switch_object, [&](std::string_view key, std::string_view raw) {
    if (!key.empty() && IsTruthyValue(raw)) switches.Add(key, raw);
  });
  summary.overrides = overrides.Rows(summary.overrides_left_out);
  summary.switches = switches.Rows(summary.switches_left_out);
  return summary;
}

}  // namespace quillwave
