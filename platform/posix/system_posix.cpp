#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
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
  // Plain calendar arithmetic: gmtime_r would read the local time zone file
  // first, on every launch, for nothing.
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss clock{floor<seconds>(now - day)};
  return UtcTime{static_cast<unsigned>(static_cast<int>(date.year())),
                 static_cast<unsigned>(date.month()),
                 static_cast<unsigned>(date.day()),
                 static_cast<unsigned>(clock.hours().count()),
                 static_cast<unsigned>(clock.minutes().count()),
                 static_cast<unsigned>(clock.seconds().count())};
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
