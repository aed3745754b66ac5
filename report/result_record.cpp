#include "report/result_record.h"

#include "base/json_writer.h"
#include "base/version.h"
#include "report/record_files.h"

namespace quillwave {

std::string FormatResultRecord(const LaunchOutcome& outcome, std::string_view timestamp) {
  std::string record = "{\"schema\":1,\"ts\":\"";
  record += timestamp;
  record += '"';
  AppendJsonStringMember(record, "status", outcome.status);
  AppendJsonStringMember(record, "ip", outcome.ip);
  AppendJsonStringMember(record, "timezone", outcome.timezone);
  AppendJsonStringMember(record, "country_code", outcome.country_code);
  // Coordinates stay text, so readers get exactly the digits the engine got.
  AppendJsonStringMember(record, "lat", outcome.lat);
  AppendJsonStringMember(record, "lng", outcome.lng);
  AppendJsonStringMember(record, "lang", outcome.lang);
  AppendJsonStringMember(record, "accept_lang", outcome.accept_lang);
  record += ",\"elapsed_ms\":";
  record += std::to_string(outcome.elapsed_ms);
  AppendJsonStringMember(record, "provider", outcome.provider);
  AppendJsonStringMember(record, "error_code", outcome.error_code);
  AppendJsonStringMember(record, "message", outcome.message);
  record += ",\"launcher_version\":\"";
  record += kLauncherVersion;
  record += "\"}\n";
  return record;
}

void WriteResultRecord(const std::wstring& path, const LaunchOutcome& outcome) {
  if (path.empty()) return;
  WriteFileAtomic(path, FormatResultRecord(outcome, UtcTimestamp()));
}

}  // namespace quillwave
