#include "launcher/run_sequence.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "discovery/discovery_result.h"
#include "housekeeping/previous_tabs.h"
#include "housekeeping/storage_reset.h"
#include "launcher/discovery_launch.h"
#include "launcher/engine_start.h"
#include "launcher/own_arguments.h"
#include "persona/settings_summary.h"
#include "persona/text_file.h"
#include "persona/webgl_profile.h"
#include "platform/cancellation.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "platform/profile_lock.h"
#include "platform/system.h"
#include "report/error_codes.h"
#include "report/error_record.h"
#include "report/record_files.h"
#include "report/result_record.h"

namespace quillwave {
namespace {

constexpr wchar_t kNoticeCaption[] = L"Quillwave";

constexpr char kProfileInUse[] = "profile in use; housekeeping skipped";

bool WantsHousekeeping(const PersonaConfig& persona, const std::wstring& user_data_dir) {
  if (user_data_dir.empty()) return false;
  if (persona.closePreviousTabs) return true;
  for (const auto& [kind, selected] : persona.granularStorageReset) {
    if (selected) return true;
  }
  return false;
}

// Notes for the record's message, in the order they arose; empty ones are left out.
std::string JoinNotes(std::initializer_list<std::string_view> notes) {
  std::string joined;
  for (const std::string_view note : notes) {
    if (note.empty()) continue;
    if (!joined.empty()) joined += "; ";
    joined += note;
  }
  return joined;
}

// Returns the record's notes on what each step had to keep, or nothing
// when it removed all it was asked to: a step that silently left tabs
// would have the engine restore them.
std::string DoHousekeeping(const PersonaConfig& persona, const std::wstring& user_data_dir) {
  std::string tabs_note;
  if (const KeptEntries tabs = persona.closePreviousTabs ? ClosePreviousTabs(user_data_dir) : KeptEntries{};
      tabs.kept != 0) {
    tabs_note = "previous tabs kept: " + std::to_string(tabs.kept) + ", first " + PathInNote(tabs.first_kept);
  }
  std::string reset_note;
  if (const KeptEntries reset = ResetProfileStorage(user_data_dir, persona.granularStorageReset); reset.kept != 0) {
    reset_note = "storage reset incomplete: " + std::to_string(reset.kept) + " kept, first " +
                 PathInNote(reset.first_kept);
  }
  return JoinNotes({tabs_note, reset_note});
}

// The record's discovery members from what the worker left.
LaunchOutcome DiscoveredOutcome(std::string status, const DiscoveryResult& found, std::string error_code,
                                std::string message) {
  LaunchOutcome outcome{std::move(status), found.elapsed_ms, std::move(error_code), std::move(message)};
  outcome.ip = found.egress_ip;
  outcome.timezone = found.timezone;
  outcome.country_code = found.country_code;
  outcome.lat = Narrow(found.geo_lat);
  outcome.lng = Narrow(found.geo_lng);
  outcome.lang = Narrow(found.lang);
  outcome.accept_lang = Narrow(found.accept_language);
  outcome.provider = found.provider;
  return outcome;
}

// Ends the process at once while a thread of the launch (the window's, in
// a toolkit that never answered) may still run, so no static object is
// destroyed under it. The records are written durably before.
[[noreturn]] void EndWithThreadRunning(int exit_code) {
  std::fflush(nullptr);
  std::_Exit(exit_code);
}

// How long the end of the process waits for the window's thread to end: it
// only has to take its window down once the lookup has ended. A thread
// stuck in the toolkit is left to the end of the process.
constexpr std::chrono::milliseconds kWindowEndWait{500};
constexpr std::chrono::milliseconds kCancelledWindowEndWait{100};
// A toolkit that does not start within this is not waited for.
constexpr std::chrono::milliseconds kToolkitStartLimit{2000};

// After the system's request to end the launcher, it ends as that request
// would have ended it, whatever the lookup found.
void EndIfRequested(std::optional<platform::StopRequests>& stop_requests) {
  if (!stop_requests) return;
  const int request = stop_requests->Finish();
  stop_requests.reset();
  if (request != 0) platform::EndAsRequested(request);
}

// One run: what the steps share once the persona is read.
struct Run {
  const LaunchEnvironment& environment;
  const platform::OwnArguments& own_arguments;
  std::wstring engine_path;
  std::wstring user_data_dir{};
  std::wstring result_record_path{};
  PersonaConfig persona{};
  std::string_view start_page_note{};
  std::chrono::steady_clock::time_point started_at = std::chrono::steady_clock::now();
  // Threads that may still be inside the toolkit: the window's, and one
  // that started the toolkit for an error message.
  std::vector<std::unique_ptr<BackgroundThread>> toolkit_threads{};

  // A start that fails must not pass for a launch: the person sees why, and
  // the exit code says it. The record written before the attempt stays.
  int Launch(const EngineSwitches& switches) {
    const platform::SpawnResult started = environment.start(EngineLaunch(engine_path, own_arguments, switches));
    if (started.started) return kExitOk;
    ShowError(L"Engine could not be started:\n" + engine_path + L"\n\n" + started.reason);
    return kExitEngineProblem;
  }

  // The message goes to the person through the toolkit only once it has
  // started, within a limit, and no other thread is inside it; else it takes
  // the system's plain way (on Linux standard error).
  void ShowError(const std::wstring& text) {
    for (const auto& thread : toolkit_threads) {
      if (!thread->WaitFor(kWindowEndWait)) {
        platform::ShowErrorNotice(kNoticeCaption, text);
        return;
      }
    }
    const ProgressWindow& window = environment.window;
    auto start = std::make_unique<BackgroundThread>([summary_rows = window.summary_rows] { summary_rows(); });
    const bool toolkit_started = start->WaitFor(kToolkitStartLimit);
    toolkit_threads.push_back(std::move(start));
    if (!toolkit_started) {
      platform::ShowErrorNotice(kNoticeCaption, text);
      return;
    }
    window.show_error(kNoticeCaption, text);
  }

  // The process's end: a toolkit thread that has not ended by then is left
  // behind, the process ending without waiting for it.
  int End(int exit_code, bool cancelled = false) {
    for (const auto& thread : toolkit_threads) {
      if (!thread->WaitFor(cancelled ? kCancelledWindowEndWait : kWindowEndWait)) EndWithThreadRunning(exit_code);
    }
    return exit_code;
  }

  std::vector<std::wstring> WebglItems() const {
    return WebglProfileSwitchItems(persona.webglProfile, environment.launcher_dir);
  }

  // An engine that already runs on the profile keeps it untouched: deleting
  // under it loses its data, and the engine started now only hands its
  // request to the running one, so a reset would not even take effect.
  // Returns the record's note.
  std::string Housekeeping() const {
    if (environment.dry_run || !WantsHousekeeping(persona, user_data_dir)) return {};
    if (platform::EngineRunsOn(user_data_dir, engine_path)) return kProfileInUse;
    return DoHousekeeping(persona, user_data_dir);
  }

  // A start page the system cannot hand the engine would keep it from
  // starting at all: it is set aside like one the engine would read as a
  // switch. Returns the record's note; at most one of the two applies.
  std::string_view FitStartPage(EngineSwitches& switches) const {
    if (SetAsideOverlongStartPage(switches, engine_path, own_arguments)) return kStartPageTooLong;
    return start_page_note;
  }

  int DirectLaunch() {
    const std::string housekeeping = Housekeeping();
    EngineSwitches switches = DirectRecipe(persona, ReadMachineValues(), WebglItems(), own_arguments.list);
    const std::string_view start_page = FitStartPage(switches);
    WriteResultRecord(result_record_path, LaunchOutcome{"passthrough", 0, "", JoinNotes({housekeeping, start_page})});
    return Launch(switches);
  }

  int DiscoveryLaunch(const std::shared_ptr<const std::string>& persona_text, const std::wstring& error_record_path) {
    auto session = std::make_shared<LaunchSession>();
    ResetProgressSteps(session->steps);
    // From here until the lookup has ended, a request to end the launcher
    // stops curl first; a rehearsal starts none.
    std::optional<platform::StopRequests> stop_requests;
    if (!environment.dry_run) stop_requests.emplace(session->cancel);

    // The lookup runs here; the window, slower to make (on Linux the
    // toolkit's start), comes on a thread of its own and shows the steps
    // narrated meanwhile, if it shows itself in time.
    DiscoveryContext context = session->Context(environment.probe);
    PendingWindow pending(started_at + environment.window_limit);
    std::string without_window = environment.without_window;
    if (without_window.empty()) {
      auto window_thread = std::make_unique<BackgroundThread>(WindowBody(persona_text, session, pending));
      if (window_thread->started()) {
        context.pause = pending.Pauses(environment.pause);
        context.post = pending.Poster();
        toolkit_threads.push_back(std::move(window_thread));
      } else {
        without_window = "window creation failed";
      }
    }
    RunDiscovery(std::make_unique<DiscoveryRequest>(DiscoveryRequest{persona, error_record_path}), context);
    // Nothing is recorded, deleted or started after such a request.
    EndIfRequested(stop_requests);

    const DiscoveryResult& found = session->result;
    // A close by the person wins, even over a block the lookup already set.
    if (found.aborted.load()) return End(kExitOk, /*cancelled=*/true);
    if (context.post) without_window = pending.Failure();
    const std::string window_note = without_window.empty()
                                        ? std::string()
                                        : "no progress window (" + without_window + "); discovery ran without it";
    if (found.blocked.load()) {
      WriteResultRecord(result_record_path,
                        DiscoveredOutcome("blocked", found, kProxyBlocked,
                                          JoinNotes({"see .corvane-launcher-error.json for details", window_note})));
      return End(kExitBlocked);
    }
    EngineSwitches switches = ProfileAndDiscoveredSwitches(persona, WebglItems(), found);
    const std::string housekeeping = Housekeeping();
    AppendMachineDebuggingAndStartUrl(switches, persona, ReadMachineValues(), own_arguments.list);
    const std::string_view start_page = FitStartPage(switches);
    WriteResultRecord(result_record_path,
                      DiscoveredOutcome("ok", found, "", JoinNotes({window_note, housekeeping, start_page})));
    return End(Launch(switches));
  }

  // The window's life on its own thread: the summary (only as many rows as
  // the window shows: a persona of millions of keys costs no more memory
  // than the file itself), the window, its loop. Everything it uses is its
  // own or shared, since the launch may end without waiting for it.
  std::function<void()> WindowBody(const std::shared_ptr<const std::string>& text,
                                   const std::shared_ptr<LaunchSession>& session, const PendingWindow& pending) const {
    return [window = environment.window, text, session, pending = pending]() mutable {
      const SettingsSummary summary = text ? BuildSettingsSummary(*text, window.summary_rows()) : SettingsSummary{};
      // The person's close cancels the launch, curl included.
      const auto on_person_close = [session] {
        session->result.aborted.exchange(true);
        session->cancel.Raise();
      };
      // The window holds the steps only, sharing the session's ownership.
      const WindowCreation created =
          window.create(summary, std::shared_ptr<ProgressSteps>(session, &session->steps), on_person_close);
      if (!created.created || pending.Decided()) {
        window.release();
        pending.NoWindow(created.failure.empty() ? "window creation failed" : created.failure);
        return;
      }
      window.show();
      pending.Opened(window.poster());
      window.run_loop();
      window.release();
    };
  }
};

}  // namespace

bool NeedsDiscovery(const PersonaConfig& p) { return !DiscoveryReasons(p).empty(); }

LaunchEnvironment SystemLaunchEnvironment(void* instance) {
  LaunchEnvironment environment;
  environment.launcher_dir = platform::LauncherDirectory();
  environment.local_app_data = platform::LocalAppDataFolder();
  environment.window = SystemProgressWindow(instance);
  environment.probe = ProbeWithCurl;
  environment.pause = PauseUnlessCancelled;
  environment.start = platform::SpawnDetached;
  // Persona managers that start many profiles at once ask for no windows.
  if (platform::EnvironmentValue(kWindowVariable) == std::wstring(kNoWindowValue)) {
    environment.without_window = Narrow(std::wstring(kWindowVariable) + L"=" + kNoWindowValue);
  }
  return environment;
}

int RunLauncher(const platform::OwnArguments& own_arguments, const LaunchEnvironment& environment) {
  // The separator is always added, even after a drive root.
  const std::wstring engine_path = environment.launcher_dir + platform::kPathSeparator + platform::kEngineFileName;
  Run run{environment, own_arguments, engine_path};
  if (!platform::PathExists(engine_path)) {
    run.ShowError(L"Engine binary not found:\n" + engine_path + L"\n\nReinstall Quillwave.");
    return run.End(kExitEngineProblem);
  }

  run.user_data_dir = UserDataDirFromArguments(own_arguments.list);
  const std::wstring data_folder = LauncherDataFolderIn(environment.local_app_data);
  // Records go nowhere in a rehearsal: an empty path writes nothing.
  const auto record_path = [&](const char* name) {
    return environment.dry_run ? std::wstring() : RecordPathFor(run.user_data_dir, data_folder, Widen(name));
  };
  run.result_record_path = record_path(kResultRecordName);
  // The file is read once; the settings summary, which only the progress
  // window shows, is built from the same text when the window is needed.
  std::optional<std::string> read = ReadTextFile(LocateConfigFile(run.user_data_dir, data_folder));
  // Shared, not copied: the window's thread reads it too, and may outlive the launch.
  const auto persona_text = read ? std::make_shared<const std::string>(std::move(*read)) : nullptr;
  run.persona = persona_text ? ParsePersonaConfig(*persona_text) : PersonaConfig{};
  // A start page the engine would take for a switch could make it run a
  // program (--renderer-cmd-prefix=...): the default page is used instead.
  // Closing the previous tabs still follows the persona as read. One too
  // long to pass is set aside alike once the whole command line is known
  // (FitStartPage).
  if (StartPageReadAsSwitch(run.persona.startPage)) {
    run.persona.startPage.clear();
    run.start_page_note = kStartPageIgnored;
  }

  if (!NeedsDiscovery(run.persona)) return run.End(run.DirectLaunch());
  return run.DiscoveryLaunch(persona_text, record_path(kErrorRecordName));
}

}  // namespace quillwave
