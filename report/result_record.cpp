#include "report/result_record.h"

#include "launcher/command_line.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "report/text.h"

namespace quillwave {
namespace {

void AppendString(std::string& record, std::string_view key, std::string_view value) {
  record += ",\"";
  record += key;
  record += "\":\"";
  record += EscapeJsonString(value);
  record += '"';
}

}  // namespace

std::wstring RecordPathFor(const std::wstring& user_data_dir, const std::wstring& local_app_data,
                           std::wstring_view file_name) {
  // The separator is added even after a trailing one; both systems accept that.
  if (!user_data_dir.empty()) return user_data_dir + platform::kPathSeparator + std::wstring(file_name);
  if (!local_app_data.empty()) return LauncherDataFolderIn(local_app_data) + std::wstring(file_name);
  return {};
}

std::wstring ResultRecordPath() {
  return RecordPathFor(UserDataDirFromCommandLine(), platform::LocalAppDataFolder(), Widen(kResultRecordName));
}

std::string FormatResultRecord(std::string_view status, std::int64_t elapsed_ms, std::string_view error_code,
                               std::string_view message, const DiscoveryResult& discovery,
                               std::string_view timestamp) {
  std::string record = "{\"schema\":1,\"ts\":\"";
  record += timestamp;
  record += '"';
  AppendString(record, "status", status);
  AppendString(record, "ip", discovery.egress_ip);
  AppendString(record, "timezone", discovery.timezone);
  AppendString(record, "country_code", discovery.country_code);
  // Coordinates stay text, so readers get exactly the digits the engine got.
  AppendString(record, "lat", Narrow(discovery.geo_lat));
  AppendString(record, "lng", Narrow(discovery.geo_lng));
  AppendString(record, "lang", Narrow(discovery.lang));
  AppendString(record, "accept_lang", Narrow(discovery.accept_language));
  record += ",\"elapsed_ms\":";
  record += std::to_string(elapsed_ms);
  AppendString(record, "provider", discovery.provider);
  AppendString(record, "error_code", error_code);
  AppendString(record, "message", message);
  record += ",\"launcher_version\":\"";
  record += kLauncherVersion;
  record += "\"}\n";
  return record;
}

void WriteResultRecord(std::string_view status, std::int64_t elapsed_ms, std::string_view error_code,
                       std::string_view message) {
  const std::wstring path = ResultRecordPath();
  if (path.empty()) return;
  WriteFileAtomic(path, FormatResultRecord(status, elapsed_ms, error_code, message, SharedDiscoveryResult(),
                                           UtcTimestamp()));
}

}  // namespace quillwave
