#include "report/error_record.h"

#include "base/json_writer.h"
#include "base/version.h"
#include "report/record_files.h"

namespace quillwave {
std::string FormatErrorRecordAt(const ErrorReport& report, std::string_view timestamp) {
  std::string record = "{\"schema\":1,\"ts\":\"";
  record += timestamp;
  record += '"';
  AppendJsonStringMember(record, "step", report.step);
  AppendJsonStringMember(record, "error_code", report.error_code);
  AppendJsonStringMember(record, "message", report.message);
  if (!report.proxy.empty()) AppendJsonStringMember(record, "proxy", report.proxy);
  if (!report.discovery_url.empty()) AppendJsonStringMember(record, "discovery_url", report.discovery_url);
  if (report.curl_exit_code >= 0) record += ",\"curl_exit_code\":" + std::to_string(report.curl_exit_code);
  record += ",\"elapsed_ms\":" + std::to_string(report.elapsed_ms);
  record += ",\"launcher_version\":\"";
  record += kLauncherVersion;
  record += "\"}\n";
  return record;
}

std::string FormatErrorRecord(const ErrorReport& report) { return FormatErrorRecordAt(report, UtcTimestamp()); }

}  // namespace quillwave
