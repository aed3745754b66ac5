#include <time.h>
#include <unistd.h>

#include "platform/system.h"

namespace quillwave::platform {

std::optional<std::uint64_t> TotalPhysicalMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return std::nullopt;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

unsigned LogicalProcessorCount() {
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<unsigned>(count) : 0u;
}

UtcTime CurrentUtcTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  ::gmtime_r(&now.tv_sec, &parts);
  return UtcTime{static_cast<unsigned>(parts.tm_year + 1900), static_cast<unsigned>(parts.tm_mon + 1),
                 static_cast<unsigned>(parts.tm_mday), static_cast<unsigned>(parts.tm_hour),
                 static_cast<unsigned>(parts.tm_min), static_cast<unsigned>(parts.tm_sec)};
}

}  // namespace quillwave::platform
