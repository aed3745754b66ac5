#include "tool/persona_check.h"

#include <algorithm>
#include <functional>

#include "base/json_readers.h"
#include "base/json_writer.h"
#include "discovery/curl_probe.h"
#include "housekeeping/storage_reset.h"
#include "launcher/engine_switches.h"
#include "launcher/run_sequence.h"
#include "persona/webgl_profile.h"
#include "platform/encoding.h"

namespace quillwave {
namespace {

constexpr std::size_t npos = std::string_view::npos;

enum class Kind { kString, kFlag, kPresence, kObject };

struct KeyRule {
  std::string_view key;
  Kind kind;
};

// Every key the launcher reads, in the order it reads them.
constexpr KeyRule kKeys[] = {
    {"proxy-server", Kind::kString},
    {"webrtc-no-leak", Kind::kFlag},
    {"webrtc-fake-public-ip", Kind::kString},
    {"on-proxy-fail", Kind::kString},
    {"auto-geo", Kind::kFlag},
    {"auto-lang", Kind::kFlag},
    {"auto-timezone", Kind::kFlag},
    {"geo-lat", Kind::kPresence},
    {"geo-lng", Kind::kPresence},
    {"lang", Kind::kPresence},
    {"accept-language", Kind::kPresence},
    {"timezone-override", Kind::kPresence},
    {"close-previous-tabs", Kind::kFlag},
    {"start-page", Kind::kString},
    {"cdp-tcp-port", Kind::kString},
    {"device-memory", Kind::kPresence},
    {"hardware-concurrency", Kind::kPresence},
    {"speech-voices", Kind::kPresence},
    {"granular-storage-reset", Kind::kObject},
    {"webgl-profile", Kind::kString},
};
constexpr std::string_view kSwitchObjectKey = "chrome-command-line";

// Edit distance, for "did you mean".
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// `; did you mean "x"?` for the closest name within reach, else nothing.
std::string Suggestion(std::string_view written, const std::vector<std::string_view>& known) {
  if (written.size() > 64) return {};  // nobody misspells at that length
  std::string_view best;
  std::size_t best_distance = std::max<std::size_t>(1, written.size() / 3) + 1;
  for (const std::string_view name : known) {
    const std::size_t distance = Distance(written, name);
    if (distance < best_distance) {
      best = name;
      best_distance = distance;
    }
  }
  return best.empty() ? std::string() : "; did you mean \"" + std::string(best) + "\"?";
}

// The offsets of every string that opens directly inside the outermost
// object, in one pass: where a key can stand and be a member of the file.
std::vector<std::size_t> TopLevelStrings(std::string_view text) {
  std::vector<std::size_t> starts;
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
      if (depth == 1) starts.push_back(i);
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return starts;
}

bool IsTrueText(std::string_view value) { return value == "true" || value == "1"; }
bool IsFalseText(std::string_view value) { return value == "false" || value == "0"; }

std::string Quoted(std::string_view value) { return "\"" + EscapeJsonString(value) + "\""; }
std::string BoolJson(bool value) { return value ? "true" : "false"; }

// The raw text of a value as written, for messages (shortened).
std::string Shown(std::string_view raw) {
  constexpr std::size_t kLongest = 40;
  return raw.size() > kLongest ? std::string(raw.substr(0, kLongest)) + "..." : std::string(raw);
}

// The raw value after "KEY": at `key_at`, as written, up to its end.
std::string_view RawValueAt(std::string_view text, std::size_t key_at) {
  std::size_t i = text.find(':', key_at + 1);
  if (i == npos) return {};
  ++i;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
  if (i >= text.size()) return {};
  std::size_t end = i;
  if (text[i] == '"') {
    end = FindStringEnd(text, i);
    end = end == npos ? text.size() : end + 1;
  } else if (text[i] == '{' || text[i] == '[') {
    end = FindBlockEnd(text, i);
    end = end == npos ? text.size() : end + 1;
  } else {
    while (end < text.size() && text[end] != ',' && text[end] != '}' && text[end] != ']' && text[end] != ' ' &&
           text[end] != '\n' && text[end] != '\r' && text[end] != '\t') {
      ++end;
    }
  }
  return text.substr(i, end - i);
}

class Checker {
 public:
  Checker(std::string_view text, const std::optional<std::string>& webgl_profiles)
      : text_(text), positions_(text), top_level_(TopLevelStrings(text)), webgl_profiles_(webgl_profiles) {}

  PersonaCheck Run() {
    check_.persona = ParsePersonaConfig(text_);
    check_.discovery = NeedsDiscovery(check_.persona);
    check_.reasons = DiscoveryReasons(check_.persona);
    for (const KeyRule& rule : kKeys) CheckKey(rule);
    CheckOccurrences(kSwitchObjectKey, FindObjectField(text_, kSwitchObjectKey).key_at);
    CheckUnknownKeys();
    CheckProxy();
    CheckStartPage();
    CheckPort();
    CheckStorageKinds();
    CheckWebglProfile();
    CheckTimezone();
    CheckCoordinate("geo-lat", 90, "a latitude between -90 and 90");
    CheckCoordinate("geo-lng", 180, "a longitude between -180 and 180");
    std::stable_sort(check_.findings.begin(), check_.findings.end(), [](const Finding& a, const Finding& b) {
      return std::make_pair(a.line == 0 ? SIZE_MAX : a.line, a.column) <
             std::make_pair(b.line == 0 ? SIZE_MAX : b.line, b.column);
    });
    return std::move(check_);
  }

 private:
  void Add(const char* severity, std::string_view key, std::size_t at, std::string message) {
    const auto [line, column] = positions_.At(at);
    check_.findings.push_back(Finding{severity, std::string(key), line, column, std::move(message)});
  }

  void AddField(std::string_view key, std::string json_value, std::size_t at) {
    const auto [line, column] = positions_.At(at);
    check_.fields.push_back(CheckedField{std::string(key), std::move(json_value), line, column});
  }

  bool AtTopLevel(std::size_t at) const { return std::binary_search(top_level_.begin(), top_level_.end(), at); }

  // Where a key is written more than once or inside another value.
  void CheckOccurrences(std::string_view key, std::size_t read_at) {
    const std::vector<std::size_t> every = FindEveryField(text_, key);
    if (every.size() > 1 && read_at != npos) {
      const auto [line, column] = positions_.At(read_at);
      // Placed at the first occurrence the launcher passes over.
      const std::size_t ignored = every[0] == read_at ? every[1] : every[0];
      Add(kSeverityWarning, key, ignored,
          "written " + std::to_string(every.size()) + " times; the launcher reads only the one at line " +
              std::to_string(line) + ", column " + std::to_string(column));
    }
    if (read_at != npos && !AtTopLevel(read_at)) {
      Add(kSeverityWarning, key, read_at,
          "read from inside another value: the launcher takes a key wherever it stands in the file");
    }
  }

  void CheckKey(const KeyRule& rule) {
    const PersonaConfig& p = check_.persona;
    const std::string_view key = rule.key;
    std::size_t at = npos;
    std::string json;
    switch (rule.kind) {
      case Kind::kString: {
        at = FindStringField(text_, key).key_at;
        const std::size_t string_at = at;
        if (key == "proxy-server") {
          if (at == npos || ReadStringField(text_, key).empty()) at = SwitchProxyAt();
          json = Quoted(MaskProxyPassword(p.proxyServer));
        } else if (key == "webrtc-fake-public-ip") {
          json = Quoted(ReadStringField(text_, key));
        } else if (key == "on-proxy-fail") {
          json = Quoted(p.onProxyFail);
        } else if (key == "start-page") {
          json = Quoted(p.startPage);
        } else if (key == "cdp-tcp-port") {
          json = Quoted(p.cdpTcpPort);
        } else {
          json = Quoted(p.webglProfile);
        }
        const std::size_t any = FindField(text_, key);
        if (string_at == npos && any != npos) {
          Add(kSeverityWarning, key, any,
              "written as " + Shown(RawValueAt(text_, any)) + ", not as a string: the launcher does not read it");
        }
        break;
      }
      case Kind::kFlag: {
        const KeyedValue found = FindScalarField(text_, key);
        at = found.key_at;
        const bool value = key == "close-previous-tabs" ? p.closePreviousTabs : IsTrueText(found.value);
        json = BoolJson(value);
        if (at != npos && !IsTrueText(found.value) && !IsFalseText(found.value)) {
          Add(kSeverityWarning, key, at,
              "written as " + Shown(RawValueAt(text_, at)) + ", which the launcher reads as false: only true or 1 " +
                  "count as true");
        }
        break;
      }
      case Kind::kPresence:
        at = FindField(text_, key);
        json = BoolJson(at != npos);
        break;
      case Kind::kObject: {
        at = FindObjectField(text_, key).key_at;
        json = "{";
        for (const auto& [kind, on] : p.granularStorageReset) {
          if (json.size() > 1) json += ',';
          json += Quoted(kind) + ":" + BoolJson(on);
        }
        json += "}";
        const std::size_t any = FindField(text_, key);
        if (at == npos && any != npos) {
          Add(kSeverityWarning, key, any,
              "written as " + Shown(RawValueAt(text_, any)) + ", not as an object: nothing is cleared");
        }
        break;
      }
    }
    if (key == "on-proxy-fail" && at != npos) {
      const std::string written = ReadStringField(text_, key);
      if (written != "block" && written != "fallback") {
        Add(kSeverityWarning, key, at,
            "\"" + Shown(written) + "\" is read as \"block\": only \"block\" and \"fallback\" are understood");
      }
    }
    AddField(key, std::move(json), at);
    if (key != "proxy-server" || FindStringField(text_, key).key_at == at) CheckOccurrences(key, at);
  }

  // Where the proxy taken from the switch object stands, or npos.
  std::size_t SwitchProxyAt() const {
    const KeyedObject object = FindObjectField(text_, kSwitchObjectKey);
    if (object.open == npos) return npos;
    const std::size_t close = FindBlockEnd(text_, object.open);
    if (close == npos) return npos;
    const std::size_t at = FindStringField(text_.substr(object.open, close - object.open + 1), "--proxy-server").key_at;
    return at == npos ? npos : object.open + at;
  }

  void CheckUnknownKeys() {
    std::vector<std::string_view> known{kSwitchObjectKey};
    for (const KeyRule& rule : kKeys) known.push_back(rule.key);
    ForEachMember(text_, [&](std::string_view key, std::string_view) {
      if (key.empty() || key.front() == '_' || std::find(known.begin(), known.end(), key) != known.end()) return;
      const std::size_t at = static_cast<std::size_t>(key.data() - text_.data()) - 1;
      Add(kSeverityWarning, key, at, "unknown key: the launcher ignores it" + Suggestion(key, known));
    });
  }

  void CheckProxy() {
    const PersonaConfig& p = check_.persona;
    if (!check_.discovery) return;
    const KeyedValue top = FindStringField(text_, "proxy-server");
    const std::size_t at = top.value.empty() ? SwitchProxyAt() : top.key_at;
    if (p.proxyServer.empty()) {
      Add(kSeverityWarning, "proxy-server", at,
          "no proxy: the lookup goes out directly, so the derived values follow this machine's own address");
    } else if (!CurlProxy(p.proxyServer)) {
      Add(kSeverityError, "proxy-server", at,
          "discovery needs a proxy of the form socks5://host:port; with this one every lookup fails" +
              std::string(p.onProxyFail == "block" ? " and the launch is refused (exit 42)" : ""));
    }
  }

  void CheckStartPage() {
    if (!StartPageReadAsSwitch(check_.persona.startPage)) return;
    Add(kSeverityWarning, "start-page", FindStringField(text_, "start-page").key_at,
        "the engine would read it as a switch, so the launcher opens chrome://version instead");
  }

  void CheckPort() {
    const std::string& port = check_.persona.cdpTcpPort;
    if (port.empty()) return;
    const std::size_t at = FindStringField(text_, "cdp-tcp-port").key_at;
    const std::wstring switches = RemoteDebuggingSwitches(port, L"");
    if (switches.empty()) {
      Add(kSeverityError, "cdp-tcp-port", at,
          "\"" + Shown(port) + "\" is not a port from 1 to 65535: no remote-debugging port is set");
      return;
    }
    // "--remote-debugging-port=N --remote-..." holds the number as the launcher reads it.
    const std::string read = Narrow(switches.substr(24, switches.find(L' ') - 24));
    if (read != port) {
      Add(kSeverityWarning, "cdp-tcp-port", at, "\"" + Shown(port) + "\" is read as port " + read);
    }
  }

  void CheckStorageKinds() {
    const KeyedObject object = FindObjectField(text_, "granular-storage-reset");
    if (object.open == npos) return;
    const std::vector<std::string_view> kinds = StorageKinds();
    ForEachMember(text_.substr(object.open), [&](std::string_view kind, std::string_view raw) {
      const std::size_t at = static_cast<std::size_t>(kind.data() - text_.data()) - 1;
      if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end()) {
        Add(kSeverityWarning, "granular-storage-reset", at,
            "unknown storage kind \"" + Shown(kind) + "\": nothing is cleared for it" + Suggestion(kind, kinds));
      } else if (raw != "true" && raw != "false") {
        Add(kSeverityWarning, "granular-storage-reset", at,
            "\"" + std::string(kind) + "\" written as " + Shown(raw) +
                ": only a bare true or false is read, so it is not cleared");
      }
    });
  }

  void CheckWebglProfile() {
    const std::string& name = check_.persona.webglProfile;
    if (name.empty()) return;
    const std::size_t at = FindStringField(text_, "webgl-profile").key_at;
    if (!webgl_profiles_) {
      Add(kSeverityWarning, "webgl-profile", at,
          std::string("no ") + kWebglProfilesFileName + " beside the launcher: the profile adds no switches");
    } else if (ReadProfileObject(*webgl_profiles_, name).empty()) {
      Add(kSeverityWarning, "webgl-profile", at,
          "no profile \"" + Shown(name) + "\" in " + kWebglProfilesFileName + ": it adds no switches");
    }
  }

  void CheckTimezone() {
    const std::size_t any = FindField(text_, "timezone-override");
    if (any == npos) return;
    const KeyedValue zone = FindStringField(text_, "timezone-override");
    if (zone.key_at != npos && IsTimeZoneName(zone.value)) return;
    Add(kSeverityWarning, "timezone-override", zone.key_at != npos ? zone.key_at : any,
        "written as " + Shown(RawValueAt(text_, zone.key_at != npos ? zone.key_at : any)) +
            ", not shaped like a zone name such as \"Europe/Berlin\"");
  }

  void CheckCoordinate(std::string_view key, int limit, const char* what) {
    const KeyedValue value = FindScalarField(text_, key);
    if (value.key_at == npos || IsCoordinate(value.value, limit)) return;
    Add(kSeverityWarning, key, value.key_at, "written as " + Shown(RawValueAt(text_, value.key_at)) + ", not " + what);
  }

  std::string_view text_;
  TextPositions positions_;
  std::vector<std::size_t> top_level_;
  const std::optional<std::string>& webgl_profiles_;
  PersonaCheck check_;
};

}  // namespace

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

PersonaCheck CheckPersona(std::string_view text, const std::optional<std::string>& webgl_profiles) {
  return Checker(text, webgl_profiles).Run();
}

std::string PersonaCheckJsonMembers(const PersonaCheck& check) {
  std::string json = "\"discovery\":" + BoolJson(check.discovery) + ",\"reasons\":[";
  for (std::size_t i = 0; i < check.reasons.size(); ++i) json += (i ? "," : "") + Quoted(check.reasons[i]);
  json += "],\"fields\":{";
  for (std::size_t i = 0; i < check.fields.size(); ++i) {
    const CheckedField& field = check.fields[i];
    json += (i ? "," : "") + Quoted(field.key) + ":{\"value\":" + field.json_value +
            ",\"line\":" + PositionJson(field.line) + ",\"column\":" + PositionJson(field.column) + "}";
  }
  return json + "},\"findings\":" + FindingsJson(check.findings);
}

std::string PersonaCheckText(const PersonaCheck& check) {
  std::string text = "discovery: " + std::string(check.discovery ? "yes" : "no") + "\n";
  for (const std::string& reason : check.reasons) text += "  because " + reason + "\n";
  text += "as the launcher reads it:\n";
  std::size_t width = 0;
  for (const CheckedField& field : check.fields) width = std::max(width, field.key.size());
  for (const CheckedField& field : check.fields) {
    text += "  " + field.key + std::string(width - field.key.size() + 2, ' ') + field.json_value;
    if (field.line != 0) {
      text += "  (line " + std::to_string(field.line) + ", column " + std::to_string(field.column) + ")";
    } else if (field.key == "close-previous-tabs" && check.persona.closePreviousTabs) {
      text += "  (a start-page always closes them)";
    } else {
      text += "  (not in the file: default)";
    }
    text += "\n";
  }
  text += check.findings.empty() ? "no findings\n" : FindingsText(check.findings);
  return text;
}

}  // namespace quillwave
