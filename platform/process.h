// The launcher's own command line and the start of other programs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillwave::platform {

// The launcher's own arguments as the system hands them over. `text` is the
// command-line tail after the program name (verbatim on Windows; on POSIX the
// arguments joined by single blanks, for substring checks only). `list` holds
// the separate arguments; POSIX forwards these to the engine unchanged.
struct OwnArguments {
  std::wstring text;
  std::vector<std::wstring> list;
};

// The characters that, first in an argument, make a program built on
// Chromium's command-line parser read it as a switch.
#ifdef _WIN32
inline constexpr std::wstring_view kSwitchPrefixes = L"-/";
#else
inline constexpr std::wstring_view kSwitchPrefixes = L"-";
#endif

// The process's arguments after the program name, parsed afresh on every
// call; empty when the command line cannot be split.
std::vector<std::wstring> ProcessArguments();

// What a new process is started with. Windows uses `command_line` (program
// quoted first); POSIX uses `argv` (program path first), never a shell.
struct ProcessLaunch {
  std::wstring program;
  std::wstring command_line;
  std::vector<std::wstring> argv;
};

struct SpawnResult {
  bool started = false;
  std::wstring reason;  // the system's explanation when not started
};

// Starts the program as an independent process that outlives the launcher.
// It inherits no handle or descriptor except standard input, output and
// error; nothing is waited for and no handle is kept.
SpawnResult SpawnDetached(const ProcessLaunch& launch);

}  // namespace quillwave::platform
