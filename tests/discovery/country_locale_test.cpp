#include "discovery/country_locale.h"

#include <gtest/gtest.h>

#include <string>

namespace quillwave {
namespace {

constexpr const char* kCountries[] = {"US", "CA", "GB", "AU", "NZ", "IE", "DE", "AT", "CH", "FR", "BE", "IT", "ES",
                                      "PT", "NL", "PL", "SE", "NO", "DK", "FI", "RU", "UA", "TR", "JP", "KR", "CN",
                                      "TW", "HK", "BR", "MX", "AR", "IN", "AM", "GE", "IL", "AE", "SA", "EG"};

// Every row follows one rule: the tag names the row's own country, the
// header gives the tag, its base language at 0.9 and English at 0.8 (English
// rows stop at 0.9); three rows add a second language instead.
TEST(CountryLocale, EveryRowFollowsTheTableRule) {
  for (const char* country : kCountries) {
    const CountryLocale row = LookupCountryLocale(country);
    const std::string lang(row.lang);
    ASSERT_EQ(lang.size(), 5u) << country;
    EXPECT_EQ(lang.substr(3), country);
    const std::string base = lang.substr(0, 2);
    std::string expected = lang + "," + base + ";q=0.9";
    if (std::string(country) == "CA") {
      expected += ",fr;q=0.8";
    } else if (std::string(country) == "BE") {
      expected += ",nl;q=0.8,en;q=0.7";
    } else if (std::string(country) == "IN") {
      expected += ",hi;q=0.8";
    } else if (base != "en") {
      expected += ",en;q=0.8";
    }
    EXPECT_EQ(row.accept_language, expected) << country;
  }
}

TEST(CountryLocale, LanguagesThatDifferFromTheCountryName) {
  const std::pair<const char*, const char*> cases[] = {
      {"NO", "nb-NO"}, {"UA", "uk-UA"}, {"AM", "hy-AM"}, {"SE", "sv-SE"}, {"DK", "da-DK"}, {"JP", "ja-JP"},
      {"KR", "ko-KR"}, {"CN", "zh-CN"}, {"TW", "zh-TW"}, {"HK", "zh-HK"}, {"GE", "ka-GE"}, {"IL", "he-IL"},
      {"AE", "ar-AE"}, {"SA", "ar-SA"}, {"EG", "ar-EG"}, {"BR", "pt-BR"}, {"MX", "es-MX"}, {"AR", "es-AR"},
      {"AT", "de-AT"}, {"CH", "de-CH"}, {"BE", "fr-BE"}, {"IN", "en-IN"}, {"CA", "en-CA"}};
  for (const auto& [country, lang] : cases) EXPECT_EQ(LookupCountryLocale(country).lang, lang) << country;
  EXPECT_EQ(LookupCountryLocale("DE").accept_language, "de-DE,de;q=0.9,en;q=0.8");
  EXPECT_EQ(LookupCountryLocale("BE").accept_language, "fr-BE,fr;q=0.9,nl;q=0.8,en;q=0.7");
}

TEST(CountryLocale, AnythingElseGetsTheUsDefault) {
  for (const char* code : {"de", "DE ", " DE", "DEU", "MA", "", "U", "us"}) {
    const CountryLocale row = LookupCountryLocale(code);
    EXPECT_EQ(row.lang, "en-US") << code;
    EXPECT_EQ(row.accept_language, "en-US,en;q=0.9") << code;
  }
}

}  // namespace
}  // namespace quillwave
