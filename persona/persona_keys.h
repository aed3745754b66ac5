// Every key of the persona file the launcher reads, once: how it is written,
// how the launcher reads it, and whether the settings summary lists it. The
// launcher's reading, the summary and the persona tool all walk this table,
// so a key added or changed here reaches all three.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/json_readers.h"
#include "persona/persona_config.h"

namespace quillwave {

// How a key's value is written for the launcher to read it.
enum class PersonaKeyKind {
  kString,    // a JSON string, escapes decoded
  kFlag,      // true or 1, bare or quoted; anything else is false
  kPresence,  // anything: only whether the key is there counts
  kObject,    // an object
};

// What the launcher took from one key, as it may be shown: a string key's
// text (a proxy's password masked), a flag's or presence's truth, an
// object's members.
struct PersonaKeyValue {
  std::string text;
  bool on = false;
  BoolMap members;
};

struct PersonaKey {
  std::string_view name;
  PersonaKeyKind kind;
  // Listed among the summary's overrides when its value is truthy; the
  // switch object is not: its own members make the summary's switches.
  bool summarized;
  // Reads the key (this row's name) out of the file's text into the
  // persona. Readers run in the table's order, so one may build on what an
  // earlier one read.
  void (*read)(std::string_view text, std::string_view key, PersonaConfig& persona);
  // The value as read, from the persona and the same text; null for the
  // switch object, which the launcher reads only as the proxy's fallback.
  PersonaKeyValue (*shown)(const PersonaConfig& persona, std::string_view text, std::string_view key);
};

inline constexpr std::string_view kSwitchObjectKey = "chrome-command-line";

// In the order the launcher reads them.
std::span<const PersonaKey> PersonaKeys();
// Their names, in the same order.
std::span<const std::string_view> PersonaKeyNames();

// The row of a key, or null for a key the launcher does not read.
const PersonaKey* FindPersonaKey(std::string_view name);

// How a flag's scalar text reads: only "true" and "1" are true.
bool IsTrueFlag(std::string_view scalar);

}  // namespace quillwave
