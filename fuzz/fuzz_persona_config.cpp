// The persona file's settings and the window's summary, read from the same
// text as the launcher does after loading the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "persona/persona_config.h"
#include "persona/settings_summary.h"

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
  return 0;
}
