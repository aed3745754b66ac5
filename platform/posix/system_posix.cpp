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
  const auto field = [](int value) { return static_cast<unsigned>(value); };
  return UtcTime{field(parts.tm_year + 1900), field(parts.tm_mon + 1), field(parts.tm_mday),
                 field(parts.tm_hour),        field(parts.tm_min),     field(parts.tm_sec)};
}

}  // namespace quillwave::platform
