#include "persona/persona_keys.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quillwave {
namespace {

PersonaKeyValue TextValue(std::string text) {
  PersonaKeyValue value;
  value.text = std::move(text);
  return value;
}

template <std::string PersonaConfig::*field>
void ReadText(std::string_view text, std::string_view key, PersonaConfig& persona) {
  persona.*field = ReadStringField(text, key);
}

template <bool PersonaConfig::*field>
void ReadFlag(std::string_view text, std::string_view key, PersonaConfig& persona) {
  persona.*field = IsTrueFlag(ReadScalarField(text, key));
}

template <bool PersonaConfig::*field>
void ReadPresence(std::string_view text, std::string_view key, PersonaConfig& persona) {
  persona.*field = HasField(text, key);
}

template <std::string PersonaConfig::*field>
PersonaKeyValue ShowText(const PersonaConfig& persona, std::string_view, std::string_view) {
  return TextValue(persona.*field);
}

template <bool PersonaConfig::*field>
PersonaKeyValue ShowTruth(const PersonaConfig& persona, std::string_view, std::string_view) {
  PersonaKeyValue value;
  value.on = persona.*field;
  return value;
}

template <std::string PersonaConfig::*field>
constexpr PersonaKey Text(std::string_view name) {
  return {name, PersonaKeyKind::kString, true, ReadText<field>, ShowText<field>};
}

template <bool PersonaConfig::*field>
constexpr PersonaKey Flag(std::string_view name) {
  return {name, PersonaKeyKind::kFlag, true, ReadFlag<field>, ShowTruth<field>};
}

template <bool PersonaConfig::*field>
constexpr PersonaKey Presence(std::string_view name) {
  return {name, PersonaKeyKind::kPresence, true, ReadPresence<field>, ShowTruth<field>};
}

constexpr PersonaKey kKeys[] = {
    {"proxy-server", PersonaKeyKind::kString, true, ReadText<&PersonaConfig::proxyServer>,
     [](const PersonaConfig& persona, std::string_view, std::string_view) {
       return TextValue(MaskProxyPassword(persona.proxyServer));
     }},
    // Its "--proxy-server" stands in for an empty or missing "proxy-server".
    {kSwitchObjectKey, PersonaKeyKind::kObject, false,
     [](std::string_view text, std::string_view, PersonaConfig& persona) {
       if (persona.proxyServer.empty()) persona.proxyServer = ReadSwitchProxyServer(text);
     },
     nullptr},
    Flag<&PersonaConfig::webrtcNoLeak>("webrtc-no-leak"),
    // The launcher keeps only whether an address is given.
    {"webrtc-fake-public-ip", PersonaKeyKind::kString, true,
     [](std::string_view text, std::string_view key, PersonaConfig& persona) {
       persona.webrtcFakePublicIpGiven = !ReadStringField(text, key).empty();
     },
     [](const PersonaConfig&, std::string_view text, std::string_view key) {
       return TextValue(ReadStringField(text, key));
     }},
    {"on-proxy-fail", PersonaKeyKind::kString, true,
     [](std::string_view text, std::string_view key, PersonaConfig& persona) {
       std::string value = ReadStringField(text, key);
       if (value == "block" || value == "fallback") persona.onProxyFail = std::move(value);
     },
     ShowText<&PersonaConfig::onProxyFail>},
    Flag<&PersonaConfig::autoGeo>("auto-geo"),
    Flag<&PersonaConfig::autoLang>("auto-lang"),
    Flag<&PersonaConfig::autoTimezone>("auto-timezone"),
    Presence<&PersonaConfig::hasGeoLat>("geo-lat"),
    Presence<&PersonaConfig::hasGeoLng>("geo-lng"),
    Presence<&PersonaConfig::hasLang>("lang"),
    Presence<&PersonaConfig::hasAcceptLanguage>("accept-language"),
    Presence<&PersonaConfig::hasTimezoneOverride>("timezone-override"),
    Flag<&PersonaConfig::closePreviousTabs>("close-previous-tabs"),
    // Opening a start page replaces the previous session's tabs: read after
    // "close-previous-tabs", so that a false there does not undo it.
    {"start-page", PersonaKeyKind::kString, true,
     [](std::string_view text, std::string_view key, PersonaConfig& persona) {
       persona.startPage = ReadStringField(text, key);
       if (!persona.startPage.empty()) persona.closePreviousTabs = true;
     },
     ShowText<&PersonaConfig::startPage>},
    Text<&PersonaConfig::cdpTcpPort>("cdp-tcp-port"),
    Presence<&PersonaConfig::hasDeviceMemory>("device-memory"),
    Presence<&PersonaConfig::hasHardwareConcurrency>("hardware-concurrency"),
    Presence<&PersonaConfig::hasSpeechVoices>("speech-voices"),
    {"granular-storage-reset", PersonaKeyKind::kObject, true,
     [](std::string_view text, std::string_view key, PersonaConfig& persona) {
       persona.granularStorageReset = ReadBoolObject(text, key);
     },
     [](const PersonaConfig& persona, std::string_view, std::string_view) {
       PersonaKeyValue value;
       value.members = persona.granularStorageReset;
       return value;
     }},
    Text<&PersonaConfig::webglProfile>("webgl-profile"),
};

constexpr auto kNames = [] {
  std::array<std::string_view, std::size(kKeys)> names{};
  for (std::size_t k = 0; k < names.size(); ++k) names[k] = kKeys[k].name;
  return names;
}();

}  // namespace

std::span<const PersonaKey> PersonaKeys() { return kKeys; }

std::span<const std::string_view> PersonaKeyNames() { return kNames; }

const PersonaKey* FindPersonaKey(std::string_view name) {
  const auto row =
      std::find_if(std::begin(kKeys), std::end(kKeys), [&](const PersonaKey& key) { return key.name == name; });
  return row == std::end(kKeys) ? nullptr : row;
}

bool IsTrueFlag(std::string_view scalar) { return scalar == "true" || scalar == "1"; }

}  // namespace quillwave
