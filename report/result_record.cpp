#include "report/result_record.h"

#include "launcher/command_line.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "report/text.h"

namespace quillwave {
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
  AppendJsonStringMember(record, "status", status);
  AppendJsonStringMember(record, "ip", discovery.egress_ip);
  AppendJsonStringMember(record, "timezone", discovery.timezone);
  AppendJsonStringMember(record, "country_code", discovery.country_code);
  // Coordinates stay text, so readers get exactly the digits the engine got.
  AppendJsonStringMember(record, "lat", Narrow(discovery.geo_lat));
  AppendJsonStringMember(record, "lng", Narrow(discovery.geo_lng));
  AppendJsonStringMember(record, "lang", Narrow(discovery.lang));
  AppendJsonStringMember(record, "accept_lang", Narrow(discovery.accept_language));
  record += ",\"elapsed_ms\":";
  record += std::to_string(elapsed_ms);
  AppendJsonStringMember(record, "provider", discovery.provider);
  AppendJsonStringMember(record, "error_code", error_code);
  AppendJsonStringMember(record, "message", message);
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
