#include "persona/persona_config.h"

#include <span>
#include <vector>

#include "base/json_readers.h"
#include "persona/persona_keys.h"
#include "persona/text_file.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace quillwave {

std::wstring DefaultConfigPath(const std::wstring& data_folder) {
  if (data_folder.empty()) return {};
  return data_folder + Widen(kPersonaFileName);
}

std::wstring LocateConfigFile(const std::wstring& user_data_dir, const std::wstring& data_folder) {
  if (!user_data_dir.empty()) {
    // Whatever stands there is this profile's persona, even a link to
    // nothing: when it cannot be read the defaults apply, never the
    // persona other profiles share.
    std::wstring path = user_data_dir + platform::kPathSeparator + Widen(kPersonaFileName);
    if (!platform::NothingAt(path)) return path;
  }
  return DefaultConfigPath(data_folder);
}

std::string ReadSwitchProxyServer(std::string_view text) {
  const std::size_t open = FindObjectValue(text, "chrome-command-line");
  if (open == std::string_view::npos) return {};
  const std::size_t close = FindBlockEnd(text, open);
  if (close == std::string_view::npos) return {};
  return ReadStringField(text.substr(open, close - open + 1), "--proxy-server");
}

std::string MaskProxyPassword(std::string_view proxy) {
  const std::size_t scheme = proxy.find("://");
  const std::size_t user = scheme == std::string_view::npos ? 0 : scheme + 3;
  // The host and port hold no '@', so the last one ends the user part,
  // whatever the password itself holds.
  const std::size_t at = proxy.rfind('@');
  if (at == std::string_view::npos || at < user) return std::string(proxy);
  const std::size_t colon = proxy.find(':', user);
  if (colon == std::string_view::npos || colon > at) return std::string(proxy);
  return std::string(proxy.substr(0, colon + 1)) + "***" + std::string(proxy.substr(at));
}

PersonaConfig ParsePersonaConfig(std::string_view text) {
  // One pass over the quotes finds which keys the file holds; a key it does
  // not hold is not searched for, so a large file of other keys costs that
  // pass rather than a scan per key.
  const std::span<const PersonaKey> keys = PersonaKeys();
  const std::vector<bool> written = KeysWritten(text, PersonaKeyNames());
  PersonaConfig config;
  for (std::size_t k = 0; k < keys.size(); ++k)
    keys[k].read(written[k] ? text : std::string_view(), keys[k].name, config);
  return config;
}

std::vector<std::string> DiscoveryReasons(const PersonaConfig& p) {
  std::vector<std::string> reasons;
  if (p.webrtcNoLeak && !p.webrtcFakePublicIpGiven) {
    reasons.push_back("webrtc-no-leak is on and no webrtc-fake-public-ip is given");
  }
  if (p.autoGeo && (!p.hasGeoLat || !p.hasGeoLng))
    reasons.push_back("auto-geo is on and geo-lat or geo-lng is missing");
  if (p.autoLang && (!p.hasLang || !p.hasAcceptLanguage)) {
    reasons.push_back("auto-lang is on and lang or accept-language is missing");
  }
  if (p.autoTimezone && !p.hasTimezoneOverride)
    reasons.push_back("auto-timezone is on and timezone-override is missing");
  return reasons;
}

PersonaConfig LoadPersonaConfig(const std::wstring& path) {
  if (path.empty()) return {};
  const auto text = ReadTextFile(path);
  if (!text) return {};
  return ParsePersonaConfig(*text);
}

}  // namespace quillwave
