#include <signal.h>
#include <spawn.h>

#include <cstring>
#include <vector>

#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/process.h"

extern char** environ;

namespace quillwave::platform {

std::vector<std::wstring> ProcessArguments() {
  const auto raw = ReadFileBytes(L"/proc/self/cmdline");
  std::vector<std::wstring> arguments;
  if (!raw) return arguments;
  std::size_t start = 0;
  bool first = true;
  while (start < raw->size()) {
    std::size_t end = raw->find('\0', start);
    if (end == std::string::npos) end = raw->size();
    if (!first) arguments.push_back(Utf8ToWide(std::string_view(*raw).substr(start, end - start)));
    first = false;
    start = end + 1;
  }
  return arguments;
}

namespace {

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = ::posix_spawnattr_init(&attr_) == 0; }
  ~SpawnAttributes() {
    if (ok_) ::posix_spawnattr_destroy(&attr_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return ok_ ? &attr_ : nullptr; }

 private:
  posix_spawnattr_t attr_{};
  bool ok_ = false;
};

class SpawnFileActions {
 public:
  SpawnFileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnFileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  posix_spawn_file_actions_t* get() { return ok_ ? &actions_ : nullptr; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

}  // namespace

SpawnResult SpawnDetached(const ProcessLaunch& launch) {
  SpawnAttributes attributes;
  SpawnFileActions actions;
  if (attributes.get() == nullptr || actions.get() == nullptr) return {false, L"cannot prepare the process start"};

  // A new session, so the engine outlives the launcher and its terminal;
  // default signal dispositions and an empty mask, whatever the launcher had.
  sigset_t no_signals;
  sigemptyset(&no_signals);
  sigset_t all_signals;
  sigfillset(&all_signals);
  ::posix_spawnattr_setsigmask(attributes.get(), &no_signals);
  ::posix_spawnattr_setsigdefault(attributes.get(), &all_signals);
  ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  // Only standard input, output and error reach the child.
  ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);

  std::vector<std::string> storage;
  storage.reserve(launch.argv.size());
  for (const auto& argument : launch.argv) storage.push_back(WideToUtf8(argument));
  std::vector<char*> argv;
  argv.reserve(storage.size() + 1);
  for (auto& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const std::string program = WideToUtf8(launch.program);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
  if (error != 0) return {false, Utf8ToWide(std::strerror(error))};
  return {true, {}};
}

}  // namespace quillwave::platform
