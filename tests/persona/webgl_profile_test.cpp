#include "persona/webgl_profile.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace quillwave {
namespace {

using test::ScopedTempDir;
using test::WriteTextFile;

struct ProfileCase {
  std::string text;
  std::string name;
  ProfileMap expected;
};

TEST(ReadProfileObjectTest, ReadsMembersOfFirstObjectAfterQuotedName) {
  const std::vector<ProfileCase> cases = {
      {R"({"p1": {"b": "x y", "_note": "z", "a": 16384}})", "p1", {{"a", "16384"}, {"b", "x y"}}},
      // The first quoted occurrence is a value inside profile a; the next
      // colon and brace then belong to profile b.
      {R"({"a": {"webgl-profile": "b"}, "b": {"x": 1}})", "b", {{"x", "1"}}},
      {R"({"p": "none", "q": {"x": 1}})", "p", {{"x", "1"}}},
      {R"({"p2": {"x": 1}})", "p", {}},
      {R"({"p": {"v": "a\"b\u0041"}})", "p", {{"v", R"(a"b\u0041)"}}},
      {R"({"p": {"v": {"k": [1, 2]}, "w": [{"}": 1}]}})", "p", {{"v", R"({"k": [1, 2]})"}, {"w", R"([{"}": 1}])"}}},
      {R"({"p": {"a": 1, "b": 2)", "p", {}},
      {R"({"p": {"a": "1", "b": 2, "a": "3"}})", "p", {{"a", "3"}, {"b", "2"}}},
      {R"({"p": {"a": , "": 5, "b":: true}})", "p", {{"a", ""}, {"b", "true"}}},
      // A malformed member ends the walk and keeps what came before.
      {R"({"p": {"a": 1, x: 2, "b": 3}})", "p", {{"a", "1"}}},
      {R"({"p": {"a": 1, "b": [1}, "c": 2}})", "p", {{"a", "1"}}},
      // Written by Notepad (CRLF), with every other blank of the C locale.
      {"{\r\n\"p\": {\r\n\t\"a\": 1\r\n,\f\"b\":\v2\r\n}}", "p", {{"a", "1"}, {"b", "2"}}},
      {R"({"p": {}})", "p", {}},
      {R"({"p": 1})", "p", {}},
      {R"({"p": {"x": 1}})", "", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadProfileObject(c.text, c.name), c.expected) << c.text;
}

class WebglProfileFileTest : public ::testing::Test {
 protected:
  void WriteProfiles(std::string_view content) { WriteTextFile(dir_.path() / "corvane-webgl-profiles.json", content); }
  const ScopedTempDir& dir() const { return dir_; }

 private:
  ScopedTempDir dir_;
};

TEST_F(WebglProfileFileTest, BuildsOneSwitchPerMemberInKeyOrder) {
  WriteProfiles(
      "{\n  \"p1\": {\"b\": \"x y\", \"_note\": \"z\", \"a\": 16384},\n"
      "  \"intel\": {\"gl-renderer\": \"ANGLE (Intel\xC2\xAE UHD)\", \"gl-vendor\": \"Google Inc.\"}\n}\n");
  EXPECT_EQ(WebglProfileSwitchItems("p1", dir().wpath()), (std::vector<std::wstring>{L"--a=16384", L"--b=x y"}));
  EXPECT_EQ(WebglProfileSwitchItems("intel", dir().wpath()),
            (std::vector<std::wstring>{L"--gl-renderer=ANGLE (Intel\u00ae UHD)", L"--gl-vendor=Google Inc."}));
}

TEST_F(WebglProfileFileTest, NothingToAddGivesEmpty) {
  WriteProfiles(R"({"": {"x": 1}, "empty": {}, "open": {"x": 1, "y": 2)");
  for (const char* name : {"", "empty", "open", "absent"}) {
    EXPECT_TRUE(WebglProfileSwitchItems(name, dir().wpath()).empty()) << name;
  }
  const std::wstring elsewhere = dir().wpath() + quillwave::platform::kPathSeparator + L"missing";
  EXPECT_TRUE(WebglProfileSwitchItems("p1", elsewhere).empty());
}

}  // namespace
}  // namespace quillwave
