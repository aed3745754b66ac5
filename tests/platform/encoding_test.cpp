#include "platform/encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace quillwave::platform {
namespace {

constexpr wchar_t kR = 0xFFFD;

TEST(EncodingTest, DecodesValidUtf8) {
  struct DecodeCase {
    const char* what;
    std::string utf8;
    std::wstring wide;
  };
  const DecodeCase cases[] = {
      {"empty", "", L""},
      {"ASCII with a zero byte", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
      {"two and three bytes", "\xC3\xA9\xE2\x82\xAC", L"\u00e9\u20ac"},
      {"edges of the ranges", "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF",
       L"\u0080\u07ff\u0800\ud7ff\ue000\uffff"},
      {"outside the basic plane", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", L"\U00010000\U0010FFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide) << c.what;
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8) << c.what;
  }
}

// Each maximal ill-formed subpart becomes one U+FFFD. Windows applies its own
// count to sequences whose bytes look well formed but decode to a forbidden
// value (overlong, surrogate, above U+10FFFF); it still only replaces.
TEST(EncodingTest, ReplacesMalformedUtf8) {
  struct MalformedCase {
    const char* what;
    std::string utf8;
    std::wstring wide;
    bool count_is_the_systems = false;
  };
  const MalformedCase cases[] = {
      {"cut at the end", "ab\xE2\x82", std::wstring(L"ab") + kR},
      {"cut before ASCII", "\xF0\x9F\x98x", std::wstring(1, kR) + L"x"},
      {"lone continuation",
       "a\x80"
       "b",
       std::wstring(L"a") + kR + L"b"},
      {"invalid lead bytes", "\xC0\xFF", std::wstring(2, kR)},
      {"overlong", "\xE0\x80\xAF", std::wstring(3, kR), true},
      {"surrogate", "\xED\xA0\x80", std::wstring(3, kR), true},
      {"above U+10FFFF", "\xF4\x90\x80\x80", std::wstring(4, kR), true},
  };
  for (const auto& c : cases) {
    const std::wstring wide = Utf8ToWide(c.utf8);
#ifdef _WIN32
    if (c.count_is_the_systems) {
      EXPECT_FALSE(wide.empty()) << c.what;
      EXPECT_EQ(wide.find_first_not_of(kR), std::wstring::npos) << c.what;
      continue;
    }
#endif
    EXPECT_EQ(wide, c.wide) << c.what;
  }
}

TEST(EncodingTest, LoneSurrogateBecomesReplacementCharacter) {
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xDC00))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"b"),
            "a\xEF\xBF\xBD"
            "b");
}

#ifndef _WIN32
// Names the system hands over keep every byte: a folder ending in byte E9
// stays apart from one ending in the bytes of U+FFFD, while text shown or
// recorded still reads U+FFFD for the byte.
TEST(EncodingTest, SystemBytesRoundTripWithoutLoss) {
  using namespace std::string_literals;
  for (const std::string& bytes :
       {"/p/Q\xE9"s, "/p/Q\xEF\xBF\xBD"s, "ab\xE2\x82"s, "\xF0\x9F\x98x\xED\xA0\x80\xC0\xFF"s, "\xC3\xA9\0\x80"s}) {
    EXPECT_EQ(WideToBytes(BytesToWide(bytes)), bytes);
  }
  EXPECT_EQ(BytesToWide("Q\xE9"), std::wstring(L"Q") + static_cast<wchar_t>(0xDCE9));
  EXPECT_EQ(BytesToWide("Q\xC3\xA9"), L"Q\u00e9");
  EXPECT_EQ(WideToUtf8(BytesToWide("Q\xE9")), "Q\xEF\xBF\xBD");
  EXPECT_EQ(WideToBytes(std::wstring(1, static_cast<wchar_t>(0xDC7F))), "\xEF\xBF\xBD");  // stands for no byte
}
#endif

}  // namespace
}  // namespace quillwave::platform
