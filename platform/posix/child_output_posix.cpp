#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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

std::int32_t ExitCodeFromStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

}  // namespace

CapturedRun RunCapturingOutput(const ProcessLaunch& launch, std::size_t keep_at_most) {
  CapturedRun run;
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    run.status = CaptureStatus::kPipeFailed;
    run.reason = Utf8ToWide(std::strerror(errno));
    return run;
  }
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);

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
  ::posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addclosefrom_np(setup.actions(), 3);

  const NativeArgv argv(PosixArgv(launch));
  const std::string program = WideToUtf8(launch.program);

  const std::int64_t started_at = MonotonicMilliseconds();
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(), argv.get(), environ);
  // Our copy of the write end must go, or the read below never sees the end.
  write_end.Reset();
  if (error != 0) {
    run.reason = Utf8ToWide(std::strerror(error));
    return run;
  }

  char chunk[1024];
  for (;;) {
    const ssize_t got = ::read(read_end.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const auto size = static_cast<std::size_t>(got);
    run.total_bytes += size;
    if (run.output.size() < keep_at_most) run.output.append(chunk, std::min(size, keep_at_most - run.output.size()));
  }
  read_end.Reset();

  int status = 0;
  pid_t waited = 0;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  run.status = CaptureStatus::kRan;
  run.exit_code = waited == pid ? ExitCodeFromStatus(status) : 1;
  run.elapsed_ms = MonotonicMilliseconds() - started_at;
  return run;
}

std::optional<std::wstring> SystemDirectory() { return std::nullopt; }

SystemCurl FindSystemCurl() { return {Utf8ToWide(QUILLWAVE_CURL_PATH), {}}; }

std::string CurlMissingMessage(const std::wstring& path) { return "curl missing at " + WideToUtf8(path); }

}  // namespace quillwave::platform
