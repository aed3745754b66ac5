// The launcher's own command line and the start of other programs.
#pragma once

#include <string>
#include <vector>

#include "platform/command_line.h"

namespace quillwave::platform {

// The identifier the system gave this process.
unsigned long CurrentProcessId();

#ifdef _WIN32
// Libraries the process loads from here on, the system's own included, are
// looked for in the system folder only, never beside the executable, in the
// working folder or on PATH. Called first thing, before anything loads one.
void LoadLibrariesFromSystemFolderOnly();
#endif

// The process's arguments after the program name, parsed afresh on every
// call; empty when the command line cannot be split.
std::vector<std::wstring> ProcessArguments();

// The arguments a program started with `launch` receives after its own
// name: on Windows its command line split as CommandLineToArgvW splits it.
std::vector<std::wstring> ArgumentsAsReceived(const ProcessLaunch& launch);

// The one command line this system hands such a program (Windows), or empty
// where a program gets a list (POSIX).
std::wstring SystemCommandLine(const ProcessLaunch& launch);

// Whether the system can start a program with these arguments: Linux takes
// no single argument of 128 KiB or more (MAX_ARG_STRLEN) and no more than its
// argument space with the environment, each counted in the bytes the program
// receives; Windows no command line longer than
// 32 766 characters (32 767 with the terminating NUL).
bool ArgumentsFitSystem(const ProcessLaunch& launch);

struct SpawnResult {
  bool started = false;
  std::wstring reason;  // the system's explanation when not started
};

// Starts the program as an independent process that outlives the launcher.
// It inherits no handle or descriptor except standard input, output and
// error; nothing is waited for and no handle is kept.
SpawnResult SpawnDetached(const ProcessLaunch& launch);

}  // namespace quillwave::platform
