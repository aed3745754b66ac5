#include "launcher/run_sequence.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "discovery/discovery_result.h"
#include "discovery/discovery_worker.h"
#include "housekeeping/previous_tabs.h"
#include "housekeeping/storage_reset.h"
#include "launcher/command_line.h"
#include "launcher/discovery_launch.h"
#include "launcher/engine_start.h"
#include "persona/webgl_profile.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "report/error_record.h"
#include "report/result_record.h"
#include "ui/progress_dialog.h"

namespace quillwave {
namespace {

using std::chrono::milliseconds;

constexpr wchar_t kNoticeCaption[] = L"Quillwave";
constexpr milliseconds kWorkerWait{6000};

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
  ShowErrorDialog(kNoticeCaption, L"Engine could not be started:\n" + engine_path + L"\n\n" + started.reason);
  return kExitEngineProblem;
}

// Notes for the record's message, in the order they arose.
std::string JoinNotes(std::string first, std::string_view second) {
  if (!first.empty() && !second.empty()) first += "; ";
  return first.append(second);
}

int DegradedLaunch(const PersonaConfig& persona, const std::wstring& user_data_dir, const std::wstring& engine_path,
                   const platform::OwnArguments& own_arguments, std::string_view start_page_note) {
  WriteResultRecord("degraded", 0, kDialogInitFailed,
                    JoinNotes("CreateProgressDialog returned null; spawned engine without discovery", start_page_note));
  DoHousekeeping(persona, user_data_dir);
  return Launch(engine_path, own_arguments, DegradedRecipe(persona, ReadMachineValues()));
}

// Ends the process at once while the worker may still run, so no static
// object is destroyed under it.
[[noreturn]] void EndWithWorkerRunning(int exit_code) {
  std::fflush(nullptr);
  std::_Exit(exit_code);
}

}  // namespace

bool NeedsDiscovery(const PersonaConfig& p) {
  return (p.webrtcNoLeak && !p.webrtcFakePublicIpGiven) || (p.autoGeo && (!p.hasGeoLat || !p.hasGeoLng)) ||
         (p.autoLang && (!p.hasLang || !p.hasAcceptLanguage)) || (p.autoTimezone && !p.hasTimezoneOverride);
}

int RunLauncher(const platform::OwnArguments& own_arguments, void* instance) {
  const std::wstring launcher_dir = platform::LauncherDirectory();
  // The separator is always added, even after a drive root.
  const std::wstring engine_path = launcher_dir + platform::kPathSeparator + platform::kEngineFileName;
  if (!platform::PathExists(engine_path)) {
    ShowErrorDialog(kNoticeCaption, L"Engine binary not found:\n" + engine_path + L"\n\nReinstall Quillwave.");
    return kExitEngineProblem;
  }

  const std::wstring user_data_dir = UserDataDirFromCommandLine();
  // The file is read once; the settings summary, which only the progress
  // window shows, is built from the same text when the window is needed.
  const std::optional<std::string> persona_text = platform::ReadFileBytes(LocateConfigFile(user_data_dir));
  PersonaConfig persona = persona_text ? ParsePersonaConfig(*persona_text) : PersonaConfig{};
  // A start page the engine would take for a switch could make it run a
  // program (--renderer-cmd-prefix=...): the default page is used instead.
  // Closing the previous tabs still follows the persona as read.
  std::string_view start_page_note;
  if (StartPageReadAsSwitch(persona.startPage)) {
    persona.startPage.clear();
    start_page_note = kStartPageIgnored;
  }

  if (!NeedsDiscovery(persona)) {
    DoHousekeeping(persona, user_data_dir);
    const EngineSwitches switches =
        DirectRecipe(persona, ReadMachineValues(), WebglProfileSwitchItems(persona.webglProfile, launcher_dir),
                     own_arguments.text);
    WriteResultRecord("passthrough", 0, "", start_page_note);
    return Launch(engine_path, own_arguments, switches);
  }

  ResetProgressSteps(SharedProgressSteps());
  const SettingsSummary summary = persona_text ? BuildSettingsSummary(*persona_text) : SettingsSummary{};
  PrepareProgressDialog(instance);
  ProgressDialog* const dialog = CreateProgressDialog(instance, summary);
  if (dialog == nullptr) {
    ReleaseProgressDialog();
    return DegradedLaunch(persona, user_data_dir, engine_path, own_arguments, start_page_note);
  }
  ShowProgressDialog(dialog);
  DiscoveryThread worker(std::make_unique<DiscoveryRequest>(DiscoveryRequest{persona, ErrorRecordPath()}),
                         LiveDiscoveryContext(ProgressPosterFor(dialog)));
  RunProgressMessageLoop();
  const bool worker_ended = worker.WaitFor(kWorkerWait);
  ReleaseProgressDialog();

  DiscoveryResult& found = SharedDiscoveryResult();
  // A close by the person wins, even over a block the worker already set.
  if (found.aborted.load()) {
    if (!worker_ended) EndWithWorkerRunning(kExitOk);
    return kExitOk;
  }
  if (found.blocked.load()) {
    WriteResultRecord("blocked", found.elapsed_ms, kProxyBlocked, "see .corvane-launcher-error.json for details");
    return kExitBlocked;
  }
  EngineSwitches switches = DiscoveryRecipeFirstHalf(
      persona, WebglProfileSwitchItems(persona.webglProfile, launcher_dir), found);
  DoHousekeeping(persona, user_data_dir);
  DiscoveryRecipeSecondHalf(switches, persona, ReadMachineValues(), own_arguments.text);
  WriteResultRecord("ok", found.elapsed_ms, "", start_page_note);
  return Launch(engine_path, own_arguments, switches);
}

}  // namespace quillwave
