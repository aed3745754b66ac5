#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/child_output.h"
#include "platform/child_output_system.h"
#include "platform/encoding.h"
#include "platform/posix/spawn_setup.h"
#include "platform/posix/unique_fd.h"

extern char** environ;

namespace quillwave::platform {
namespace {

std::int64_t MonotonicMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Whether the program has ended, without reaping it: until waitpid the pid
// stays ours, so ending it can never hit another process.
bool HasEnded(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// The descriptor moved to 3 or above: the child's standard descriptors are
// set up one after another, and one of them must not overwrite it first.
UniqueFd AboveStandardDescriptors(UniqueFd fd) {
  if (fd.get() > 2) return fd;
  return UniqueFd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3));
}

std::int32_t ExitCodeFromStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// What the child needs between fork and exec, all made before the fork: it
// may then only make calls that are safe in a copy of a threaded process.
struct ChildSetup {
  const char* program;
  char* const* argv;
  int output;  // becomes 1 and 2
  int input;   // becomes 0; -1: /dev/null
  int report;  // where a failed exec leaves its errno; closed by a good one
  pid_t parent;
};

// `from` as descriptor `to`, open across exec.
bool Place(int from, int to) {
  if (from == to) return ::fcntl(to, F_SETFD, 0) == 0;
  return ::dup2(from, to) == to;
}

// Every descriptor from 3 on except `keep` closed.
void CloseAllAbove2Except(int keep) {
  if ((keep == 3 || ::close_range(3, static_cast<unsigned>(keep) - 1, 0) == 0) &&
      ::close_range(static_cast<unsigned>(keep) + 1, ~0U, 0) == 0) {
    return;
  }
  rlimit files{};
  const rlim_t limit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 ? std::min<rlim_t>(files.rlim_cur, 1 << 20) : 1024;
  for (rlim_t fd = 3; fd < limit; ++fd) {
    if (static_cast<int>(fd) != keep) ::close(static_cast<int>(fd));
  }
}

[[noreturn]] void BecomeProgram(const ChildSetup& setup) {
  // Killed when the thread that started it ends, with the process or alone;
  // a parent that is already gone is not waited for.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != setup.parent) ::_exit(127);
  // Default handling of every signal and none blocked, whatever the caller had.
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_DFL) {
      ::sigaction(signal, &plain, nullptr);
    }
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // The output first: the pipe may itself sit on 0, 1 or 2 when the caller
  // runs without standard streams.
  bool ready = Place(setup.output, 1) && Place(setup.output, 2);
  if (setup.input >= 0) {
    ready = ready && Place(setup.input, 0);
  } else {
    const int null = ::open("/dev/null", O_RDONLY);
    ready = ready && null >= 0 && Place(null, 0);
  }
  if (ready) {
    CloseAllAbove2Except(setup.report);
    ::execve(setup.program, setup.argv, environ);
  }
  const int error = errno;
  [[maybe_unused]] const ssize_t put = ::write(setup.report, &error, sizeof error);
  ::_exit(127);
}

// Starts the program; its pid, or -1 with the reason.
pid_t StartChild(const ChildSetup& prepared, std::wstring& reason) {
  int report_ends[2] = {-1, -1};
  if (::pipe2(report_ends, O_CLOEXEC) != 0) {
    reason = Utf8ToWide(std::strerror(errno));
    return -1;
  }
  UniqueFd report_read(report_ends[0]);
  UniqueFd report_write(report_ends[1]);
  ChildSetup setup = prepared;
  setup.report = report_write.get();
  setup.parent = ::getpid();
  // No handler of the caller may run in the child before its exec.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &previous);
  const pid_t pid = ::fork();
  if (pid == 0) BecomeProgram(setup);
  const int fork_error = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  report_write.Reset();
  if (pid < 0) {
    reason = Utf8ToWide(std::strerror(fork_error));
    return -1;
  }
  // Nothing to read means the exec succeeded and closed the report's end.
  int exec_error = 0;
  ssize_t got = 0;
  do {
    got = ::read(report_read.get(), &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof exec_error)) return pid;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  reason = Utf8ToWide(std::strerror(exec_error));
  return -1;
}

// The pipes of one run: the program's output, both ends, and when it gets
// input, its standard input. The caller keeps its own copy of the input's
// read end until the run is over: a write then never meets a closed pipe (no
// SIGPIPE in the caller), and a program that stops reading only leaves the
// pipe full.
struct CapturePipes {
  UniqueFd read_end;
  UniqueFd write_end;
  UniqueFd input_read;
  UniqueFd input_write;
};

// False, with the system's reason, when a pipe could not be made.
bool OpenCapturePipes(bool with_input, CapturePipes& pipes, std::wstring& reason) {
  int ends[2] = {-1, -1};
  bool made = ::pipe2(ends, O_CLOEXEC) == 0;
  if (made) {
    pipes.read_end.Reset(ends[0]);
    pipes.write_end.Reset(ends[1]);
  }
  if (made && with_input) {
    int input_ends[2] = {-1, -1};
    made = ::pipe2(input_ends, O_CLOEXEC) == 0;
    if (made) {
      pipes.input_read = AboveStandardDescriptors(UniqueFd(input_ends[0]));
      pipes.input_write.Reset(input_ends[1]);
      made = pipes.input_read.valid() && ::fcntl(pipes.input_write.get(), F_SETFL, O_NONBLOCK) == 0;
    }
  }
  if (!made) reason = Utf8ToWide(std::strerror(errno));
  return made;
}

// How the loop left a running program.
enum class LoopEnd { kEnded, kStopped, kCancelled };

// Feeds the input and reads the output until the program has ended and
// closed its output, the deadline passes, or `cancel` is raised.
LoopEnd FeedAndRead(pid_t pid, CapturePipes& pipes, std::string_view input, std::size_t keep_at_most,
                    std::int64_t deadline, const Cancellation* cancel, CapturedRun& run) {
  // Readable once the program has ended, so one poll() waits for output and
  // for the end alike. Without it (kernels before 5.3) the end is looked for
  // every 10 ms once the output has closed.
  const UniqueFd end_signal(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  const int cancel_signal = cancel != nullptr ? static_cast<int>(cancel->waitable()) : -1;
  // A cancellation without a descriptor is looked at every 10 ms.
  const bool cancel_unwatched = cancel != nullptr && cancel_signal < 0;
  bool output_open = true;
  bool ended = false;
  char chunk[1024];
  while (output_open || !ended) {
    if (cancel != nullptr && cancel->raised()) return LoopEnd::kCancelled;
    const std::int64_t left = deadline - MonotonicMilliseconds();
    if (left <= 0) return LoopEnd::kStopped;
    // poll() skips an entry whose descriptor is negative.
    pollfd watched[4] = {{output_open ? pipes.read_end.get() : -1, POLLIN, 0},
                         {ended ? -1 : end_signal.get(), POLLIN, 0},
                         {pipes.input_write.get(), POLLOUT, 0},
                         {cancel_signal, POLLIN, 0}};
    const bool blind = (!output_open && !end_signal.valid()) || cancel_unwatched;
    const std::int64_t wait_ms = blind ? std::min<std::int64_t>(left, 10) : left;
    if (::poll(watched, 4, static_cast<int>(std::min<std::int64_t>(wait_ms, INT_MAX))) < 0 && errno != EINTR) {
      return LoopEnd::kStopped;  // nothing can be watched any more: end it rather than wait blind
    }
    if (watched[2].revents != 0) {
      // As much as the pipe takes now; the rest when it has room again.
      const ssize_t put = ::write(pipes.input_write.get(), input.data(), input.size());
      if (put > 0) {
        input.remove_prefix(static_cast<std::size_t>(put));
      } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
        input = {};  // it cannot take more: let it see the end
      }
      if (input.empty()) pipes.input_write.Reset();
    }
    if (watched[0].revents != 0) {
      const ssize_t got = ::read(pipes.read_end.get(), chunk, sizeof chunk);
      if (got > 0) {
        const auto size = static_cast<std::size_t>(got);
        run.total_bytes += size;
        if (run.output.size() < keep_at_most) {
          run.output.append(chunk, std::min(size, keep_at_most - run.output.size()));
        }
      } else if (got == 0 || errno != EINTR) {
        output_open = false;
      }
    }
    if (!ended && (end_signal.valid() ? watched[1].revents != 0 : !output_open)) ended = HasEnded(pid);
  }
  return LoopEnd::kEnded;
}

// Ends a program the loop left running, waits for it and completes the run.
void Reap(pid_t pid, LoopEnd end, std::int64_t started_at, CapturedRun& run) {
  if (end != LoopEnd::kEnded) ::kill(pid, SIGKILL);
  int status = 0;
  pid_t waited = 0;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  run.status = end == LoopEnd::kCancelled ? CaptureStatus::kCancelled
               : end == LoopEnd::kStopped ? CaptureStatus::kStopped
                                          : CaptureStatus::kRan;
  run.exit_code = waited == pid ? ExitCodeFromStatus(status) : 1;
  run.elapsed_ms = MonotonicMilliseconds() - started_at;
}

}  // namespace

CapturedRun RunCapturingOutputOnSystem(const ProcessLaunch& launch, std::string_view input, std::size_t keep_at_most,
                                       std::chrono::milliseconds limit, const Cancellation* cancel) {
  CapturedRun run;
  CapturePipes pipes;
  if (!OpenCapturePipes(!input.empty(), pipes, run.reason)) {
    run.status = CaptureStatus::kPipeFailed;
    return run;
  }

  const NativeArgv argv(PosixArgv(launch));
  const std::string program = WideToBytes(launch.program);

  const std::int64_t started_at = MonotonicMilliseconds();
  const pid_t pid = StartChild(ChildSetup{program.c_str(), argv.get(), pipes.write_end.get(),
                                          pipes.input_read.valid() ? pipes.input_read.get() : -1, -1, 0},
                               run.reason);
  // Our copy of the write end must go, or the read below never sees the end.
  pipes.write_end.Reset();
  if (pid < 0) return run;

  const std::int64_t deadline = started_at + std::min<std::int64_t>(limit.count(), INT64_MAX - started_at);
  const LoopEnd end = FeedAndRead(pid, pipes, input, keep_at_most, deadline, cancel, run);
  pipes.read_end.Reset();
  Reap(pid, end, started_at, run);
  return run;
}

std::optional<std::wstring> SystemDirectory() { return std::nullopt; }

SystemCurl FindSystemCurl() { return {Utf8ToWide(QUILLWAVE_CURL_PATH), {}}; }

std::string CurlMissingMessage(const std::wstring& path) { return "curl missing at " + WideToUtf8(path); }

bool CommandLinesArePrivate() { return false; }

}  // namespace quillwave::platform
