#include "launcher/run_sequence.h"

#include <optional>
#include <string>

#include "discovery/discovery_result.h"
#include "housekeeping/previous_tabs.h"
#include "housekeeping/storage_reset.h"
#include "launcher/command_line.h"
#include "launcher/engine_start.h"
#include "persona/webgl_profile.h"
#include "platform/files.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "report/result_record.h"

namespace quillwave {
namespace {

constexpr wchar_t kNoticeCaption[] = L"Quillwave";

void DoHousekeeping(const PersonaConfig& persona, const std::wstring& user_data_dir) {
  if (persona.closePreviousTabs) ClosePreviousTabs(user_data_dir);
  ResetProfileStorage(user_data_dir, persona.granularStorageReset);
}

// A start that fails must not pass for a launch: the person sees why, and
// the exit code says it. The record written before the attempt stays.
int Launch(const std::wstring& engine_path, const platform::OwnArguments& own_arguments,
           const EngineSwitches& switches) {
  const platform::SpawnResult started = StartEngine(engine_path, own_arguments, switches);
  if (started.started) return kExitOk;
  platform::ShowErrorNotice(kNoticeCaption,
                            L"Engine could not be started:\n" + engine_path + L"\n\n" + started.reason);
  return kExitEngineProblem;
}

}  // namespace

bool NeedsDiscovery(const PersonaConfig& p) {
  return (p.webrtcNoLeak && !p.webrtcFakePublicIpGiven) || (p.autoGeo && (!p.hasGeoLat || !p.hasGeoLng)) ||
         (p.autoLang && (!p.hasLang || !p.hasAcceptLanguage)) || (p.autoTimezone && !p.hasTimezoneOverride);
}

int RunLauncher(const platform::OwnArguments& own_arguments) {
  const std::wstring launcher_dir = platform::LauncherDirectory();
  // The separator is always added, even after a drive root.
  const std::wstring engine_path = launcher_dir + platform::kPathSeparator + platform::kEngineFileName;
  if (!platform::PathExists(engine_path)) {
    platform::ShowErrorNotice(kNoticeCaption,
                              L"Engine binary not found:\n" + engine_path + L"\n\nReinstall Quillwave.");
    return kExitEngineProblem;
  }

  const std::wstring user_data_dir = UserDataDirFromCommandLine();
  // The file is read once; the settings summary, which only the progress
  // window shows, is built from the same text when the window is needed.
  const std::optional<std::string> persona_text = platform::ReadFileBytes(LocateConfigFile(user_data_dir));
  const PersonaConfig persona = persona_text ? ParsePersonaConfig(*persona_text) : PersonaConfig{};

  if (!NeedsDiscovery(persona)) {
    DoHousekeeping(persona, user_data_dir);
    const EngineSwitches switches =
        DirectRecipe(persona, ReadMachineValues(), WebglProfileSwitchItems(persona.webglProfile, launcher_dir),
                     own_arguments.text);
    WriteResultRecord("passthrough", 0, "", "");
    return Launch(engine_path, own_arguments, switches);
  }

  // No progress window exists in this build, so a persona that needs
  // discovery takes the launch the launcher makes when the window cannot be
  // created: recorded as degraded, without discovery.
  WriteResultRecord("degraded", 0, "DIALOG_INIT_FAILED",
                    "CreateProgressDialog returned null; spawned engine without discovery");
  DoHousekeeping(persona, user_data_dir);
  return Launch(engine_path, own_arguments, DegradedRecipe(persona, ReadMachineValues()));
}

}  // namespace quillwave
