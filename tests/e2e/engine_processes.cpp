#include "tests/e2e/engine_processes.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace quillwave::test {
namespace {

// Empty when the process is gone, also when it ends while being read (the
// read then fails with ESRCH, which the stream reports by throwing).
std::string ReadProcFile(pid_t pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  try {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure&) {
    return {};
  }
}

// The session id from /proc/PID/stat: "pid (comm) state ppid pgrp session ...";
// comm may hold blanks and parentheses, so counting starts after the last ')'.
pid_t SessionOf(pid_t pid) {
  const std::string stat = ReadProcFile(pid, "stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  char state = 0;
  long ppid = 0, group = 0, session = -1;
  if (std::sscanf(stat.c_str() + close + 1, " %c %ld %ld %ld", &state, &ppid, &group, &session) != 4) return -1;
  return static_cast<pid_t>(session);
}

std::vector<pid_t> AllProcesses() {
  std::vector<pid_t> pids;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") == std::string::npos) pids.push_back(std::atoi(name.c_str()));
  }
  return pids;
}

}  // namespace

bool BecomeSubreaper() { return ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0; }

std::vector<std::string> ProcessArguments(pid_t pid) {
  const std::string raw = ReadProcFile(pid, "cmdline");
  std::vector<std::string> arguments;
  for (std::size_t start = 0, end; (end = raw.find('\0', start)) != std::string::npos; start = end + 1) {
    arguments.push_back(raw.substr(start, end - start));
  }
  return arguments;
}

std::vector<pid_t> ProcessesRunning(const std::string& program) {
  std::vector<pid_t> found;
  for (const pid_t pid : AllProcesses()) {
    const auto arguments = ProcessArguments(pid);
    if (!arguments.empty() && arguments[0] == program) found.push_back(pid);
  }
  return found;
}

std::set<pid_t> SessionsMentioning(const std::string& marker) {
  std::set<pid_t> sessions;
  const pid_t own = ::getsid(0);
  for (const pid_t pid : AllProcesses()) {
    if (ReadProcFile(pid, "cmdline").find(marker) == std::string::npos) continue;
    const pid_t session = SessionOf(pid);
    if (session > 0 && session != own) sessions.insert(session);
  }
  return sessions;
}

bool EndSessions(const std::set<pid_t>& sessions, bool kill, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    bool left = false;
    for (const pid_t pid : AllProcesses()) {
      if (sessions.count(SessionOf(pid)) == 0) continue;
      left = true;
      if (kill) ::kill(pid, SIGKILL);
      int status = 0;
      ::waitpid(pid, &status, WNOHANG);  // fails harmlessly for processes that are not ours (yet)
    }
    if (!left) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Polls real processes; there is no clock to inject here.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace quillwave::test
