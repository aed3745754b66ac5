#include <windows.h>

#include <algorithm>

#include "platform/child_output.h"
#include "platform/win32/unique_handle.h"

namespace quillwave::platform {
namespace {

std::wstring LastErrorText(const wchar_t* call) {
  return std::wstring(call) + L" error " + std::to_wstring(::GetLastError());
}

}  // namespace

CapturedRun RunCapturingOutput(const ProcessLaunch& launch, std::size_t keep_at_most) {
  CapturedRun run;
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  if (!::CreatePipe(&read_raw, &write_raw, &inheritable, 65536)) {
    run.status = CaptureStatus::kPipeFailed;
    run.reason = LastErrorText(L"CreatePipe");
    return run;
  }
  UniqueHandle read_end(read_raw);
  UniqueHandle write_end(write_raw);
  // Only the write end may reach the child.
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = nullptr;
  startup.hStdOutput = write_end.get();
  startup.hStdError = write_end.get();
  // CreateProcessW may write into its command-line buffer.
  std::wstring command_line = WindowsCommandLine(launch);
  PROCESS_INFORMATION info{};
  const ULONGLONG started_at = ::GetTickCount64();
  const BOOL created = ::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &info);
  const std::wstring failure = created ? std::wstring() : LastErrorText(L"CreateProcessW");
  // Our copy of the write end must go, or the reads below never see the end.
  write_end.Reset();
  if (!created) {
    run.reason = failure;
    return run;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);

  char chunk[1024];
  DWORD got = 0;
  while (::ReadFile(read_end.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
    run.total_bytes += got;
    if (run.output.size() < keep_at_most) {
      run.output.append(chunk, std::min<std::size_t>(got, keep_at_most - run.output.size()));
    }
  }
  read_end.Reset();

  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  if (!::GetExitCodeProcess(process.get(), &code)) code = 1;
  process.Reset();
  thread.Reset();
  run.status = CaptureStatus::kRan;
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

}  // namespace quillwave::platform
