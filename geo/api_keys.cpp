#include "geo/api_keys.h"

#include <cstdint>

namespace quillwave::geo {
namespace {

constexpr std::size_t kLongestKey = 256;

// Zero when equal. Runs over the whole stored key, so the time depends on
// its length only, never on where a difference lies.
std::uint32_t Difference(std::string_view key, std::string_view presented) {
  std::uint32_t difference = key.size() == presented.size() ? 0 : 1;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const auto offered = static_cast<std::uint8_t>(i < presented.size() ? presented[i] : 0);
    difference |= static_cast<std::uint8_t>(key[i]) ^ offered;
  }
  return difference;
}

}  // namespace

ApiKeys ParseApiKeys(std::string_view text) {
  ApiKeys result;
  std::size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    bool visible = line.size() <= kLongestKey;
    for (const char c : line) visible = visible && c > ' ' && c < 0x7f;
    if (!visible) {
      result.keys.clear();
      result.error = "line " + std::to_string(line_number) +
                     ": a key is 1 to 256 visible ASCII characters without blanks";
      return result;
    }
    result.keys.emplace_back(line);
  }
  if (result.keys.empty()) result.error = "no key in it";
  return result;
}

bool IsKnownKey(const std::vector<std::string>& keys, std::string_view presented) {
  std::uint32_t known = 0;
  for (const std::string& key : keys) known |= Difference(key, presented) == 0 ? 1 : 0;
  return known != 0;
}

}  // namespace quillwave::geo
