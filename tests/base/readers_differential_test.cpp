// The scanners against the patterns they stand for, run by std::regex over
// many short generated texts. std::regex is fine here: the texts are tiny.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_readers.h"

namespace quillwave {
namespace {

struct Patterns {
  explicit Patterns(const std::string& key)
      : string_field("\"" + key + R"re("\s*:\s*"((?:\\.|[^"\\])*)")re"),
        scalar_field("\"" + key + R"re("\s*:\s*(?:"([^"]*)"|([^\s,}\]]+)))re"),
        has_field("\"" + key + R"re("\s*:)re"),
        bool_object("\"" + key + R"re("\s*:\s*\{([^}]*)\})re") {}
  std::regex string_field;
  std::regex scalar_field;
  std::regex has_field;
  std::regex bool_object;
};

const std::regex kMember(R"re("([a-zA-Z_][a-zA-Z_0-9]*)"\s*:\s*(true|false))re");

std::string RegexString(const Patterns& p, const std::string& text) {
  std::smatch m;
  return std::regex_search(text, m, p.string_field) ? JsonUnescape(m[1].str()) : std::string();
}

std::string RegexScalar(const Patterns& p, const std::string& text) {
  std::smatch m;
  if (!std::regex_search(text, m, p.scalar_field)) return {};
  return m[1].matched ? m[1].str() : m[2].str();
}

BoolMap RegexBoolObject(const Patterns& p, const std::string& text) {
  BoolMap map;
  std::smatch m;
  if (!std::regex_search(text, m, p.bool_object)) return map;
  const std::string body = m[1].str();
  for (std::sregex_iterator it(body.begin(), body.end(), kMember), end; it != end; ++it) {
    map[(*it)[1].str()] = (*it)[2].str() == "true";
  }
  return map;
}

// Texts built from pieces that make the patterns nearly match: quotes,
// backslashes, brackets, colons, every kind of white space, key fragments.
class TextGenerator {
 public:
  TextGenerator(std::uint32_t seed, std::vector<std::string> pieces) : rng_(seed), pieces_(std::move(pieces)) {}

  std::string Next(std::size_t max_pieces) {
    std::string text;
    const std::size_t count = rng_() % (max_pieces + 1);
    for (std::size_t i = 0; i < count; ++i) text += pieces_[rng_() % pieces_.size()];
    return text;
  }

 private:
  std::mt19937 rng_;  // its output sequence is fixed by the standard
  std::vector<std::string> pieces_;
};

std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

const std::vector<std::string> kKeys = {"a", "ab", "a-b"};

std::vector<std::string> GeneralPieces() {
  using namespace std::string_literals;
  return {// keys whole, cut and with their colon
          "\"a\"", "\"a\"", "\"ab\"", "\"a-b\"", "\"a", "a\"", "-b\"", "\"a\":", "\"a\": \"", "\"a\":{", "\"a\" : {",
          "\"ab\":{", "\"ab\" :", "\"a-b\":",
          // separators and every kind of white space
          ":", ":", ": ", ",", " ", " ", "\t", "\n", "\r", "\v", "\f",
          // quotes, escapes, brackets
          "\"", "\"", "\"", "\\", "\\", "\\\"", "\\\\", "{", "{", "}", "}", "[", "]",
          // values and members
          "x", "1", "-", "_", "true", "false", "tru", "null", "\0"s, "\xC3", "\xA0", "\"x\"", "\"_k1\"", "\"1k\"",
          "\"k l\"", ": true", ":false", "{\"x\":true", "\"y\" : false}"};
}

// Object bodies for the member walk; no closing brace inside.
std::vector<std::string> MemberPieces() {
  return {"\"",   "\"",  "\\",    "{",       "[",      "]",       ":",       ",",    " ",     "\t",
          "\n",   "\r",  "a",     "Z",       "_",      "9",       "-",       "true", "false", "truex",
          "fals", "tru", "\"a\"", "\"_b9\"", "\"9b\"", "\"a-b\"", "\"a b\"", ": ",   "\\\"",  "\"Ab\":true"};
}

struct Coverage {
  int string_found = 0;
  int scalar_found = 0;
  int has_found = 0;
  int object_found = 0;
};

TEST(ReadersDifferentialTest, ScannersMatchRegexOnGeneratedTexts) {
  std::vector<Patterns> patterns;
  for (const auto& key : kKeys) patterns.emplace_back(key);
  TextGenerator generator(20240611u, GeneralPieces());
  Coverage coverage;
  int failures = 0;
  constexpr int kTexts = 100000;
  for (int n = 0; n < kTexts && failures < 10; ++n) {
    const std::string text = generator.Next(14);
    for (std::size_t k = 0; k < kKeys.size(); ++k) {
      const std::string& key = kKeys[k];
      const Patterns& p = patterns[k];
      const std::string expected_string = RegexString(p, text);
      const std::string expected_scalar = RegexScalar(p, text);
      const bool expected_has = std::regex_search(text, p.has_field);
      const BoolMap expected_object = RegexBoolObject(p, text);
      const bool same = ReadStringField(text, key) == expected_string &&
                        ReadScalarField(text, key) == expected_scalar && HasField(text, key) == expected_has &&
                        ReadBoolObject(text, key) == expected_object;
      if (!same) {
        ++failures;
        ADD_FAILURE() << "key " << key << " text \"" << Printable(text) << "\"";
      }
      coverage.string_found += !expected_string.empty();
      coverage.scalar_found += !expected_scalar.empty();
      coverage.has_found += expected_has;
      coverage.object_found += !expected_object.empty();
    }
  }
  // The generator must keep producing texts on which the patterns do match.
  EXPECT_GT(coverage.has_found, kTexts / 3);
  EXPECT_GT(coverage.string_found, kTexts / 20);
  EXPECT_GT(coverage.scalar_found, kTexts / 4);
  EXPECT_GT(coverage.object_found, kTexts / 100);
}

TEST(ReadersDifferentialTest, MemberWalkMatchesRegexIteration) {
  const Patterns p("o");
  TextGenerator generator(7u, MemberPieces());
  int failures = 0;
  int with_members = 0;
  constexpr int kTexts = 40000;
  for (int n = 0; n < kTexts && failures < 10; ++n) {
    const std::string text = "{\"o\": {" + generator.Next(12) + "}}";
    const BoolMap expected = RegexBoolObject(p, text);
    if (ReadBoolObject(text, "o") != expected) {
      ++failures;
      ADD_FAILURE() << "text \"" << Printable(text) << "\"";
    }
    with_members += !expected.empty();
  }
  EXPECT_GT(with_members, kTexts / 10);
}

}  // namespace
}  // namespace quillwave
