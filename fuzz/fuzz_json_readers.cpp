// The field readers and the member walk on any text. Short texts are also
// checked against std::regex running the patterns the readers stand for;
// long ones only have to be survived (std::regex recurses per character).
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>
#include <string_view>

#include "base/json_readers.h"
#include "fuzz/fuzz_check.h"

namespace quillwave::fuzz {
namespace {

constexpr std::size_t kMaxRegexText = 256;

struct Patterns {
  explicit Patterns(const std::string& key)
      : key(key),
        string_field("\"" + key + R"re("\s*:\s*"((?:\\.|[^"\\])*)")re"),
        scalar_field("\"" + key + R"re("\s*:\s*(?:"([^"]*)"|([^\s,}\]]+)))re"),
        has_field("\"" + key + R"re("\s*:)re"),
        bool_object("\"" + key + R"re("\s*:\s*\{([^}]*)\})re") {}
  std::string key;
  std::regex string_field;
  std::regex scalar_field;
  std::regex has_field;
  std::regex bool_object;
};

// Keys that are prefixes of each other and one with a character outside
// the member-name pattern.
const Patterns& PatternsFor(std::uint8_t selector) {
  static const Patterns kPatterns[] = {Patterns("a"), Patterns("ab"), Patterns("a-b")};
  return kPatterns[selector % 3];
}

void CompareWithRegex(const Patterns& p, const std::string& text) {
  std::smatch m;
  const bool has = std::regex_search(text, m, p.has_field);
  Check(HasField(text, p.key) == has, "HasField differs from its pattern");

  const std::string by_regex_string = std::regex_search(text, m, p.string_field) ? JsonUnescape(m[1].str()) : "";
  Check(ReadStringField(text, p.key) == by_regex_string, "ReadStringField differs from its pattern");

  std::string by_regex_scalar;
  if (std::regex_search(text, m, p.scalar_field)) by_regex_scalar = m[1].matched ? m[1].str() : m[2].str();
  Check(ReadScalarField(text, p.key) == by_regex_scalar, "ReadScalarField differs from its pattern");

  static const std::regex kMember(R"re("([a-zA-Z_][a-zA-Z_0-9]*)"\s*:\s*(true|false))re");
  BoolMap by_regex_map;
  if (std::regex_search(text, m, p.bool_object)) {
    const std::string body = m[1].str();
    for (std::sregex_iterator it(body.begin(), body.end(), kMember), end; it != end; ++it) {
      by_regex_map[(*it)[1].str()] = (*it)[2].str() == "true";
    }
  }
  Check(ReadBoolObject(text, p.key) == by_regex_map, "ReadBoolObject differs from its pattern");
}

bool Inside(std::string_view part, std::string_view whole) {
  const auto begin = reinterpret_cast<std::uintptr_t>(whole.data());
  const auto at = reinterpret_cast<std::uintptr_t>(part.data());
  return at >= begin && at + part.size() <= begin + whole.size();
}

}  // namespace
}  // namespace quillwave::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillwave;
  using namespace quillwave::fuzz;
  if (size == 0) return 0;
  const Patterns& patterns = PatternsFor(data[0]);
  // A copy of exactly the input, so that ASan sees any read past its end.
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  if (text.size() <= kMaxRegexText) {
    CompareWithRegex(patterns, text);
  } else {
    ReadStringField(text, patterns.key);
    ReadScalarField(text, patterns.key);
    HasField(text, patterns.key);
    ReadBoolObject(text, patterns.key);
  }
  JsonUnescape(text);
  IsTruthyValue(text);

  ForEachMember(text, [&](std::string_view key, std::string_view raw) {
    Check(Inside(key, text) && Inside(raw, text), "ForEachMember handed out a view outside the text");
    // Values are walked the same way when they are objects.
    if (!raw.empty() && raw.front() == '{') {
      Check(raw.back() == '}', "an object value does not end at its closing brace");
      ForEachMember(raw, [&](std::string_view inner_key, std::string_view inner_raw) {
        Check(Inside(inner_key, raw) && Inside(inner_raw, raw), "a nested member lies outside its object");
      });
    }
  });
  return 0;
}
