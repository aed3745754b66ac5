#include <windows.h>

#include "platform/system.h"

namespace quillwave::platform {

std::optional<std::uint64_t> TotalPhysicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return std::nullopt;
  return status.ullTotalPhys;
}

unsigned LogicalProcessorCount() {
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors;
}

UtcTime CurrentUtcTime() {
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  return UtcTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::optional<long> UtcOffsetNow(const std::string&) { return std::nullopt; }

std::optional<std::wstring> EnvironmentValue(const std::wstring& name) {
  std::wstring value(64, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    // Too small: the answer is the size it needs, its terminating zero included.
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.assign(length, L'\0');
  }
}

}  // namespace quillwave::platform
