#include "tool/persona_check.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

#include "base/json_readers.h"
#include "base/utf16_text.h"
#include "discovery/curl_probe.h"
#include "discovery/discovery_worker.h"
#include "housekeeping/storage_reset.h"
#include "launcher/engine_start.h"
#include "launcher/engine_switches.h"
#include "launcher/run_sequence.h"
#include "persona/persona_keys.h"
#include "persona/webgl_profile.h"
#include "platform/child_output.h"
#include "platform/encoding.h"
#include "platform/process.h"
#include "tool/json_syntax.h"

namespace quillwave {
namespace {

constexpr std::size_t npos = std::string_view::npos;

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

// Whether a string opens directly inside the outermost object at an
// offset: where a key can stand and be a member of the file. One pass keeps
// the scanner's state every few kilobytes, so a question replays only those.
class TopLevelIndex {
 public:
  explicit TopLevelIndex(std::string_view text) : text_(text) {
    marks_.reserve(text.size() / kSpacing + 1);
    State state;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (i % kSpacing == 0) marks_.push_back(state);
      Step(state, text[i]);
    }
  }

  bool OpensTopLevelString(std::size_t at) const {
    if (at >= text_.size()) return false;
    State state = marks_[at / kSpacing];
    for (std::size_t i = at / kSpacing * kSpacing; i < at; ++i) Step(state, text_[i]);
    return !state.in_string && !state.escaped && text_[at] == '"' && state.depth == 1;
  }

 private:
  static constexpr std::size_t kSpacing = 4096;
  struct State {
    long depth = 0;
    bool in_string = false;
    bool escaped = false;
  };

  static void Step(State& state, char c) {
    if (state.escaped) {
      state.escaped = false;
    } else if (state.in_string) {
      if (c == '\\') {
        state.escaped = true;
      } else if (c == '"') {
        state.in_string = false;
      }
    } else if (c == '"') {
      state.in_string = true;
    } else if (c == '{' || c == '[') {
      ++state.depth;
    } else if (c == '}' || c == ']') {
      --state.depth;
    }
  }

  std::string_view text_;
  std::vector<State> marks_;
};

// Characters of a proxy's user name or password that curl, reading the
// proxy as a URL, takes for part of the address unless percent-encoded.
bool MustBeEncoded(std::string_view part, std::size_t i) {
  const auto is_hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
  if (part[i] == '%') return !(part.size() - i > 2 && is_hex(part[i + 1]) && is_hex(part[i + 2]));
  return std::string_view("@/?# ").find(part[i]) != npos;
}

// The part with those characters encoded; `named` collects `"@" as %40`
// once per character, in order.
std::string PercentEncoded(std::string_view part, std::vector<std::string>& named) {
  std::string encoded;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (!MustBeEncoded(part, i)) {
      encoded += part[i];
      continue;
    }
    char code[4];
    std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(part[i]));
    encoded += code;
    const std::string name = "\"" + std::string(1, part[i]) + "\" as " + code;
    if (std::find(named.begin(), named.end(), name) == named.end()) named.push_back(name);
  }
  return encoded;
}

// "a", "a and b", "a, b and c".
std::string JoinedWithAnd(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

bool IsFalseText(std::string_view value) { return value == "false" || value == "0"; }

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

// Kinds of finding a file can hold without bound; of each only the first
// kListedPerKind are listed, then how many more there are.
enum class Many { kUnknownKeys, kStorageKinds, kCount };
constexpr std::size_t kListedPerKind = 100;

class Checker {
 public:
  Checker(std::string_view text, const std::optional<std::string>& webgl_profiles, const CheckedLaunch& launch)
      : text_(text), positions_(text), top_level_(text), webgl_profiles_(webgl_profiles), launch_(launch) {}

  PersonaCheck Run(ByteOrderMark converted_from) {
    check_.persona = ParsePersonaConfig(text_);
    check_.discovery = NeedsDiscovery(check_.persona);
    check_.reasons = DiscoveryReasons(check_.persona);
    written_ = KeysWritten(text_, PersonaKeyNames());
    CheckForm(converted_from);
    for (const PersonaKey& row : PersonaKeys()) {
      if (row.shown != nullptr) CheckKey(row);
    }
    CheckOccurrences(kSwitchObjectKey, FindObjectField(text_, kSwitchObjectKey).key_at,
                     CountFields(text_, kSwitchObjectKey));
    CheckUnknownKeys();
    CheckProxy();
    CheckProxyUserInformation();
    CheckStartPage();
    CheckCommandLines();
    CheckPort();
    CheckStorageKinds();
    CheckWebglProfile();
    CheckTimezone();
    CheckCoordinate("geo-lat", 90, "a latitude between -90 and 90");
    CheckCoordinate("geo-lng", 180, "a longitude between -180 and 180");
    SayHowManyMore();
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

  // Counts one finding of a kind that can recur without bound; true while
  // it is still to be listed.
  bool Listed(Many kind) { return ++many_[static_cast<std::size_t>(kind)] <= kListedPerKind; }

  void SayHowManyMore() {
    const auto more = [&](Many kind) {
      const std::size_t count = many_[static_cast<std::size_t>(kind)];
      return count > kListedPerKind ? std::to_string(count - kListedPerKind) : std::string();
    };
    if (const std::string n = more(Many::kUnknownKeys); !n.empty()) {
      Add(kSeverityWarning, "", npos, n + " more unknown keys, not listed");
    }
    if (const std::string n = more(Many::kStorageKinds); !n.empty()) {
      Add(kSeverityWarning, "granular-storage-reset", npos, n + " more storage kinds the launcher ignores, not listed");
    }
  }

  void AddField(std::string_view key, std::string json_value, std::size_t at) {
    const auto [line, column] = positions_.At(at);
    check_.fields.push_back(CheckedField{std::string(key), std::move(json_value), line, column});
  }

  // The file as a whole: converted from UTF-16, empty, or not JSON at all.
  void CheckForm(ByteOrderMark converted_from) {
    if (converted_from != ByteOrderMark::kNone) {
      Add(kSeverityNote, "", npos,
          std::string("UTF-16 (") + (converted_from == ByteOrderMark::kUtf16LittleEndian ? "little" : "big") +
              "-endian, with a byte-order mark): read converted to UTF-8, as the launcher reads it");
    }
    if (text_.empty() || text_ == "\xEF\xBB\xBF") {
      Add(kSeverityWarning, "", npos, "the file is empty: every setting keeps its default");
      return;
    }
    const std::optional<JsonSyntaxError> error = FindJsonSyntaxError(text_);
    if (!error) return;
    const auto [line, column] = positions_.At(error->offset);
    Add(kSeverityWarning, "", error->offset,
        "not well-formed JSON at " + std::to_string(line) + ":" + std::to_string(column) + ": " + error->kind +
            "; the launcher still reads the keys it finds, other programs may not");
  }

  // Where a key is written more than once or inside another value.
  void CheckOccurrences(std::string_view key, std::size_t read_at, const FieldCount& every) {
    if (every.count > 1 && read_at != npos) {
      const auto [line, column] = positions_.At(read_at);
      // Placed at the first occurrence the launcher passes over.
      const std::size_t ignored = every.first == read_at ? every.second : every.first;
      Add(kSeverityWarning, key, ignored,
          "written " + std::to_string(every.count) + " times; the launcher reads only the one at line " +
              std::to_string(line) + ", column " + std::to_string(column));
    }
    if (read_at != npos && !top_level_.OpensTopLevelString(read_at)) {
      Add(kSeverityWarning, key, read_at,
          "read from inside another value: the launcher takes a key wherever it stands in the file");
    }
  }

  void CheckKey(const PersonaKey& row) {
    const std::string_view key = row.name;
    const FieldCount every = written_[static_cast<std::size_t>(&row - PersonaKeys().data())] ? CountFields(text_, key)
                                                                                             : FieldCount{};
    counts_[key] = every;
    // Where the key is not written every search for it comes back empty:
    // on a large file that spares a pass each.
    const std::string_view text = every.count > 0 ? text_ : std::string_view();
    const PersonaKeyValue value = row.shown(check_.persona, text, key);
    std::size_t at = npos;
    JsonWriter json(kToolJsonBytes);
    switch (row.kind) {
      case PersonaKeyKind::kString: {
        at = FindStringField(text, key).key_at;
        const std::size_t string_at = at;
        // Without a proxy of its own the one in the switch object is read.
        if (key == "proxy-server" && (at == npos || ReadStringField(text, key).empty())) at = SwitchProxyAt();
        json.String(value.text);
        const std::size_t any = FindField(text, key);
        if (string_at == npos && any != npos) {
          Add(kSeverityWarning, key, any,
              "written as " + Shown(RawValueAt(text_, any)) + ", not as a string: the launcher does not read it");
        }
        break;
      }
      case PersonaKeyKind::kFlag: {
        const KeyedValue found = FindScalarField(text, key);
        at = found.key_at;
        json.Boolean(value.on);
        if (at != npos && !IsTrueFlag(found.value) && !IsFalseText(found.value)) {
          Add(kSeverityWarning, key, at,
              "written as " + Shown(RawValueAt(text_, at)) + ", which the launcher reads as false: only true or 1 " +
                  "count as true");
        }
        break;
      }
      case PersonaKeyKind::kPresence:
        at = FindField(text, key);
        json.Boolean(value.on);
        break;
      case PersonaKeyKind::kObject: {
        at = FindObjectField(text, key).key_at;
        json.BeginObject();
        for (const auto& [kind, on] : value.members) json.Boolean(kind, on);
        json.EndObject();
        const std::size_t any = FindField(text, key);
        if (at == npos && any != npos) {
          Add(kSeverityWarning, key, any,
              "written as " + Shown(RawValueAt(text_, any)) + ", not as an object: nothing is cleared");
        }
        break;
      }
    }
    if (key == "on-proxy-fail" && at != npos) {
      const std::string written = ReadStringField(text, key);
      if (written != "block" && written != "fallback") {
        Add(kSeverityWarning, key, at,
            "\"" + Shown(written) + "\" is read as \"block\": only \"block\" and \"fallback\" are understood");
      }
    }
    AddField(key, json.Take(), at);
    if (key != "proxy-server" || FindStringField(text, key).key_at == at) CheckOccurrences(key, at, every);
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
    for (const PersonaKey& row : PersonaKeys()) {
      if (row.shown != nullptr) known.push_back(row.name);
    }
    ForEachMember(text_, [&](std::string_view key, std::string_view) {
      if (key.empty() || key.front() == '_' || std::find(known.begin(), known.end(), key) != known.end()) return;
      if (!Listed(Many::kUnknownKeys)) return;
      const std::size_t at = static_cast<std::size_t>(key.data() - text_.data()) - 1;
      Add(kSeverityWarning, key, at, "unknown key: the launcher ignores it" + Suggestion(key, known));
    });
  }

  // Where the proxy the launcher uses stands: the top-level key, else the
  // switch object's member.
  std::size_t ProxyAt() const {
    const KeyedValue top = FindStringField(text_, "proxy-server");
    return top.value.empty() ? SwitchProxyAt() : top.key_at;
  }

  void CheckProxy() {
    const PersonaConfig& p = check_.persona;
    // Pinned: an auto- key written but off, as fill --pin leaves it.
    const bool pinned = (HasField(text_, "auto-geo") && !p.autoGeo) || (HasField(text_, "auto-lang") && !p.autoLang) ||
                        (HasField(text_, "auto-timezone") && !p.autoTimezone);
    if (!check_.discovery && pinned && !p.proxyServer.empty()) {
      Add(kSeverityNote, "proxy-server", ProxyAt(),
          "pinned: no key asks for the lookup, so launches do not check the proxy and start even when it is down; "
          "the persona's values stay as written if the proxy's exit changes");
    }
    if (!check_.discovery) return;
    const std::size_t at = ProxyAt();
    if (p.proxyServer.empty()) {
      Add(kSeverityWarning, "proxy-server", at,
          "no proxy: the lookup goes out directly, so the derived values follow this machine's own address");
    } else if (!CurlProxy(p.proxyServer)) {
      Add(kSeverityError, "proxy-server", at,
          "discovery needs a proxy of the form socks5://host:port; with this one every lookup fails" +
              std::string(p.onProxyFail == "block" ? " and the launch is refused (exit 42)" : ""));
    }
  }

  // curl reads the proxy as a URL: its user name and password end at the
  // first "@", "/", "?" or "#", and "%" starts an encoded byte.
  void CheckProxyUserInformation() {
    const std::string_view proxy = check_.persona.proxyServer;
    const std::size_t scheme = proxy.find("://");
    const std::size_t user = scheme == npos ? 0 : scheme + 3;
    // As the person meant it: the host and port hold no "@".
    const std::size_t at = proxy.rfind('@');
    if (at == npos || at < user) return;
    const std::string_view user_information = proxy.substr(user, at - user);
    const std::size_t colon = user_information.find(':');
    std::vector<std::string> in_user, in_password;
    const std::string user_name = PercentEncoded(user_information.substr(0, colon), in_user);
    if (colon != npos) PercentEncoded(user_information.substr(colon + 1), in_password);
    if (in_user.empty() && in_password.empty()) return;
    std::string message = "curl reads the user name and password as part of a URL, where some characters must be " +
                          std::string("percent-encoded: write ") + std::string(proxy.substr(0, user)) + user_name +
                          (colon != npos ? ":***" : "") + std::string(proxy.substr(at));
    if (!in_password.empty()) message += ", with " + JoinedWithAnd(in_password) + " in the password";
    Add(kSeverityWarning, "proxy-server", ProxyAt(), message);
  }

  // Values that reach a command line: the system takes only so much.
  void CheckCommandLines() {
    PersonaConfig persona = check_.persona;
    if (StartPageReadAsSwitch(persona.startPage)) persona.startPage.clear();  // set aside anyway
    const std::vector<std::wstring> webgl_items =
        webgl_profiles_ ? ProfileSwitchItems(*webgl_profiles_, persona.webglProfile) : std::vector<std::wstring>();
    EngineSwitches switches = DirectRecipe(persona, ReadMachineValues(), webgl_items, launch_.own_arguments.list);
    if (SetAsideOverlongStartPage(switches, launch_.engine_path, launch_.own_arguments)) {
      Add(kSeverityError, "start-page", FindStringField(text_, "start-page").key_at,
          "longer than the engine's command line allows, so the launcher opens chrome://version instead");
    }
    if (!webgl_items.empty() &&
        !platform::ArgumentsFitSystem(EngineLaunch(launch_.engine_path, launch_.own_arguments, switches))) {
      Add(kSeverityError, "webgl-profile", FindStringField(text_, "webgl-profile").key_at,
          "the profile's switches make the engine's command line longer than the system allows: the engine cannot "
          "be started");
    }
    // Where other users cannot read a command line, curl gets the proxy among its arguments.
    const std::optional<std::string> curl_proxy = CurlProxy(persona.proxyServer);
    if (check_.discovery && curl_proxy && platform::CommandLinesArePrivate() &&
        !platform::ArgumentsFitSystem(CurlLaunch(L"curl", CurlArguments(*curl_proxy, PrimaryUrl())))) {
      Add(kSeverityError, "proxy-server", ProxyAt(), "longer than curl's command line allows: every lookup fails");
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
    const std::wstring switches = RemoteDebuggingSwitches(port, {});
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
      const bool unknown = std::find(kinds.begin(), kinds.end(), kind) == kinds.end();
      if ((unknown || (raw != "true" && raw != "false")) && !Listed(Many::kStorageKinds)) return;
      const std::size_t at = static_cast<std::size_t>(kind.data() - text_.data()) - 1;
      if (unknown) {
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
    const std::size_t any = counts_["timezone-override"].first;
    if (any == npos) return;
    const KeyedValue zone = FindStringField(text_, "timezone-override");
    if (zone.key_at != npos && IsTimeZoneName(zone.value)) return;
    Add(kSeverityWarning, "timezone-override", zone.key_at != npos ? zone.key_at : any,
        "written as " + Shown(RawValueAt(text_, zone.key_at != npos ? zone.key_at : any)) +
            ", not shaped like a zone name such as \"Europe/Berlin\"");
  }

  void CheckCoordinate(std::string_view key, int limit, const char* what) {
    if (counts_[key].count == 0) return;
    const KeyedValue value = FindScalarField(text_, key);
    if (value.key_at == npos || IsCoordinate(value.value, limit)) return;
    Add(kSeverityWarning, key, value.key_at, "written as " + Shown(RawValueAt(text_, value.key_at)) + ", not " + what);
  }

  std::string_view text_;
  TextPositions positions_;
  TopLevelIndex top_level_;
  const std::optional<std::string>& webgl_profiles_;
  const CheckedLaunch& launch_;
  std::size_t many_[static_cast<std::size_t>(Many::kCount)] = {};
  std::vector<bool> written_;                      // of every key the launcher reads, in PersonaKeys' order
  std::map<std::string_view, FieldCount> counts_;  // of every key the launcher reads
  PersonaCheck check_;
};

}  // namespace

PersonaCheck CheckPersona(std::string_view bytes, const std::optional<std::string>& webgl_profiles,
                          const CheckedLaunch& launch) {
  const ByteOrderMark mark = Utf16ByteOrderMark(bytes);
  if (mark == ByteOrderMark::kNone) return Checker(bytes, webgl_profiles, launch).Run(mark);
  const std::string text = FileTextAsUtf8(std::string(bytes));
  return Checker(text, webgl_profiles, launch).Run(mark);
}

void AddPersonaCheckMembers(JsonWriter& json, const PersonaCheck& check) {
  json.Boolean("discovery", check.discovery).BeginArray("reasons");
  for (const std::string& reason : check.reasons) json.String(reason);
  json.EndArray().BeginObject("fields");
  for (const CheckedField& field : check.fields) {
    json.BeginObject(field.key).Raw("value", field.json_value);
    AddPlaceMembers(json, field.line, field.column);
    json.EndObject();
  }
  json.EndObject();
  AddFindingsMember(json, check.findings);
}

std::string PersonaCheckText(const PersonaCheck& check) {
  std::string text = "discovery: " + std::string(check.discovery ? "yes" : "no") + "\n";
  for (const std::string& reason : check.reasons) text += "  because " + reason + "\n";
  text += "as the launcher reads it:\n";
  std::size_t width = 0;
  for (const CheckedField& field : check.fields) width = std::max(width, field.key.size());
  for (const CheckedField& field : check.fields) {
    text += "  " + field.key + std::string(width - field.key.size() + 2, ' ') + TerminalText(field.json_value);
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
