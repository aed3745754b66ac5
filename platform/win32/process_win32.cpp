#include <windows.h>
#include <shellapi.h>

#include "platform/process.h"
#include "platform/win32/create_process.h"
#include "platform/win32/unique_handle.h"

namespace quillwave::platform {
namespace {

std::wstring SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) message = L"system error " + std::to_wstring(code);
  return message;
}

}  // namespace

unsigned long CurrentProcessId() { return ::GetCurrentProcessId(); }

void LoadLibrariesFromSystemFolderOnly() { ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

std::vector<std::wstring> ProcessArguments() {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::wstring> result;
  if (arguments == nullptr) return result;
  for (int i = 1; i < count; ++i) result.emplace_back(arguments[i]);
  ::LocalFree(arguments);
  return result;
}

std::vector<std::wstring> ArgumentsAsReceived(const ProcessLaunch& launch) {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(WindowsCommandLine(launch).c_str(), &count);
  std::vector<std::wstring> result;
  if (arguments == nullptr) return result;
  for (int i = 1; i < count; ++i) result.emplace_back(arguments[i]);
  ::LocalFree(arguments);
  return result;
}

std::wstring SystemCommandLine(const ProcessLaunch& launch) { return WindowsCommandLine(launch); }

bool ArgumentsFitSystem(const ProcessLaunch& launch) {
  constexpr std::size_t kLongestCommandLine = 32766;  // CreateProcessW's limit less the terminating NUL
  return WindowsCommandLine(launch).size() <= kLongestCommandLine;
}

SpawnResult SpawnDetached(const ProcessLaunch& launch) {
  // CreateProcessW may write into its command-line buffer.
  std::wstring command_line = WindowsCommandLine(launch);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessStartingAgainIfLost(launch.program.c_str(), command_line.data(), FALSE, 0, nullptr, &startup,
                                        &info)) {
    return {false, SystemErrorText(::GetLastError())};
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  return {true, {}};
}

}  // namespace quillwave::platform
