// Facts about the machine, the current time and the process's environment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillwave::platform {

// Total physical memory in bytes, or nothing when it cannot be read.
std::optional<std::uint64_t> TotalPhysicalMemoryBytes();

// Number of logical processors the system reports (0 when unknown).
unsigned LogicalProcessorCount();

struct UtcTime {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
UtcTime CurrentUtcTime();

// The named time zone's offset from UTC right now, in seconds, or nothing
// when the system has no data for it (Windows keeps no such names).
std::optional<long> UtcOffsetNow(const std::string& zone_name);

// The value of the process's environment variable `name` (ASCII), or nothing
// when it is not set.
std::optional<std::wstring> EnvironmentValue(const std::wstring& name);

}  // namespace quillwave::platform
