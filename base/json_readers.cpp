#include "base/json_readers.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

namespace quillwave {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// \s of the regex grammar in the C locale.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsIdentifierStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsIdentifierChar(char c) { return IsIdentifierStart(c) || (c >= '0' && c <= '9'); }

std::size_t SkipSpace(std::string_view text, std::size_t i) {
  while (i < text.size() && IsSpace(text[i])) ++i;
  return i;
}

// Just past `\s*:` starting at `i`, or npos.
std::size_t AfterColon(std::string_view text, std::size_t i) {
  i = SkipSpace(text, i);
  return i < text.size() && text[i] == ':' ? i + 1 : npos;
}

// Walks the occurrences of "KEY" in text order (they may overlap) and hands
// the visitor the index where the value would start, that is just past
// "KEY"\s*:\s*, and the index of the key's opening quote. The visitor
// returns true to stop the walk.
template <typename Visitor>
void ForEachKeyedValue(std::string_view text, std::string_view key, Visitor&& visit) {
  std::string needle;
  needle.reserve(key.size() + 2);
  needle.append(1, '"').append(key).append(1, '"');
  // Quotes are frequent in JSON; skipping by the needle's length keeps long
  // values cheap to pass over.
  const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
  for (auto from = text.begin();;) {
    const auto found = std::search(from, text.end(), searcher);
    if (found == text.end()) return;
    const auto at = static_cast<std::size_t>(found - text.begin());
    const std::size_t colon_end = AfterColon(text, at + needle.size());
    if (colon_end != npos && visit(SkipSpace(text, colon_end), at)) return;
    from = found + 1;  // occurrences may overlap
  }
}

bool StartsWithAt(std::string_view text, std::size_t i, std::string_view word) {
  return text.size() - i >= word.size() && text.compare(i, word.size(), word) == 0;
}

void ReadBoolMembers(std::string_view body, BoolMap& map) {
  std::size_t i = 0;
  while ((i = body.find('"', i)) != npos) {
    std::size_t end = i + 1;
    if (end < body.size() && IsIdentifierStart(body[end])) {
      while (end < body.size() && IsIdentifierChar(body[end])) ++end;
      if (end < body.size() && body[end] == '"') {
        const std::size_t colon_end = AfterColon(body, end + 1);
        const std::size_t value = colon_end == npos ? npos : SkipSpace(body, colon_end);
        const bool is_true = value != npos && StartsWithAt(body, value, "true");
        if (is_true || (value != npos && StartsWithAt(body, value, "false"))) {
          map[std::string(body.substr(i + 1, end - i - 1))] = is_true;
          i = value + (is_true ? 4 : 5);
          continue;
        }
      }
    }
    ++i;  // no member starts at this quote; try the next one
  }
}

// Scans a string value from just past its opening quote, item by item: an
// escape pair (a backslash and any byte but CR or LF) or a byte other than a
// quote or backslash. Stops at the closing quote, the first quote that starts
// an item, or fails at a backslash without a valid partner or at the end of
// the text. Returns where it stopped.
std::size_t ScanStringValue(std::string_view text, std::size_t body) {
  const char* const data = text.data();
  const std::size_t n = text.size();
  std::size_t i = body;
  while (i < n) {
    const char c = data[i];
    if (c == '"') break;
    if (c != '\\') {
      ++i;
    } else if (i + 1 < n && data[i + 1] != '\n' && data[i + 1] != '\r') {
      i += 2;
    } else {
      break;
    }
  }
  return i;
}

}  // namespace

KeyedValue FindStringField(std::string_view text, std::string_view key) {
  KeyedValue result;
  std::size_t failed_from = npos;
  std::size_t failed_at = 0;
  ForEachKeyedValue(text, key, [&](std::size_t value, std::size_t key_at) {
    if (value >= text.size() || text[value] != '"') return false;
    const std::size_t body = value + 1;
    // A later value that opens inside a failed scan opens at one of its item
    // boundaries (its quote was escaped there), so it fails the same way.
    if (failed_from != npos && body >= failed_from && body <= failed_at) return false;
    const std::size_t end = ScanStringValue(text, body);
    if (end < text.size() && text[end] == '"') {
      result = {key_at, JsonUnescape(text.substr(body, end - body))};
      return true;
    }
    failed_from = body;
    failed_at = end;
    return false;
  });
  return result;
}

KeyedValue FindScalarField(std::string_view text, std::string_view key) {
  KeyedValue result;
  ForEachKeyedValue(text, key, [&](std::size_t value, std::size_t key_at) {
    if (value >= text.size()) return false;
    if (text[value] == '"') {
      const std::size_t close = text.find('"', value + 1);
      if (close != npos) {
        result = {key_at, std::string(text.substr(value + 1, close - value - 1))};
        return true;
      }
      // An unclosed quote falls through to the bare form, quote included.
    }
    std::size_t end = value;
    while (end < text.size() && !IsSpace(text[end]) && text[end] != ',' && text[end] != '}' && text[end] != ']') ++end;
    if (end == value) return false;
    result = {key_at, std::string(text.substr(value, end - value))};
    return true;
  });
  return result;
}

std::string ReadStringField(std::string_view text, std::string_view key) {
  return std::move(FindStringField(text, key).value);
}

std::string ReadScalarField(std::string_view text, std::string_view key) {
  return std::move(FindScalarField(text, key).value);
}

std::size_t FindField(std::string_view text, std::string_view key) {
  std::size_t found = npos;
  ForEachKeyedValue(text, key, [&](std::size_t, std::size_t key_at) {
    found = key_at;
    return true;
  });
  return found;
}

bool HasField(std::string_view text, std::string_view key) { return FindField(text, key) != npos; }

FieldCount CountFields(std::string_view text, std::string_view key) {
  FieldCount found;
  ForEachKeyedValue(text, key, [&](std::size_t, std::size_t key_at) {
    if (found.count == 0) found.first = key_at;
    if (found.count == 1) found.second = key_at;
    ++found.count;
    return false;
  });
  return found;
}

std::vector<bool> KeysWritten(std::string_view text, std::span<const std::string_view> keys) {
  std::vector<bool> written(keys.size());
  // The keys by their first byte, so that most quotes are passed at a glance.
  std::array<std::vector<std::size_t>, 256> by_first;
  for (std::size_t k = 0; k < keys.size(); ++k) by_first[static_cast<unsigned char>(keys[k].front())].push_back(k);
  std::size_t missing = keys.size();
  const char* const end = text.data() + text.size();
  for (const char* quote = text.data(); missing > 0 && quote < end; ++quote) {
    quote = static_cast<const char*>(std::memchr(quote, '"', static_cast<std::size_t>(end - quote)));
    if (quote == nullptr) break;
    const char* const name = quote + 1;
    if (name == end) break;
    for (const std::size_t k : by_first[static_cast<unsigned char>(*name)]) {
      const std::string_view key = keys[k];
      if (written[k] || static_cast<std::size_t>(end - name) <= key.size()) continue;
      if (std::memcmp(name, key.data(), key.size()) == 0 && name[key.size()] == '"') {
        written[k] = true;
        --missing;
      }
    }
  }
  return written;
}

KeyedObject FindObjectField(std::string_view text, std::string_view key) {
  KeyedObject found;
  ForEachKeyedValue(text, key, [&](std::size_t value, std::size_t key_at) {
    if (value >= text.size() || text[value] != '{') return false;
    found = {key_at, value};
    return true;
  });
  return found;
}

std::size_t FindObjectValue(std::string_view text, std::string_view key) { return FindObjectField(text, key).open; }

BoolMap ReadBoolObject(std::string_view text, std::string_view key) {
  BoolMap map;
  const std::size_t open = FindObjectValue(text, key);
  if (open == npos) return map;
  // Without a '}' after this brace the pattern cannot match at a later key either.
  const std::size_t close = text.find('}', open + 1);
  if (close == npos) return map;
  ReadBoolMembers(text.substr(open + 1, close - open - 1), map);
  return map;
}

std::string JsonUnescape(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c != '\\' || i + 1 == raw.size()) {
      out += c;
      continue;
    }
    char decoded = 0;
    // clang-format off: one escape per line, as a table
    switch (raw[i + 1]) {
      case '"':
        decoded = '"';
        break;
      case '/':
        decoded = '/';
        break;
      case '\\':
        decoded = '\\';
        break;
      case 'b':
        decoded = '\b';
        break;
      case 'f':
        decoded = '\f';
        break;
      case 'n':
        decoded = '\n';
        break;
      case 'r':
        decoded = '\r';
        break;
      case 't':
        decoded = '\t';
        break;
        // clang-format on
      default:
        // Unknown escapes (\u included) stay as written.
        out += c;
        continue;
    }
    out += decoded;
    ++i;
  }
  return out;
}

bool IsTruthyValue(std::string_view raw) {
  if (raw.empty() || raw == "null" || raw == "false" || raw == "0") return false;
  if (raw.front() != '"' || raw.size() < 2 || raw.back() != '"') return true;
  const std::string_view quoted = raw.substr(1, raw.size() - 2);
  if (quoted.empty()) return false;
  if (quoted.size() > 5) return true;  // longer than any word that means false
  std::string lower(quoted);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower != "false" && lower != "0" && lower != "off" && lower != "no";
}

std::size_t FindBlockEnd(std::string_view text, std::size_t open) {
  if (open >= text.size() || (text[open] != '{' && text[open] != '[')) return npos;
  const char opening = text[open];
  const char closing = opening == '{' ? '}' : ']';
  std::size_t depth = 1;
  bool in_string = false;
  bool escaped = false;
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (escaped) {
      escaped = false;
    } else if (in_string && c == '\\') {
      escaped = true;
    } else if (c == '"') {
      in_string = !in_string;
    } else if (!in_string && c == opening) {
      ++depth;
    } else if (!in_string && c == closing && --depth == 0) {
      return i;
    }
  }
  return npos;
}

std::size_t FindStringEnd(std::string_view text, std::size_t open) {
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i;
    }
  }
  return npos;
}

void ForEachMember(std::string_view text, const MemberVisitor& visitor) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  bool in_string = false;
  for (; i < n; ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      break;
    }
  }
  ++i;
  while (i < n) {
    while (i < n && (IsSpace(text[i]) || text[i] == ',')) ++i;
    if (i >= n || text[i] != '"') return;
    const std::size_t key_end = FindStringEnd(text, i);
    if (key_end == npos) return;
    const std::string_view key = text.substr(i + 1, key_end - i - 1);
    i = key_end + 1;
    while (i < n && (IsSpace(text[i]) || text[i] == ':')) ++i;
    if (i >= n) return;
    std::size_t value_end = i;
    if (text[i] == '"' || text[i] == '{' || text[i] == '[') {
      const std::size_t close = text[i] == '"' ? FindStringEnd(text, i) : FindBlockEnd(text, i);
      if (close == npos) return;
      value_end = close + 1;
    } else {
      while (value_end < n && text[value_end] != ',' && text[value_end] != '}' && !IsSpace(text[value_end])) {
        ++value_end;
      }
    }
    visitor(key, text.substr(i, value_end - i));
    i = value_end;
  }
}

}  // namespace quillwave
