#include "persona/persona_config.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "base/json_readers.h"
#include "persona/text_file.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace quillwave {
namespace {

// Boolean keys accept exactly "true" or "1", bare or quoted.
bool ReadFlag(std::string_view text, std::string_view key) {
  const std::string value = ReadScalarField(text, key);
  return value == "true" || value == "1";
}

}  // namespace

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
  static constexpr std::string_view kKeys[] = {"proxy-server",
                                               "chrome-command-line",
                                               "webrtc-no-leak",
                                               "webrtc-fake-public-ip",
                                               "on-proxy-fail",
                                               "auto-geo",
                                               "auto-lang",
                                               "auto-timezone",
                                               "geo-lat",
                                               "geo-lng",
                                               "lang",
                                               "accept-language",
                                               "timezone-override",
                                               "close-previous-tabs",
                                               "start-page",
                                               "cdp-tcp-port",
                                               "device-memory",
                                               "hardware-concurrency",
                                               "speech-voices",
                                               "granular-storage-reset",
                                               "webgl-profile"};
  const std::vector<bool> written = KeysWritten(text, kKeys);
  const auto in = [&](std::string_view key) {
    const std::size_t k = static_cast<std::size_t>(std::find(std::begin(kKeys), std::end(kKeys), key) - kKeys);
    return k < written.size() && !written[k] ? std::string_view() : text;  // a key not listed: the whole text
  };

  PersonaConfig config;
  config.proxyServer = ReadStringField(in("proxy-server"), "proxy-server");
  if (config.proxyServer.empty()) config.proxyServer = ReadSwitchProxyServer(in("chrome-command-line"));
  config.webrtcNoLeak = ReadFlag(in("webrtc-no-leak"), "webrtc-no-leak");
  config.webrtcFakePublicIpGiven = !ReadStringField(in("webrtc-fake-public-ip"), "webrtc-fake-public-ip").empty();
  std::string on_proxy_fail = ReadStringField(in("on-proxy-fail"), "on-proxy-fail");
  if (on_proxy_fail == "block" || on_proxy_fail == "fallback") config.onProxyFail = std::move(on_proxy_fail);
  config.autoGeo = ReadFlag(in("auto-geo"), "auto-geo");
  config.autoLang = ReadFlag(in("auto-lang"), "auto-lang");
  config.autoTimezone = ReadFlag(in("auto-timezone"), "auto-timezone");
  config.hasGeoLat = HasField(in("geo-lat"), "geo-lat");
  config.hasGeoLng = HasField(in("geo-lng"), "geo-lng");
  config.hasLang = HasField(in("lang"), "lang");
  config.hasAcceptLanguage = HasField(in("accept-language"), "accept-language");
  config.hasTimezoneOverride = HasField(in("timezone-override"), "timezone-override");
  config.closePreviousTabs = ReadFlag(in("close-previous-tabs"), "close-previous-tabs");
  config.startPage = ReadStringField(in("start-page"), "start-page");
  // Opening a start page replaces the previous session's tabs.
  if (!config.startPage.empty()) config.closePreviousTabs = true;
  config.cdpTcpPort = ReadStringField(in("cdp-tcp-port"), "cdp-tcp-port");
  config.granularStorageReset = ReadBoolObject(in("granular-storage-reset"), "granular-storage-reset");
  config.hasDeviceMemory = HasField(in("device-memory"), "device-memory");
  config.hasHardwareConcurrency = HasField(in("hardware-concurrency"), "hardware-concurrency");
  config.hasSpeechVoices = HasField(in("speech-voices"), "speech-voices");
  config.webglProfile = ReadStringField(in("webgl-profile"), "webgl-profile");
  return config;
}

PersonaConfig LoadPersonaConfig(const std::wstring& path) {
  if (path.empty()) return {};
  const auto text = ReadTextFile(path);
  if (!text) return {};
  return ParsePersonaConfig(*text);
}

}  // namespace quillwave
