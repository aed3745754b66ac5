// Filling a persona from its proxy's exit: the values the launcher would
// derive at launch, written into the file itself once, every other byte of
// it kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_writer.h"
#include "discovery/curl_probe.h"
#include "tool/findings.h"

namespace quillwave {

struct FillOptions {
  bool replace = false;  // also over values the persona gives itself
  bool pin = false;      // turn the auto- keys off: launches take the direct path
  bool dry_run = false;  // show what would change, change nothing
};

struct FilledMember {
  std::string key;
  std::string value;  // as the launcher and the engine read it back
  bool replaced = false;
};

struct PersonaFill {
  std::optional<Finding> refusal;  // why nothing may be written
  std::vector<FilledMember> set;   // those replaced, then those added
  std::vector<std::string> turned_off;
  // Whether a launch of the new file still looks the exit up: after a fill
  // that found every value it does not, pinned or not.
  bool looks_up = true;
  std::string text;   // the new file's text as UTF-8
  std::string bytes;  // the new file, in the old one's encoding
  std::string diff;   // unified, of the text; `label` names both sides
  bool changed() const { return !set.empty() || !turned_off.empty(); }
};

// Why a persona file cannot be edited safely: not well-formed JSON (where it
// breaks), no object at its top, or UTF-16 that would not be written back
// as it was. Nothing when it can.
std::optional<Finding> UneditablePersona(std::string_view bytes);

// The persona in `bytes` with the values a launch would derive from
// `egress`, only the members set or changed touched.
PersonaFill FillPersona(std::string_view bytes, const ProbeOutcome& egress, const FillOptions& options,
                        std::string_view label);

// The fill's own members of the tool's JSON output and its lines of text:
// what was set, what --pin turned off, and where the old file was kept
// (`backup`, empty when nothing was written).
void AddPersonaFillMembers(JsonWriter& json, const PersonaFill& fill, const FillOptions& options,
                           std::string_view backup);
std::string PersonaFillText(const PersonaFill& fill, const FillOptions& options, std::string_view backup);

}  // namespace quillwave
