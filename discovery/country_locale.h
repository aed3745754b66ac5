// The language tag and Accept-Language value of the egress country.
#pragma once

#include <string_view>

namespace quillwave {

struct CountryLocale {
  std::string_view country;
  std::string_view lang;
  std::string_view accept_language;
};

// The row of the exactly matching (case-sensitive) country code, or the
// en-US default. Never empty.
CountryLocale LookupCountryLocale(std::string_view country_code);

}  // namespace quillwave
