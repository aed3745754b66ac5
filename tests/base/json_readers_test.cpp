#include "base/json_readers.h"

#include <gtest/gtest.h>

#include "base/utf16_text.h"

#include "persona/persona_config.h"
#include "persona/settings_summary.h"
#include "persona/webgl_profile.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace quillwave {
namespace {

using namespace std::string_literals;

struct FieldCase {
  std::string text;
  std::string key;
  std::string expected;
};

TEST(ReadStringFieldTest, FindsLeftmostQuotedValueAndDecodesIt) {
  const std::vector<FieldCase> cases = {
      {R"({"a": 5, "x": {"a": "inner"}})", "a", "inner"},
      {R"("a" : "x\"y\\z\n")", "a", "x\"y\\z\n"},
      {R"("a": "\u0041")", "a", R"(\u0041)"},
      {R"({"a": ""})", "a", ""},
      {R"({"b": "x"})", "a", ""},
      {R"({"a" :)"
       "\n\t"
       R"("v"})",
       "a", "v"},
      {R"({"a": null, "a": true, "a": "third"})", "a", "third"},
      // A backslash before a line break cannot be part of the value, so the
      // first occurrence fails and a later one is used.
      {"{\"a\": \"x\\\n\", \"a\": \"ok\"}", "a", "ok"},
      {"{\"a\": \"x\\\r\"}", "a", ""},
      {R"({"a": "unterminated)", "a", ""},
      {R"({"ab": "no", "a": "yes"})", "a", "yes"},
      {R"({"a": "tab\tand\/slash"})", "a", "tab\tand/slash"},
      {"{\"a\": \"caf\xC3\xA9\"}", "a", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadStringField(c.text, c.key), c.expected) << c.text;
}

TEST(ReadScalarFieldTest, ReadsQuotedRawOrBareRun) {
  const std::vector<FieldCase> cases = {
      {R"("a": "x\"y")", "a", "x\\"},
      {R"("a":true})", "a", "true"},
      {R"("a": 12])", "a", "12"},
      {R"("a": null)", "a", "null"},
      {R"("a": -12.5, "b": 1)", "a", "-12.5"},
      {R"("a": "1")", "a", "1"},
      {R"("a": "")", "a", ""},
      {R"("a": , "a": 7)", "a", "7"},
      // An unclosed quote is read as a bare run, quote included.
      {R"("a": "open end)", "a", "\"open"},
      {R"("a": {"b": 1})", "a", "{\"b\":"},
      {R"("a":)", "a", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadScalarField(c.text, c.key), c.expected) << c.text;
}

TEST(HasFieldTest, NeedsQuotedKeyAndColon) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {R"({"lang" :null})", true},     {R"({"lang": ""})", true}, {"{\"lang\"\n\t: 1}", true},
      {R"({"language": "x"})", false}, {R"({lang: "x"})", false}, {R"({"lang" x: 1})", false},
      {R"(["lang", "x"])", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(HasField(text, "lang"), expected) << text;
}

TEST(ReadBoolObjectTest, ReadsBareBooleanMembersUpToFirstClosingBrace) {
  const std::vector<std::pair<std::string, BoolMap>> cases = {
      {R"({"reset": {"cookies": true, "local-storage": true, "cache": "true", "cookies": false}})",
       {{"cookies", false}}},
      {R"({"reset": {"a": true, "n": {"b": true}, "c": false}})", {{"a", true}, {"b", true}}},
      {R"({"reset": {"x1": truex, "_y": false, "1z": true, "a b": true}})", {{"_y", false}, {"x1", true}}},
      {R"({"reset": 1, "o": {"reset": {"k" : true}}})", {{"k", true}}},
      {R"({"reset": {"k": true)", {}},
      {R"({"reset": {}})", {}},
      {R"({"other": {"k": true}})", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ReadBoolObject(text, "reset"), expected) << text;
}

TEST(JsonUnescapeTest, DecodesEightEscapesAndKeepsTheRest) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"(\"\/\\\b\f\n\r\t)", "\"/\\\b\f\n\r\t"},
      {R"(\u00e9)", R"(\u00e9)"},
      {R"(\q\n)", "\\q\n"},
      {R"(end\)", R"(end\)"},
      {R"(\\n)", R"(\n)"},
      {"", ""},
  };
  for (const auto& [raw, expected] : cases) EXPECT_EQ(JsonUnescape(raw), expected) << raw;
}

TEST(IsTruthyValueTest, FollowsRawValueRules) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", false},       {"null", false},     {"false", false},    {"0", false},       {"00", true},
      {"False", true},   {R"("")", false},    {R"("OFF")", false}, {R"("No")", false}, {R"("FALSE")", false},
      {R"("0")", false}, {R"("null")", true}, {"{}", true},        {"\"", true},       {R"("x)", true},
      {"true", true},    {"[]", true},
  };
  for (const auto& [raw, expected] : cases) EXPECT_EQ(IsTruthyValue(raw), expected) << raw;
}

TEST(FindBlockEndTest, SkipsStringsAndOtherBracketKind) {
  EXPECT_EQ(FindBlockEnd(R"({"}": ["{"], "a\"}": 1})", 0), 22u);
  EXPECT_EQ(FindBlockEnd(R"({"a": [}]})", 0), 7u);
  EXPECT_EQ(FindBlockEnd(R"([[1], {]}])", 0), 7u);
  EXPECT_EQ(FindBlockEnd(R"({"a": {})", 0), std::string_view::npos);
  EXPECT_EQ(FindBlockEnd("x{}", 0), std::string_view::npos);
}

using Members = std::vector<std::pair<std::string, std::string>>;

Members CollectMembers(std::string_view text) {
  Members members;
  ForEachMember(text, [&](std::string_view key, std::string_view raw) { members.emplace_back(key, raw); });
  return members;
}

TEST(ForEachMemberTest, VisitsTopLevelMembersOfFirstObject) {
  const std::vector<std::pair<std::string, Members>> cases = {
      {R"({"a":1,"b":"x","c":{"d":2},"e":[1,2]})", {{"a", "1"}, {"b", R"("x")"}, {"c", R"({"d":2})"}, {"e", "[1,2]"}}},
      {R"("{" {"k": 1})", {{"k", "1"}}},
      {R"({"a": "unterminated)", {}},
      {R"({"a": 1, "b": {"c": 1)", {{"a", "1"}}},
      {R"({"a": 1, "b": {"c": 1})", {{"a", "1"}, {"b", R"({"c": 1})"}}},
      {R"({"a": , "b" "v", "k\"q": x]y})", {{"a", ""}, {"b", R"("v")"}, {R"(k\"q)", "x]y"}}},
      {R"({"a": 1 junk, "b": 2})", {{"a", "1"}}},
      {"\xEF\xBB\xBF{\"a\":true}", {{"a", "true"}}},
      {"no object", {}},
      {"", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(CollectMembers(text), expected) << text;
}

TEST(MakeSummaryRowsTest, PadsOrCutsLabelsAndCutsLongValues) {
  EXPECT_TRUE(MakeSummaryRows({}).empty());

  EXPECT_EQ(MakeSummaryRows({{"abc", "1"}, {"defgh", R"("de")"}}),
            (std::vector<SummaryRow>{{L"abc  ", L"1"}, {L"defgh", L"de"}}));

  const std::string long_key(40, 'k');
  const auto rows = MakeSummaryRows({{long_key, "x"}, {"short", "y"}});
  EXPECT_EQ(rows[0].label, std::wstring(27, L'k') + L"\u2026");
  EXPECT_EQ(rows[1].label, L"short" + std::wstring(23, L' '));

  const std::string v36(36, 'v');
  const std::string v37(37, 'v');
  const auto values = MakeSummaryRows({{"a", v37}, {"b", v36}, {"c", "\"" + v36 + "\""}, {"d", "\""}});
  EXPECT_EQ(values[0].value, std::wstring(33, L'v') + L"\u2026");
  EXPECT_EQ(values[1].value, std::wstring(36, L'v'));
  EXPECT_EQ(values[2].value, std::wstring(36, L'v'));
  EXPECT_EQ(values[3].value, L"\"");
}

TEST(MakeSummaryRowsTest, CountsBytesNotCharacters) {
  // Five two-byte letters are ten bytes; a cut inside a letter leaves one
  // replacement character.
  const std::string e5 = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
  const auto rows = MakeSummaryRows({{e5, "x"}, {"a", std::string(32, 'v') + e5}});
  EXPECT_EQ(rows[0].label, L"\u00e9\u00e9\u00e9\u00e9\u00e9");
  EXPECT_EQ(rows[1].label, L"a" + std::wstring(9, L' '));
  EXPECT_EQ(rows[1].value, std::wstring(32, L'v') + L"\uFFFD\u2026");
}

// Many key occurrences must not make a reader rescan the rest of the text for
// each of them.
TEST(ReadersTest, ManyKeyOccurrencesStayLinear) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "\"k\": {\"k\" : \"\\\n";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadBoolObject(text, "k").empty());
  EXPECT_EQ(ReadStringField(text, "k"), "");
  EXPECT_EQ(ReadScalarField(text, "k"), "{\"k\"");
  EXPECT_TRUE(HasField(text + "\"q\":", "q"));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
}

// Nesting far beyond any recursion budget: the scans count depth in a
// loop, in one pass.
TEST(ReadersTest, HundredThousandNestedBracesNeedNoStackAndLinearTime) {
  constexpr std::size_t kDepth = 100000;
  const std::string nest = std::string(kDepth, '{') + std::string(kDepth, '}');
  const std::string text = R"({"gpu": {"a": )" + nest + R"(, "gl-vendor": "V"}, "chrome-command-line": )" + nest +
                           R"(, "lang": "de"})";
  const std::string open_only = R"({"x": 1, "gpu": )" + std::string(kDepth, '{');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FindBlockEnd(nest, 0), nest.size() - 1);
  EXPECT_EQ(FindBlockEnd(open_only, open_only.find('{', 1)), std::string_view::npos);
  EXPECT_EQ(CollectMembers(text), (Members{{"gpu", R"({"a": )" + nest + R"(, "gl-vendor": "V"})"},
                                           {"chrome-command-line", nest},
                                           {"lang", R"("de")"}}));
  EXPECT_EQ(CollectMembers(open_only), (Members{{"x", "1"}}));
  const SettingsSummary summary = BuildSettingsSummary(text);
  EXPECT_EQ(summary.overrides.size(), 2u);  // gpu and lang; the nest is the switch object
  EXPECT_TRUE(summary.switches.empty());    // its only "member" is not a quoted key
  EXPECT_EQ(ReadProfileObject(text, "gpu"), (ProfileMap{{"a", nest}, {"gl-vendor", "V"}}));
  EXPECT_TRUE(ReadProfileObject(open_only, "gpu").empty());
  EXPECT_EQ(ParsePersonaConfig(text).hasLang, true);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

// The one pass that spares the readers a scan for a key the text does not
// hold finds it wherever the readers could: inside a string, or cut off.
TEST(KeysWrittenTest, FindsEveryQuotedKeyWhateverFollows) {
  constexpr std::string_view keys[] = {"lang", "la", "auto-geo", "geo", "zz"};
  EXPECT_EQ(KeysWritten(R"({"la"ng": 1, "v": "\"auto-geo", "lang")", keys),
            (std::vector<bool>{true, true, true, false, false}));
  EXPECT_EQ(KeysWritten("\"lang", keys), (std::vector<bool>(5, false)));
}

// Notepad's "Unicode" files: UTF-16 after a byte-order mark becomes UTF-8,
// whatever is broken in it one U+FFFD; other bytes stay as they are.
TEST(FileTextAsUtf8Test, ConvertsUtf16AfterAByteOrderMarkOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xFF\xFE{\0\"\0\xE9\0\"\0}\0"s, "{\"\xC3\xA9\"}"},
      {"\xFE\xFF\0{\0\"\0\xE9\0\"\0}"s, "{\"\xC3\xA9\"}"},
      {"\xFF\xFE\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80"},  // a surrogate pair: U+1F600
      {"\xFF\xFE\xFF\xDB\xFF\xDF"s, "\xF4\x8F\xBF\xBF"},  // the last code point, U+10FFFF
      {"\xFF\xFE\x3D\xD8\x41\0"s,
       "\xEF\xBF\xBD"
       "A"},  // a high surrogate alone
      {"\xFF\xFE\x00\xDE\x41\0\x42"s,
       "\xEF\xBF\xBD"
       "A\xEF\xBF\xBD"},  // a low one alone, half a unit at the end
      {"\xFF\xFE"s, ""},
      {"\xEF\xBB\xBF{}", "\xEF\xBB\xBF{}"},
      {"{\"a\xFF\xFE\": 1}", "{\"a\xFF\xFE\": 1}"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FileTextAsUtf8(bytes), text);
  // Valid UTF-16 written back comes out byte for byte: the persona tool
  // rewrites such files.
  for (const std::size_t valid : {0, 1, 2, 3}) {
    const std::string& bytes = cases[valid].first;
    EXPECT_EQ(Utf8AsFileText(FileTextAsUtf8(bytes), Utf16ByteOrderMark(bytes)), bytes) << valid;
  }
}

}  // namespace
}  // namespace quillwave
