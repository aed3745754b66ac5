// Fault-injection helpers for POSIX tests: forked children that are always
// killed and reaped, and checks that permission bits must stop even when the
// suite runs as root (as it does in CI).
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/posix/unique_fd.h"

namespace quillwave::test {

inline constexpr uid_t kNobody = 65534;

// A forked child owned by the test: killed with SIGKILL and reaped when the
// object goes, whatever path the test takes.
class ForkedChild {
 public:
  explicit ForkedChild(pid_t pid) : pid_(pid) {}
  ~ForkedChild() { Kill(); }
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  // True once the child has ended, and then it is reaped; never waits.
  bool Ended() {
    if (pid_ <= 0) return true;
    if (::waitpid(pid_, &status_, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
  }

  // Kills (if still running) and reaps; returns the wait status.
  int Kill() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status_;
  }

 private:
  pid_t pid_;
  int status_ = 0;
};

// Runs `check` in a forked child that, when the suite runs as root, first
// drops to nobody (groups, then gid, then uid). Returns what `check`
// returned ("" meaning success) or why the child did not report; a child
// that takes longer than `limit` is killed. `prepare`, when given, runs in
// the child before it drops its rights (a mount in a mount namespace of
// its own, say); what it returns other than "" is reported instead.
inline std::string RunUnprivileged(const std::function<std::string()>& check,
                                   std::chrono::milliseconds limit = std::chrono::seconds(10),
                                   const std::function<std::string()>& prepare = {}) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return "no pipe";
  platform::UniqueFd read_end(ends[0]);
  platform::UniqueFd write_end(ends[1]);
  const pid_t pid = ::fork();
  if (pid < 0) return "no fork";
  if (pid == 0) {
    read_end.Reset();
    std::string report = prepare ? prepare() : std::string();
    if (report.empty()) {
      const bool dropped = ::geteuid() != 0 ||
                           (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0);
      report = dropped ? check() : "cannot drop to nobody";
    }
    report.insert(0, "R");  // marks a report that arrived, even an empty one
    for (std::size_t sent = 0; sent < report.size();) {
      const ssize_t put = ::write(write_end.get(), report.data() + sent, report.size() - sent);
      if (put <= 0) break;
      sent += static_cast<std::size_t>(put);
    }
    ::_exit(0);  // no atexit handlers of the test runner in the child
  }
  ForkedChild child(pid);
  write_end.Reset();
  std::string report;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{read_end.get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) == 0) return "the check timed out";
    char chunk[4096];
    const ssize_t got = ::read(read_end.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    report.append(chunk, static_cast<std::size_t>(got));
  }
  child.Kill();
  if (report.empty()) return "the check ended without a report";
  return report.substr(1);
}

}  // namespace quillwave::test
