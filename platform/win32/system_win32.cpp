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

}  // namespace quillwave::platform
