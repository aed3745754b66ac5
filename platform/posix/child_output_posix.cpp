#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

}  // namespace

CapturedRun RunCapturingOutput(const ProcessLaunch& launch, std::string_view input, std::size_t keep_at_most,
                               std::chrono::milliseconds limit) {
  CapturedRun run;
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    run.status = CaptureStatus::kPipeFailed;
    run.reason = Utf8ToWide(std::strerror(errno));
    return run;
  }
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);

  // The caller keeps its own copy of the input's read end until the run is
  // over: a write then never meets a closed pipe (no SIGPIPE in the caller),
  // and a program that stops reading only leaves the pipe full.
  UniqueFd input_read;
  UniqueFd input_write;
  if (!input.empty()) {
    int input_ends[2] = {-1, -1};
    if (::pipe2(input_ends, O_CLOEXEC) != 0) {
      run.status = CaptureStatus::kPipeFailed;
      run.reason = Utf8ToWide(std::strerror(errno));
      return run;
    }
    input_read = AboveStandardDescriptors(UniqueFd(input_ends[0]));
    input_write.Reset(input_ends[1]);
    if (!input_read.valid() || ::fcntl(input_write.get(), F_SETFL, O_NONBLOCK) != 0) {
      run.status = CaptureStatus::kPipeFailed;
      run.reason = Utf8ToWide(std::strerror(errno));
      return run;
    }
  }

  SpawnSetup setup;
  if (!setup.ok()) {
    run.reason = L"cannot prepare the process start";
    return run;
  }
  setup.ResetSignals(0);
  // The duplicates come first: the pipe may itself sit on 0, 1 or 2 when the
  // caller runs without standard streams.
  ::posix_spawn_file_actions_adddup2(setup.actions(), write_end.get(), 1);
  ::posix_spawn_file_actions_adddup2(setup.actions(), write_end.get(), 2);
  if (input_read.valid()) {
    ::posix_spawn_file_actions_adddup2(setup.actions(), input_read.get(), 0);
  } else {
    ::posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
  }
  ::posix_spawn_file_actions_addclosefrom_np(setup.actions(), 3);

  const NativeArgv argv(PosixArgv(launch));
  const std::string program = WideToBytes(launch.program);

  const std::int64_t started_at = MonotonicMilliseconds();
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(), argv.get(), environ);
  // Our copy of the write end must go, or the read below never sees the end.
  write_end.Reset();
  if (error != 0) {
    run.reason = Utf8ToWide(std::strerror(error));
    return run;
  }

  // Readable once the program has ended, so one poll() waits for output and
  // for the end alike. Without it (kernels before 5.3) the end is looked for
  // every 10 ms once the output has closed.
  const UniqueFd end_signal(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  const std::int64_t deadline = started_at + std::min<std::int64_t>(limit.count(), INT64_MAX - started_at);
  bool output_open = true;
  bool ended = false;
  bool stopped = false;
  char chunk[1024];
  while (output_open || !ended) {
    const std::int64_t left = deadline - MonotonicMilliseconds();
    if (left <= 0) {
      stopped = true;
      break;
    }
    // poll() skips an entry whose descriptor is negative.
    pollfd watched[3] = {{output_open ? read_end.get() : -1, POLLIN, 0},
                         {ended ? -1 : end_signal.get(), POLLIN, 0},
                         {input_write.get(), POLLOUT, 0}};
    const std::int64_t wait_ms = output_open || end_signal.valid() ? left : std::min<std::int64_t>(left, 10);
    if (::poll(watched, 3, static_cast<int>(std::min<std::int64_t>(wait_ms, INT_MAX))) < 0 && errno != EINTR) {
      stopped = true;  // nothing can be watched any more: end it rather than wait blind
      break;
    }
    if (watched[2].revents != 0) {
      // As much as the pipe takes now; the rest when it has room again.
      const ssize_t put = ::write(input_write.get(), input.data(), input.size());
      if (put > 0) {
        input.remove_prefix(static_cast<std::size_t>(put));
      } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
        input = {};  // it cannot take more: let it see the end
      }
      if (input.empty()) input_write.Reset();
    }
    if (watched[0].revents != 0) {
      const ssize_t got = ::read(read_end.get(), chunk, sizeof chunk);
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
  read_end.Reset();
  if (stopped) ::kill(pid, SIGKILL);

  int status = 0;
  pid_t waited = 0;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  run.status = stopped ? CaptureStatus::kStopped : CaptureStatus::kRan;
  run.exit_code = waited == pid ? ExitCodeFromStatus(status) : 1;
  run.elapsed_ms = MonotonicMilliseconds() - started_at;
  return run;
}

std::optional<std::wstring> SystemDirectory() { return std::nullopt; }

SystemCurl FindSystemCurl() { return {Utf8ToWide(QUILLWAVE_CURL_PATH), {}}; }

std::string CurlMissingMessage(const std::wstring& path) { return "curl missing at " + WideToUtf8(path); }

bool CommandLinesArePrivate() { return false; }

}  // namespace quillwave::platform
