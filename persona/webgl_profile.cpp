#include "persona/webgl_profile.h"

#include "base/json_readers.h"
#include "persona/text_file.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace quillwave {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads the members of a profile body; a malformed member ends the walk and
// keeps what was read before it.
void ReadProfileMembers(std::string_view body, ProfileMap& map) {
  const std::size_t n = body.size();
  std::size_t i = 0;
  while (true) {
    while (i < n && (IsSpace(body[i]) || body[i] == ',')) ++i;
    if (i >= n || body[i] != '"') return;
    const std::size_t key_end = body.find('"', i + 1);  // names hold no escaped quotes
    if (key_end == npos) return;
    const std::string_view key = body.substr(i + 1, key_end - i - 1);
    i = key_end + 1;
    while (i < n && (IsSpace(body[i]) || body[i] == ':')) ++i;
    if (i >= n) return;
    std::string value;
    if (body[i] == '"') {
      const std::size_t close = FindStringEnd(body, i);
      if (close == npos) return;
      value = JsonUnescape(body.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (body[i] == '{' || body[i] == '[') {
      const std::size_t close = FindBlockEnd(body, i);
      if (close == npos) return;
      value = body.substr(i, close - i + 1);
      i = close + 1;
    } else {
      const std::size_t start = i;
      while (i < n && body[i] != ',' && body[i] != '}' && !IsSpace(body[i])) ++i;
      value = body.substr(start, i - start);
    }
    if (!key.empty() && key.front() != '_') map[std::string(key)] = std::move(value);
  }
}

}  // namespace

ProfileMap ReadProfileObject(std::string_view text, std::string_view name) {
  ProfileMap map;
  if (name.empty()) return map;
  std::string needle;
  needle.append(1, '"').append(name).append(1, '"');
  const std::size_t at = text.find(needle);
  if (at == npos) return map;
  const std::size_t colon = text.find(':', at + needle.size());
  if (colon == npos) return map;
  const std::size_t open = text.find('{', colon);
  if (open == npos) return map;
  const std::size_t close = FindBlockEnd(text, open);
  if (close == npos) return map;
  ReadProfileMembers(text.substr(open + 1, close - open - 1), map);
  return map;
}

std::vector<std::wstring> ProfileSwitchItems(std::string_view profiles_text, std::string_view name) {
  std::vector<std::wstring> items;
  for (const auto& [key, value] : ReadProfileObject(profiles_text, name)) {
    items.push_back(L"--" + Widen(key) + L"=" + Widen(value));
  }
  return items;
}

std::vector<std::wstring> WebglProfileSwitchItems(std::string_view name, const std::wstring& launcher_dir) {
  if (name.empty()) return {};
  const auto text = ReadTextFile(launcher_dir + platform::kPathSeparator + Widen(kWebglProfilesFileName));
  if (!text) return {};
  return ProfileSwitchItems(*text, name);
}

}  // namespace quillwave
