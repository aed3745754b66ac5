#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/encoding.h"
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

std::optional<long> UtcOffsetNow(const std::string& zone_name) {
  // Without a file of that name the C library would quietly take UTC.
  if (zone_name.empty() || zone_name.front() == '/' || zone_name.find("..") != std::string::npos) return std::nullopt;
  struct stat st {};
  const std::string file = "/usr/share/zoneinfo/" + zone_name;
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  // The zone goes through TZ, the C library's only door to a named zone;
  // the caller's setting comes back afterwards. Console tools only.
  const char* previous = ::getenv("TZ");
  const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
  ::setenv("TZ", (":" + zone_name).c_str(), 1);
  ::tzset();
  const time_t now = ::time(nullptr);
  tm local{};
  const bool converted = ::localtime_r(&now, &local) != nullptr;
  if (saved) {
    ::setenv("TZ", saved->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  if (!converted) return std::nullopt;
  return local.tm_gmtoff;
}

std::optional<std::wstring> EnvironmentValue(const std::wstring& name) {
  const char* value = std::getenv(WideToBytes(name).c_str());
  if (value == nullptr) return std::nullopt;
  return BytesToWide(value);
}

}  // namespace quillwave::platform
