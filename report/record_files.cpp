#include "report/record_files.h"

#include <cstdio>

#include "base/version.h"
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

JsonWriter BeginRecord(std::string_view timestamp) {
  JsonWriter record;
  // Room for a record with a long message, so that it is built in one piece.
  record.Reserve(1024);
  record.BeginObject().Integer("schema", 1).String("ts", timestamp);
  return record;
}

std::string EndRecord(JsonWriter& record) {
  record.String("launcher_version", kLauncherVersion).EndObject();
  std::string text = record.Take();
  text += '\n';
  return text;
}

}  // namespace quillwave
