// The persona file's settings and the window's summary, read from the same
// text as the launcher does after loading the file, and the persona tool's
// check of it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/json_writer.h"
#include "base/utf16_text.h"
#include "fuzz/fuzz_check.h"
#include "persona/persona_config.h"
#include "persona/settings_summary.h"
#include "tool/persona_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillwave;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const PersonaConfig config = ParsePersonaConfig(text);
  ReadSwitchProxyServer(text);
  const SettingsSummary summary = BuildSettingsSummary(text);
  for (const auto* rows : {&summary.overrides, &summary.switches}) {
    for (const SummaryRow& row : *rows) {
      fuzz::Check(!row.label.empty(), "a summary row without a label");
    }
  }
  fuzz::Check(ParsePersonaConfig(text) == config, "reading the same text twice differs");
  // The check reads the persona as the launcher reads the file (UTF-16
  // converted) and places every finding inside the text; the text doubles
  // as a WebGL profiles file.
  const std::string file_text = FileTextAsUtf8(text);
  const PersonaCheck check = CheckPersona(text, text);
  fuzz::Check(check.persona == ParsePersonaConfig(file_text),
              "the check reads the persona otherwise than the launcher");
  fuzz::Check(check.fields.size() == 20, "the check does not show every key");
  std::size_t lines = 1;
  for (const char c : file_text) lines += c == '\n';
  for (const Finding& finding : check.findings) {
    fuzz::Check(
        finding.severity == kSeverityError || finding.severity == kSeverityWarning || finding.severity == kSeverityNote,
        "a finding without severity");
    fuzz::Check(finding.line <= lines, "a finding placed after the last line");
  }
  PersonaCheckText(check);
  JsonWriter json(kToolJsonBytes);
  json.BeginObject();
  AddPersonaCheckMembers(json, check);
  return 0;
}
