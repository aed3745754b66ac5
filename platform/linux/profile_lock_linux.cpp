#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/encoding.h"
#include "platform/posix/unique_fd.h"
#include "platform/profile_lock.h"

namespace quillwave::platform {
namespace {

// The target of a link, or nothing.
std::string LinkTarget(const std::string& link) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return {};
  return std::string(target, static_cast<std::size_t>(length));
}

// A script that starts the engine (Debian's /usr/bin/chromium is one) is
// never the program of the process it started.
bool IsScript(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  char start[2] = {};
  return file.valid() && ::read(file.get(), start, sizeof start) == 2 && start[0] == '#' && start[1] == '!';
}

// The file name after the last '/'.
std::string_view FileName(std::string_view path) { return path.substr(path.rfind('/') + 1); }

// Whether the live process `pid` runs the engine, judged as the engine
// judges it, or the two would disagree: the engine compares only the file
// name of the program a process runs with the file name of its own program
// (links followed). So a copy of the engine in another install folder counts,
// and a process whose program cannot be read (another user's) does not.
bool RunsTheEngine(long pid, const std::string& engine) {
  // Behind a script any process may be the engine: it cannot be told apart.
  if (IsScript(engine)) return true;
  std::string running = LinkTarget("/proc/" + std::to_string(pid) + "/exe");
  // A program an upgrade has replaced since the process started is named
  // by the kernel as deleted.
  constexpr std::string_view kDeleted = " (deleted)";
  if (running.ends_with(kDeleted)) running.resize(running.size() - kDeleted.size());
  if (running.empty()) return false;
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(engine.c_str(), nullptr), &std::free);
  if (resolved == nullptr) return true;  // cannot tell: keep the profile
  return FileName(running) == FileName(resolved.get());
}

}  // namespace

bool EngineRunsOn(const std::wstring& user_data_dir, const std::wstring& engine_path) {
  if (user_data_dir.empty()) return false;
  const std::string owner = LinkTarget(WideToBytes(user_data_dir) + "/SingletonLock");
  if (owner.empty()) return false;  // no lock, or not a link: nobody holds the profile
  const std::size_t dash = owner.rfind('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == owner.size()) return false;
  const std::string host = owner.substr(0, dash);
  long pid = 0;
  for (std::size_t i = dash + 1; i < owner.size(); ++i) {
    if (owner[i] < '0' || owner[i] > '9' || pid > INT_MAX / 10) return false;
    pid = pid * 10 + (owner[i] - '0');
  }
  if (pid <= 0 || pid > INT_MAX) return false;

  char this_host[256] = {};
  if (::gethostname(this_host, sizeof this_host - 1) != 0) return true;  // cannot tell: keep the profile
  // Another machine's engine on a shared folder cannot be checked from here.
  if (host != this_host) return true;
  // A process of this machine that is gone left a stale lock; so did one
  // that is not the engine: it holds the number of an engine that ended.
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  return RunsTheEngine(pid, WideToBytes(engine_path));
}

}  // namespace quillwave::platform
