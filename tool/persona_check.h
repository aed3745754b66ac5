// The persona file as the launcher will read it, and what in it is ignored,
// read otherwise than written, or makes the launch fail.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "persona/persona_config.h"
#include "platform/command_line.h"
#include "tool/findings.h"

namespace quillwave {

// One key as the launcher reads it: its value as JSON text, and where the
// occurrence it reads stands (line 0 when it reads none and the default holds).
struct CheckedField {
  std::string key;
  std::string json_value;
  std::size_t line = 0;
  std::size_t column = 0;
};

struct PersonaCheck {
  PersonaConfig persona;
  bool discovery = false;
  std::vector<std::string> reasons;  // why discovery runs; empty when it does not
  std::vector<CheckedField> fields;  // every key the launcher reads, in a fixed order
  std::vector<Finding> findings;     // in file order; of one kind the first 100, then how many more
};

// The engine start a check measures the persona's values against: the
// engine beside the launcher and the launcher's own arguments.
struct CheckedLaunch {
  std::wstring engine_path;
  platform::OwnArguments own_arguments;
};

// `bytes` is the persona file as it lies on disk (UTF-16 with a byte-order
// mark is read as the launcher reads it); `webgl_profiles` is the text of
// the WebGL profiles file beside the launcher, or nothing when there is none.
PersonaCheck CheckPersona(std::string_view bytes, const std::optional<std::string>& webgl_profiles,
                          const CheckedLaunch& launch = {});

// The check as members of the object open in `json` (the caller adds the
// file's): "discovery", "reasons", "fields", "findings".
void AddPersonaCheckMembers(JsonWriter& json, const PersonaCheck& check);

// The check for a person: discovery with its reasons, every field, the findings.
std::string PersonaCheckText(const PersonaCheck& check);

}  // namespace quillwave
