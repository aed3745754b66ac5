#include "discovery/country_locale.h"

namespace quillwave {
namespace {

// Each value: the tag, its base language at q=0.9, English at q=0.8 (English
// rows stop at q=0.9; Canada, Belgium and India add a second language).
constexpr CountryLocale kCountryLocales[] = {
    {"US", "en-US", "en-US,en;q=0.9"},
    {"CA", "en-CA", "en-CA,en;q=0.9,fr;q=0.8"},
    {"GB", "en-GB", "en-GB,en;q=0.9"},
    {"AU", "en-AU", "en-AU,en;q=0.9"},
    {"NZ", "en-NZ", "en-NZ,en;q=0.9"},
    {"IE", "en-IE", "en-IE,en;q=0.9"},
    {"DE", "de-DE", "de-DE,de;q=0.9,en;q=0.8"},
    {"AT", "de-AT", "de-AT,de;q=0.9,en;q=0.8"},
    {"CH", "de-CH", "de-CH,de;q=0.9,en;q=0.8"},
    {"FR", "fr-FR", "fr-FR,fr;q=0.9,en;q=0.8"},
    {"BE", "fr-BE", "fr-BE,fr;q=0.9,nl;q=0.8,en;q=0.7"},
    {"IT", "it-IT", "it-IT,it;q=0.9,en;q=0.8"},
    {"ES", "es-ES", "es-ES,es;q=0.9,en;q=0.8"},
    {"PT", "pt-PT", "pt-PT,pt;q=0.9,en;q=0.8"},
    {"NL", "nl-NL", "nl-NL,nl;q=0.9,en;q=0.8"},
    {"PL", "pl-PL", "pl-PL,pl;q=0.9,en;q=0.8"},
    {"SE", "sv-SE", "sv-SE,sv;q=0.9,en;q=0.8"},
    {"NO", "nb-NO", "nb-NO,nb;q=0.9,en;q=0.8"},
    {"DK", "da-DK", "da-DK,da;q=0.9,en;q=0.8"},
    {"FI", "fi-FI", "fi-FI,fi;q=0.9,en;q=0.8"},
    {"RU", "ru-RU", "ru-RU,ru;q=0.9,en;q=0.8"},
    {"UA", "uk-UA", "uk-UA,uk;q=0.9,en;q=0.8"},
    {"TR", "tr-TR", "tr-TR,tr;q=0.9,en;q=0.8"},
    {"JP", "ja-JP", "ja-JP,ja;q=0.9,en;q=0.8"},
    {"KR", "ko-KR", "ko-KR,ko;q=0.9,en;q=0.8"},
    {"CN", "zh-CN", "zh-CN,zh;q=0.9,en;q=0.8"},
    {"TW", "zh-TW", "zh-TW,zh;q=0.9,en;q=0.8"},
    {"HK", "zh-HK", "zh-HK,zh;q=0.9,en;q=0.8"},
    {"BR", "pt-BR", "pt-BR,pt;q=0.9,en;q=0.8"},
    {"MX", "es-MX", "es-MX,es;q=0.9,en;q=0.8"},
    {"AR", "es-AR", "es-AR,es;q=0.9,en;q=0.8"},
    {"IN", "en-IN", "en-IN,en;q=0.9,hi;q=0.8"},
    {"AM", "hy-AM", "hy-AM,hy;q=0.9,en;q=0.8"},
    {"GE", "ka-GE", "ka-GE,ka;q=0.9,en;q=0.8"},
    {"IL", "he-IL", "he-IL,he;q=0.9,en;q=0.8"},
    {"AE", "ar-AE", "ar-AE,ar;q=0.9,en;q=0.8"},
    {"SA", "ar-SA", "ar-SA,ar;q=0.9,en;q=0.8"},
    {"EG", "ar-EG", "ar-EG,ar;q=0.9,en;q=0.8"},
};

}  // namespace

CountryLocale LookupCountryLocale(std::string_view country_code) {
  for (const CountryLocale& row : kCountryLocales) {
    if (row.country == country_code) return row;
  }
  return {country_code, kCountryLocales[0].lang, kCountryLocales[0].accept_language};
}

}  // namespace quillwave
