// The launcher from its first step to its exit code.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "discovery/discovery_worker.h"
#include "persona/persona_config.h"
#include "platform/process.h"
#include "ui/progress_window.h"

namespace quillwave {

inline constexpr int kExitOk = 0;
inline constexpr int kExitEngineProblem = 1;
inline constexpr int kExitBlocked = 42;

// Whether values only the proxy's egress can supply are wanted and not
// already fixed by the persona.
bool NeedsDiscovery(const PersonaConfig& persona);

// What a launch runs against. The program takes the system's own
// (SystemLaunchEnvironment); tests hand in a null window, a probe and an
// engine start of their own.
struct LaunchEnvironment {
  std::wstring launcher_dir;    // where the engine and the WebGL profiles are
  std::wstring local_app_data;  // the user's local application-data folder, or empty
  ProgressWindow window;
  ProbeFunction probe;
  PauseFunction pause;
  std::function<platform::SpawnResult(const platform::ProcessLaunch&)> start;
  // A progress window not shown this long after the launch's start is no
  // window: the lookup goes on without it.
  std::chrono::milliseconds window_limit{2000};
  // Set when the launch is to run without its progress window whatever the
  // system could show, saying why for the record; the window is then not
  // even tried.
  std::string without_window;
  // A rehearsal: the profile is left as it is and no record is written;
  // everything else, the engine start included, goes through `start`.
  bool dry_run = false;
};

// The environment variable that asks every launch to run without its
// progress window, and the one value that does.
inline constexpr wchar_t kWindowVariable[] = L"QUILLWAVE_PROGRESS_WINDOW";
inline constexpr wchar_t kNoWindowValue[] = L"none";

// `instance` is the launcher's module instance on Windows (for the window),
// else null.
LaunchEnvironment SystemLaunchEnvironment(void* instance);

// Runs the whole launch and returns the process exit code.
int RunLauncher(const platform::OwnArguments& own_arguments, const LaunchEnvironment& environment);

}  // namespace quillwave
