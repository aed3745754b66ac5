#include <windows.h>
#include <shellapi.h>

#include <map>
#include <stdexcept>

#include "platform/command_line.h"
#include "platform/win32/create_process.h"
#include "platform/win32/unique_handle.h"
#include "tests/support/child_process.h"

namespace quillwave::test {

ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                     const ChildOptions& options) {
  std::wstring command_line = platform::QuoteArgument(program.wstring());
  for (const auto& argument : arguments) command_line += L" " + platform::QuoteArgumentIfNeeded(argument);

  // Environment names are case-insensitive on Windows.
  struct Less {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
  };
  std::map<std::wstring, std::wstring, Less> environment;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
      const std::wstring text = entry;
      const auto equals = text.find(L'=', 1);  // "=C:=C:\..." entries start with '='
      if (equals != std::wstring::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : options.environment) {
    if (value.empty()) {
      environment.erase(name);
    } else {
      environment[name] = value;
    }
  }
  std::wstring block;
  for (const auto& [name, value] : environment) block += name + L"=" + value + L'\0';
  block += L'\0';

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!platform::CreateProcessStartingAgainIfLost(program.wstring().c_str(), command_line.data(), FALSE,
                                                  CREATE_UNICODE_ENVIRONMENT, block.data(), &startup, &info)) {
    throw std::runtime_error("cannot start child, error " + std::to_string(::GetLastError()));
  }
  platform::UniqueHandle process(info.hProcess);
  platform::UniqueHandle thread(info.hThread);
  ChildResult result;
  if (::WaitForSingleObject(process.get(), static_cast<DWORD>(options.timeout.count())) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 255);
    ::WaitForSingleObject(process.get(), INFINITE);
    result.timed_out = true;
  }
  DWORD code = 0;
  if (::GetExitCodeProcess(process.get(), &code)) result.exit_code = static_cast<int>(code);
  return result;
}

std::vector<std::wstring> SplitWindowsCommandLine(const std::wstring& command_line) {
  std::vector<std::wstring> result;
  int count = 0;
  wchar_t** parts = ::CommandLineToArgvW(command_line.c_str(), &count);
  if (parts == nullptr) return result;
  for (int i = 0; i < count; ++i) result.emplace_back(parts[i]);
  ::LocalFree(parts);
  return result;
}

}  // namespace quillwave::test
