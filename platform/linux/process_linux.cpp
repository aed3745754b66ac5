#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/posix/spawn_setup.h"
#include "platform/process.h"

extern char** environ;

namespace quillwave::platform {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

std::vector<std::wstring> ProcessArguments() {
  const auto raw = ReadFileBytes(L"/proc/self/cmdline");
  std::vector<std::wstring> arguments;
  if (!raw) return arguments;
  std::size_t start = 0;
  bool first = true;
  while (start < raw->size()) {
    std::size_t end = raw->find('\0', start);
    if (end == std::string::npos) end = raw->size();
    if (!first) arguments.push_back(BytesToWide(std::string_view(*raw).substr(start, end - start)));
    first = false;
    start = end + 1;
  }
  return arguments;
}

std::vector<std::wstring> ArgumentsAsReceived(const ProcessLaunch& launch) {
  std::vector<std::wstring> argv = PosixArgv(launch);
  argv.erase(argv.begin());
  return argv;
}

std::wstring SystemCommandLine(const ProcessLaunch&) { return {}; }

bool ArgumentsFitSystem(const ProcessLaunch& launch) {
  std::size_t total = 0;
  for (const std::wstring& argument : PosixArgv(launch)) {
    // The bytes the program receives: a byte that is no UTF-8 stays one byte.
    const std::size_t size = WideToBytes(argument).size() + 1;
#ifdef __linux__
    constexpr std::size_t kLongestArgument = 32 * 4096;  // MAX_ARG_STRLEN, the NUL included
    if (size > kLongestArgument) return false;
#endif
    total += size + sizeof(char*);
  }
  for (char** entry = environ; *entry != nullptr; ++entry) total += std::strlen(*entry) + 1 + sizeof(char*);
  const long space = ::sysconf(_SC_ARG_MAX);
  return space <= 0 || total <= static_cast<std::size_t>(space);
}

SpawnResult SpawnDetached(const ProcessLaunch& launch) {
  SpawnSetup setup;
  if (!setup.ok()) return {false, L"cannot prepare the process start"};
  // A new session, so the engine outlives the launcher and its terminal.
  setup.ResetSignals(POSIX_SPAWN_SETSID);
  // Only standard input, output and error reach the child.
  ::posix_spawn_file_actions_addclosefrom_np(setup.actions(), 3);
  const NativeArgv argv(PosixArgv(launch));

  const std::string program = WideToBytes(launch.program);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(), argv.get(), environ);
  if (error != 0) return {false, Utf8ToWide(std::strerror(error))};
  return {true, {}};
}

}  // namespace quillwave::platform
