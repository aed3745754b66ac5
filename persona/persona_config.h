// The persona file "command-line.json": where it is, what the launcher reads
// from it, and the summary rows the progress window shows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "persona/json_readers.h"

namespace quillwave {

inline constexpr char kPersonaFileName[] = "command-line.json";

struct PersonaConfig {
  std::string proxyServer;
  bool webrtcNoLeak = false;
  bool webrtcFakePublicIpGiven = false;
  std::string onProxyFail = "block";
  bool autoGeo = false;
  bool autoLang = false;
  bool autoTimezone = false;
  bool hasGeoLat = false;
  bool hasGeoLng = false;
  bool hasLang = false;
  bool hasAcceptLanguage = false;
  bool hasTimezoneOverride = false;
  bool closePreviousTabs = false;
  std::string startPage;
  std::string cdpTcpPort;
  bool hasDeviceMemory = false;
  bool hasHardwareConcurrency = false;
  bool hasSpeechVoices = false;
  BoolMap granularStorageReset;
  std::string webglProfile;
  bool operator==(const PersonaConfig&) const = default;
};

struct SettingsSummary {
  std::vector<SummaryRow> overrides;  // "Active overrides"
  std::vector<SummaryRow> switches;   // "Raw Chromium switches"
};

// The persona file in the user-data directory when it exists there, else
// DefaultConfigPath().
std::wstring LocateConfigFile(const std::wstring& user_data_dir);

// "command-line.json" in the launcher data folder, or empty.
std::wstring DefaultConfigPath();

// Reads the settings from the file's text; the defaults for what is absent.
PersonaConfig ParsePersonaConfig(std::string_view text);

// The defaults when the file cannot be read.
PersonaConfig LoadPersonaConfig(const std::wstring& path);

std::string ReadSwitchProxyServer(std::string_view text);

SettingsSummary BuildSettingsSummary(std::string_view text);

}  // namespace quillwave
