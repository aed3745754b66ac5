#include "tool/persona_fill.h"

#include <algorithm>
#include <utility>

#include "base/json_readers.h"
#include "base/json_writer.h"
#include "base/utf16_text.h"
#include "discovery/discovery_result.h"
#include "discovery/discovery_worker.h"
#include "persona/persona_config.h"
#include "persona/persona_keys.h"
#include "platform/encoding.h"
#include "tool/json_syntax.h"

namespace quillwave {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t kContext = 3;

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// One piece of the old text replaced by new text.
struct Splice {
  std::size_t at;
  std::size_t length;
  std::string text;
};

// Where the value of the member whose key's quote stands at `key_at` starts and ends.
std::pair<std::size_t, std::size_t> ValueSpan(std::string_view text, std::size_t key_at) {
  std::size_t start = FindStringEnd(text, key_at) + 1;
  while (start < text.size() && (IsJsonSpace(text[start]) || text[start] == ':')) ++start;
  std::size_t end = start;
  if (end < text.size() && (text[end] == '"' || text[end] == '{' || text[end] == '[')) {
    end = (text[end] == '"' ? FindStringEnd(text, end) : FindBlockEnd(text, end)) + 1;
  } else {
    while (end < text.size() && text[end] != ',' && text[end] != '}' && text[end] != ']' && !IsJsonSpace(text[end])) {
      ++end;
    }
  }
  return {start, end};
}

// The occurrence of a key the launcher reads, by the key's kind: a string
// key's first string value, a flag's first value of any kind, else the first
// "KEY":. A string key with no string value anywhere is given one where it
// is first written.
std::size_t OccurrenceRead(std::string_view text, std::string_view key) {
  const PersonaKey* row = FindPersonaKey(key);
  std::size_t at = npos;
  if (row != nullptr && row->kind == PersonaKeyKind::kString) at = FindStringField(text, key).key_at;
  if (row != nullptr && row->kind == PersonaKeyKind::kFlag) at = FindScalarField(text, key).key_at;
  return at != npos ? at : FindField(text, key);
}

bool IsCoordinateKey(std::string_view key) { return key == "geo-lat" || key == "geo-lng"; }

// A coordinate as a bare JSON number when it is one (the scalar reader gives
// back its text unchanged), else quoted, which reads back the same.
std::string CoordinateJson(const std::string& value) {
  const std::size_t digits = value.starts_with('-') ? 1 : 0;
  const bool leading_zero = value.size() > digits + 1 && value[digits] == '0' && value[digits + 1] != '.';
  return leading_zero ? "\"" + value + "\"" : value;
}

// Where new members go and how they are laid out: after the last member of
// the top-level object, indented as it is, with the first member's spacing
// around its colon. A persona with anything to fill has a member: the key
// that asks for it.
struct Layout {
  std::size_t insert_at = 0;
  std::string indent;
  std::string colon = ": ";
};

Layout LayoutOf(std::string_view text) {
  Layout layout;
  std::size_t last_key = npos;
  ForEachMember(text, [&](std::string_view key, std::string_view value) {
    const std::size_t key_at = static_cast<std::size_t>(key.data() - text.data()) - 1;
    const std::size_t value_at = static_cast<std::size_t>(value.data() - text.data());
    if (last_key == npos)
      layout.colon = std::string(text.substr(key_at + key.size() + 2, value_at - key_at - key.size() - 2));
    last_key = key_at;
    layout.insert_at = value_at + value.size();
  });
  std::size_t indent_at = last_key;
  while (indent_at > 0 && IsJsonSpace(text[indent_at - 1])) --indent_at;
  layout.indent = std::string(text.substr(indent_at, last_key - indent_at));
  return layout;
}

std::string Apply(std::string_view text, const std::vector<Splice>& splices) {
  std::string out;
  std::size_t from = 0;
  for (const Splice& splice : splices) {
    out.append(text, from, splice.at - from);
    out += splice.text;
    from = splice.at + splice.length;
  }
  out.append(text, from);
  return out;
}

// A line of the file as a terminal may show it: without its line end, tabs
// kept, everything else made safe.
std::string ShownLine(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (line.ends_with('\r')) line.remove_suffix(1);
  std::string shown;
  for (std::size_t from = 0;;) {
    const std::size_t tab = line.find('\t', from);
    shown += TerminalText(line.substr(from, tab - from));
    if (tab == npos) return shown;
    shown += '\t';
    from = tab + 1;
  }
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = std::min(text.find('\n', from), text.size() - 1) + 1;
    lines.push_back(text.substr(from, end - from));
    from = end;
  }
  return lines;
}

// The unified diff of the splices, three lines of context. Each splice
// changes the whole lines it touches; splices whose contexts meet share a hunk.
std::string UnifiedDiff(std::string_view text, const std::vector<Splice>& splices, std::string_view label) {
  const std::vector<std::string_view> old_lines = Lines(text);
  std::vector<std::size_t> starts;  // of each old line, and the text's end
  for (const std::string_view line : old_lines) starts.push_back(static_cast<std::size_t>(line.data() - text.data()));
  starts.push_back(text.size());
  const auto line_of = [&](std::size_t offset) {
    return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end() - 1, offset) - starts.begin()) - 1;
  };
  // Changed runs of old lines [first, last] with what replaces them.
  struct Change {
    std::size_t first;
    std::size_t last;
    std::vector<Splice> splices;
  };
  std::vector<Change> changes;
  for (const Splice& splice : splices) {
    const std::size_t first = old_lines.empty() ? 0 : line_of(splice.at);
    const std::size_t last =
        old_lines.empty() ? 0 : std::max(first, line_of(splice.at + std::max<std::size_t>(splice.length, 1) - 1));
    if (!changes.empty() && first <= changes.back().last) {
      changes.back().last = std::max(changes.back().last, last);
      changes.back().splices.push_back(splice);
    } else {
      changes.push_back({first, last, {splice}});
    }
  }
  const auto line_text = [](std::string_view line, char sign) {
    std::string shown = sign + ShownLine(line) + "\n";
    if (!line.ends_with('\n')) shown += "\\ No newline at end of file\n";
    return shown;
  };
  std::string diff = "--- " + TerminalText(label) + "\n+++ " + TerminalText(label) + "\n";
  std::ptrdiff_t shift = 0;  // new line numbers less old ones before the hunk
  for (std::size_t c = 0; c < changes.size();) {
    std::size_t end = c + 1;
    while (end < changes.size() && changes[end].first - changes[end - 1].last <= 2 * kContext + 1) ++end;
    const std::size_t from = changes[c].first - std::min(changes[c].first, kContext);
    const std::size_t to = std::min(old_lines.size(), changes[end - 1].last + 1 + kContext);
    std::string body;
    std::size_t old_count = 0;
    std::size_t new_count = 0;
    std::size_t line = from;
    for (std::size_t k = c; k < end; ++k) {
      for (; line < changes[k].first; ++line, ++old_count, ++new_count) body += line_text(old_lines[line], ' ');
      const std::size_t run_start = starts[changes[k].first];
      const std::size_t run_end = starts[std::min(changes[k].last + 1, old_lines.size())];
      std::vector<Splice> local = changes[k].splices;
      for (Splice& splice : local) splice.at -= run_start;
      const std::string replaced = Apply(text.substr(run_start, run_end - run_start), local);
      for (; line <= changes[k].last && line < old_lines.size(); ++line, ++old_count) {
        body += line_text(old_lines[line], '-');
      }
      for (const std::string_view added : Lines(replaced)) {
        body += line_text(added, '+');
        ++new_count;
      }
    }
    for (; line < to; ++line, ++old_count, ++new_count) body += line_text(old_lines[line], ' ');
    const auto range = [](std::size_t start, std::size_t count) {
      return std::to_string(count == 0 ? start : start + 1) + "," + std::to_string(count);
    };
    diff += "@@ -" + range(from, old_count) + " +" + range(from + shift, new_count) + " @@\n" + body;
    shift += static_cast<std::ptrdiff_t>(new_count) - static_cast<std::ptrdiff_t>(old_count);
    c = end;
  }
  return diff;
}

constexpr char kNoLookupNote[] =
    "launches no longer look up the proxy's exit: they start with these values even when the proxy is down, "
    "and no longer refuse to start under on-proxy-fail \"block\"";

Finding Refusal(std::string message) { return Finding{kSeverityError, "", 0, 0, std::move(message)}; }

}  // namespace

std::optional<Finding> UneditablePersona(std::string_view bytes) {
  const ByteOrderMark mark = Utf16ByteOrderMark(bytes);
  const std::string text = FileTextAsUtf8(std::string(bytes));
  if (mark != ByteOrderMark::kNone && Utf8AsFileText(text, mark) != bytes) {
    return Refusal("the file holds UTF-16 that is broken: it would not be written back as it was");
  }
  const TextPositions positions(text);
  if (const std::optional<JsonSyntaxError> error = FindJsonSyntaxError(text)) {
    const auto [line, column] = positions.At(error->offset);
    return Finding{kSeverityError, "", line, column, std::string("not well-formed JSON: ") + error->kind};
  }
  std::size_t top = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (IsJsonSpace(text[top])) ++top;
  if (text[top] != '{') {
    const auto [line, column] = positions.At(top);
    return Finding{kSeverityError, "", line, column, "the top level is not an object"};
  }
  return std::nullopt;
}

PersonaFill FillPersona(std::string_view bytes, const ProbeOutcome& egress, const FillOptions& options,
                        std::string_view label) {
  PersonaFill fill;
  fill.refusal = UneditablePersona(bytes);
  if (fill.refusal) return fill;
  const ByteOrderMark mark = Utf16ByteOrderMark(bytes);
  const std::string text = FileTextAsUtf8(std::string(bytes));
  const PersonaConfig persona = ParsePersonaConfig(text);

  // The launcher's own derivation; with --replace as if the persona gave
  // none of these values.
  PersonaConfig asking = persona;
  if (options.replace) {
    asking.webrtcFakePublicIpGiven = asking.hasGeoLat = asking.hasGeoLng = asking.hasLang = asking.hasAcceptLanguage =
        asking.hasTimezoneOverride = false;
  }
  DiscoveryResult derived;
  DeriveOverrides(asking, egress, derived);
  const std::pair<std::string_view, const std::wstring*> values[] = {
      {"timezone-override", &derived.timezone_override},
      {"lang", &derived.lang},
      {"accept-language", &derived.accept_language},
      {"geo-lat", &derived.geo_lat},
      {"geo-lng", &derived.geo_lng},
      {"webrtc-fake-public-ip", &derived.webrtc_public_ip},
  };

  std::vector<Splice> splices;
  std::string appended;
  const Layout layout = LayoutOf(text);
  std::vector<FilledMember> appended_members;
  const auto set = [&](std::string_view key, const std::string& json, FilledMember member) {
    const std::size_t at = OccurrenceRead(text, key);
    if (at == npos) {
      appended += "," + layout.indent + "\"" + std::string(key) + "\"" + layout.colon + json;
      appended_members.push_back(std::move(member));
      return;
    }
    const auto [start, end] = ValueSpan(text, at);
    if (text.substr(start, end - start) == json) return;
    splices.push_back({start, end - start, json});
    member.replaced = true;
    fill.set.push_back(std::move(member));
  };
  for (const auto& [key, wide] : values) {
    if (wide->empty()) continue;
    const std::string value = Narrow(*wide);
    set(key, IsCoordinateKey(key) ? CoordinateJson(value) : "\"" + EscapeJsonString(value) + "\"",
        FilledMember{std::string(key), value, false});
  }
  if (options.pin) {
    const std::pair<std::string_view, bool> automatic[] = {{"auto-timezone", persona.autoTimezone},
                                                           {"auto-lang", persona.autoLang},
                                                           {"auto-geo", persona.autoGeo}};
    for (const auto& [key, on] : automatic) {
      if (!on) continue;
      const auto [start, end] = ValueSpan(text, OccurrenceRead(text, key));
      splices.push_back({start, end - start, "false"});
      fill.turned_off.emplace_back(key);
    }
  }
  if (!appended.empty()) {
    splices.push_back({layout.insert_at, 0, appended});
    fill.set.insert(fill.set.end(), appended_members.begin(), appended_members.end());
  }
  std::stable_sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) { return a.at < b.at; });
  fill.text = Apply(text, splices);

  // What was written must read back as the launch would have derived it,
  // and a pinned persona must need no lookup.
  bool reads_back = !FindJsonSyntaxError(fill.text);
  for (const FilledMember& member : fill.set) {
    const std::string read = IsCoordinateKey(member.key) ? ReadScalarField(fill.text, member.key)
                                                         : ReadStringField(fill.text, member.key);
    reads_back = reads_back && read == member.value;
  }
  fill.looks_up = !DiscoveryReasons(ParsePersonaConfig(fill.text)).empty();
  if (options.pin) reads_back = reads_back && !fill.looks_up;
  if (!reads_back) {
    PersonaFill refused;
    refused.refusal = Refusal(
        "the keys are written where the launcher cannot read them back as set (inside "
        "another value, or more than once): move them to the top level, once each");
    return refused;
  }
  fill.bytes = Utf8AsFileText(fill.text, mark);
  if (fill.changed()) fill.diff = UnifiedDiff(text, splices, label);
  return fill;
}

void AddPersonaFillMembers(JsonWriter& json, const PersonaFill& fill, const FillOptions& options,
                           std::string_view backup) {
  json.Boolean("dry_run", options.dry_run).BeginArray("set");
  for (const FilledMember& set : fill.set) {
    json.BeginObject().String("key", set.key).String("value", set.value).Boolean("replaced", set.replaced).EndObject();
  }
  json.EndArray().BeginArray("turned_off");
  for (const std::string& key : fill.turned_off) json.String(key);
  json.EndArray().Boolean("pinned", options.pin).Boolean("launch_looks_up", fill.looks_up);
  if (!fill.looks_up) json.String("note", kNoLookupNote);
  json.Boolean("written", !backup.empty()).String("backup", backup);
}

std::string PersonaFillText(const PersonaFill& fill, const FillOptions& options, std::string_view backup) {
  std::string text;
  for (const FilledMember& member : fill.set) {
    text += (member.replaced ? "replaced " : "set ") + member.key + ": " + TerminalText(member.value) + "\n";
  }
  for (const std::string& key : fill.turned_off) text += "turned off " + key + "\n";
  if (!fill.looks_up) text += std::string("note: ") + kNoLookupNote + "\n";
  if (!fill.changed()) return text + "nothing to change: the file is left as it is\n";
  if (options.dry_run) return text + fill.diff + "dry run: nothing written\n";
  return text + "written; the previous file is kept as " + TerminalText(backup) + "\n";
}

}  // namespace quillwave
