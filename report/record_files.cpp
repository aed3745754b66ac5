#include "report/record_files.h"

#include <cstdio>

#include "platform/files.h"

namespace quillwave {

std::wstring RecordPathFor(const std::wstring& user_data_dir, const std::wstring& data_folder,
                           std::wstring_view file_name) {
  // The separator is added even after a trailing one; both systems accept that.
  if (!user_data_dir.empty()) return user_data_dir + platform::kPathSeparator + std::wstring(file_name);
  if (!data_folder.empty()) return data_folder + std::wstring(file_name);
  return {};
}

std::string FormatUtcTimestamp(const platform::UtcTime& time) {
  char buffer[80];  // room for any six unsigned values, so nothing is cut
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.year, time.month, time.day, time.hour,
                time.minute, time.second);
  return buffer;
}

std::string UtcTimestamp() { return FormatUtcTimestamp(platform::CurrentUtcTime()); }

bool WriteFileAtomic(const std::wstring& target, std::string_view content) {
  // Same folder as the target, so the final rename never crosses volumes.
  const std::wstring temporary = target + L".tmp";
  switch (platform::WriteNewFile(temporary, content)) {
    case platform::NewFileStatus::kCreateFailed:
      return false;
    case platform::NewFileStatus::kWriteFailed:
      platform::DeleteFileOnly(temporary);
      return false;
    case platform::NewFileStatus::kWritten:
      break;
  }
  if (platform::MoveFileReplacing(temporary, target)) return true;
  platform::DeleteFileOnly(temporary);
  return false;
}

}  // namespace quillwave
