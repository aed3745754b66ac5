#include "persona/persona_config.h"

#include <utility>

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
    std::wstring path = user_data_dir + platform::kPathSeparator + Widen(kPersonaFileName);
    if (platform::PathExists(path)) return path;
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
  PersonaConfig config;
  config.proxyServer = ReadStringField(text, "proxy-server");
  if (config.proxyServer.empty()) config.proxyServer = ReadSwitchProxyServer(text);
  config.webrtcNoLeak = ReadFlag(text, "webrtc-no-leak");
  config.webrtcFakePublicIpGiven = !ReadStringField(text, "webrtc-fake-public-ip").empty();
  std::string on_proxy_fail = ReadStringField(text, "on-proxy-fail");
  if (on_proxy_fail == "block" || on_proxy_fail == "fallback") config.onProxyFail = std::move(on_proxy_fail);
  config.autoGeo = ReadFlag(text, "auto-geo");
  config.autoLang = ReadFlag(text, "auto-lang");
  config.autoTimezone = ReadFlag(text, "auto-timezone");
  config.hasGeoLat = HasField(text, "geo-lat");
  config.hasGeoLng = HasField(text, "geo-lng");
  config.hasLang = HasField(text, "lang");
  config.hasAcceptLanguage = HasField(text, "accept-language");
  config.hasTimezoneOverride = HasField(text, "timezone-override");
  config.closePreviousTabs = ReadFlag(text, "close-previous-tabs");
  config.startPage = ReadStringField(text, "start-page");
  // Opening a start page replaces the previous session's tabs.
  if (!config.startPage.empty()) config.closePreviousTabs = true;
  config.cdpTcpPort = ReadStringField(text, "cdp-tcp-port");
  config.granularStorageReset = ReadBoolObject(text, "granular-storage-reset");
  config.hasDeviceMemory = HasField(text, "device-memory");
  config.hasHardwareConcurrency = HasField(text, "hardware-concurrency");
  config.hasSpeechVoices = HasField(text, "speech-voices");
  config.webglProfile = ReadStringField(text, "webgl-profile");
  return config;
}

PersonaConfig LoadPersonaConfig(const std::wstring& path) {
  if (path.empty()) return {};
  const auto text = ReadTextFile(path);
  if (!text) return {};
  return ParsePersonaConfig(*text);
}

}  // namespace quillwave
