#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/child_output.h"
#include "platform/child_output_system.h"
#include "platform/win32/create_process.h"
#include "platform/win32/unique_handle.h"

namespace quillwave::platform {
namespace {

std::wstring LastErrorText(const wchar_t* call) {
  return std::wstring(call) + L" error " + std::to_wstring(::GetLastError());
}

// A wait registered with the thread pool. Unregistering waits for a callback
// that is running, so nothing it uses goes away under it.
struct RegisteredWaitTraits {
  using Value = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static bool Close(HANDLE wait) { return ::UnregisterWaitEx(wait, INVALID_HANDLE_VALUE) != 0; }
};
using UniqueRegisteredWait = UniqueOwner<RegisteredWaitTraits>;

// Reading an anonymous pipe blocks, so the limit and the cancellation are
// kept from the thread pool: ending the program closes its end of the pipe,
// and the read returns.
struct Watchdog {
  HANDLE process = nullptr;
  std::atomic<bool> stopped{false};
  std::atomic<bool> cancelled{false};

  static void CALLBACK Fired(void* context, BOOLEAN timed_out) {
    auto* watchdog = static_cast<Watchdog*>(context);
    // The program may end on its own at the same moment; then it was not stopped.
    if (timed_out && ::TerminateProcess(watchdog->process, WAIT_TIMEOUT)) watchdog->stopped = true;
  }
  static void CALLBACK Cancelled(void* context, BOOLEAN /*timed_out*/) {
    auto* watchdog = static_cast<Watchdog*>(context);
    if (::TerminateProcess(watchdog->process, ERROR_CANCELLED)) watchdog->cancelled = true;
  }
};

// A job that ends its processes when its last handle goes: this call's at
// its end, or the launcher's own when its process ends, however it ends.
// Null when the system gives none; the program then runs outside a job.
UniqueHandle KillOnCloseJob() {
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job.valid()) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) job.Reset();
  return job;
}

// Writes all of `left` into the program's standard input, then closes it.
// Run on a thread of its own: a write blocks while the pipe is full, and
// the program may never read. Once the program has ended nobody holds the
// pipe's read end, and a blocked write returns with an error.
void FeedInput(UniqueHandle input_write, std::string_view left) {
  while (!left.empty()) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(left.size(), 1 << 20));
    DWORD put = 0;
    if (!::WriteFile(input_write.get(), left.data(), part, &put, nullptr) || put == 0) return;
    left.remove_prefix(put);
  }
}

DWORD Milliseconds(std::chrono::milliseconds limit) {
  // INFINITE is the largest value and means no limit; stay below it.
  return static_cast<DWORD>(std::clamp<std::int64_t>(limit.count(), 0, INFINITE - 1));
}

// A pipe whose ends can be inherited; false, with the run marked, when the
// system gives none.
bool OpenInheritablePipe(UniqueHandle& read_end, UniqueHandle& write_end, CapturedRun& run) {
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  if (!::CreatePipe(&read_raw, &write_raw, &inheritable, 65536)) {
    run.status = CaptureStatus::kPipeFailed;
    run.reason = LastErrorText(L"CreatePipe");
    return false;
  }
  read_end.Reset(read_raw);
  write_end.Reset(write_raw);
  return true;
}

}  // namespace

CapturedRun RunCapturingOutputOnSystem(const ProcessLaunch& launch, std::string_view input, std::size_t keep_at_most,
                                       std::chrono::milliseconds limit, const Cancellation* cancel) {
  CapturedRun run;
  UniqueHandle read_end;
  UniqueHandle write_end;
  if (!OpenInheritablePipe(read_end, write_end, run)) return run;
  // Only the write end may reach the child.
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  UniqueHandle input_read;
  UniqueHandle input_write;
  if (!input.empty()) {
    if (!OpenInheritablePipe(input_read, input_write, run)) return run;
    // Here only the read end may reach the child.
    ::SetHandleInformation(input_write.get(), HANDLE_FLAG_INHERIT, 0);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = input_read.get();
  startup.hStdOutput = write_end.get();
  startup.hStdError = write_end.get();
  // CreateProcessW may write into its command-line buffer.
  std::wstring command_line = WindowsCommandLine(launch);
  PROCESS_INFORMATION info{};
  // Suspended until it is in the job, so nothing of it runs outside.
  const UniqueHandle job = KillOnCloseJob();
  const DWORD flags = CREATE_NO_WINDOW | (job.valid() ? CREATE_SUSPENDED : 0);
  const ULONGLONG started_at = ::GetTickCount64();
  const BOOL created =
      CreateProcessStartingAgainIfLost(nullptr, command_line.data(), TRUE, flags, nullptr, &startup, &info);
  const std::wstring failure = created ? std::wstring() : LastErrorText(L"CreateProcessW");
  // Our copy of the write end must go, or the reads below never see the end;
  // our copy of the input's read end, or a blocked feed would never return.
  write_end.Reset();
  input_read.Reset();
  if (!created) {
    run.reason = failure;
    return run;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (job.valid()) {
    // A launcher that is itself in a job that allows no other may fail to
    // place it; it then runs unguarded rather than not at all.
    ::AssignProcessToJobObject(job.get(), process.get());
    ::ResumeThread(thread.get());
  }
  // Joined when this returns, which is after the program has ended.
  std::jthread feeder;
  if (input_write.valid()) {
    try {
      feeder = std::jthread(FeedInput, std::move(input_write), input);
    } catch (const std::system_error&) {
      // Unfed, it might wait for its input for ever: end it now.
      run.reason = L"no thread to feed standard input";
      ::TerminateProcess(process.get(), ERROR_CANCELLED);
      ::WaitForSingleObject(process.get(), INFINITE);
      return run;
    }
  }
  // The wait is declared after the process handle and the watchdog, so it is
  // unregistered before either goes away.
  Watchdog watchdog{process.get()};
  const auto starting = std::chrono::milliseconds(::GetTickCount64() - started_at);
  HANDLE wait_raw = nullptr;
  if (!::RegisterWaitForSingleObject(&wait_raw, process.get(), Watchdog::Fired, &watchdog,
                                     Milliseconds(limit - starting), WT_EXECUTEONLYONCE)) {
    // Unwatched, it might run forever: end it now.
    run.reason = LastErrorText(L"RegisterWaitForSingleObject");
    ::TerminateProcess(process.get(), ERROR_CANCELLED);
    ::WaitForSingleObject(process.get(), INFINITE);
    return run;
  }
  UniqueRegisteredWait wait(wait_raw);
  UniqueRegisteredWait cancel_wait;
  if (cancel != nullptr && cancel->waitable() != -1) {
    HANDLE cancel_raw = nullptr;
    if (::RegisterWaitForSingleObject(&cancel_raw, reinterpret_cast<HANDLE>(cancel->waitable()), Watchdog::Cancelled,
                                      &watchdog, INFINITE, WT_EXECUTEONLYONCE)) {
      cancel_wait.Reset(cancel_raw);
    }
  }

  char chunk[1024];
  DWORD got = 0;
  while (::ReadFile(read_end.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
    run.total_bytes += got;
    if (run.output.size() < keep_at_most) {
      run.output.append(chunk, std::min<std::size_t>(got, keep_at_most - run.output.size()));
    }
  }
  read_end.Reset();

  // Bounded too: the watchdog ends a program that closed its output but stays.
  ::WaitForSingleObject(process.get(), INFINITE);
  wait.Reset();
  cancel_wait.Reset();
  DWORD code = 1;
  if (!::GetExitCodeProcess(process.get(), &code)) code = 1;
  process.Reset();
  thread.Reset();
  run.status = watchdog.cancelled ? CaptureStatus::kCancelled
               : watchdog.stopped ? CaptureStatus::kStopped
                                  : CaptureStatus::kRan;
  run.exit_code = static_cast<std::int32_t>(code);
  run.elapsed_ms = static_cast<std::int64_t>(::GetTickCount64() - started_at);
  return run;
}

std::optional<std::wstring> SystemDirectory() {
  std::wstring directory(MAX_PATH, L'\0');
  UINT length = ::GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
  if (length >= directory.size()) {
    // Too long for the usual buffer: the answer is the size it needs.
    directory.assign(length, L'\0');
    length = ::GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
    if (length >= directory.size()) return std::nullopt;
  }
  if (length == 0) return std::nullopt;
  directory.resize(length);
  return directory;
}

SystemCurl FindSystemCurl() {
  const std::optional<std::wstring> system_directory = SystemDirectory();
  if (!system_directory) return {{}, "GetSystemDirectoryW failed"};
  return {*system_directory + L"\\curl.exe", {}};
}

std::string CurlMissingMessage(const std::wstring& /*path*/) {
  return "curl.exe missing from System32 (Windows 10 1803+ ships it)";
}

bool CommandLinesArePrivate() { return true; }

}  // namespace quillwave::platform
