#include "report/error_record.h"

#include "base/json_writer.h"
#include "report/record_files.h"

namespace quillwave {

std::string FormatErrorRecord(const ErrorReport& report, std::string_view timestamp) {
  JsonWriter record = BeginRecord(timestamp);
  record.String("step", report.step).String("error_code", report.error_code).String("message", report.message);
  if (!report.proxy.empty()) record.String("proxy", report.proxy);
  if (!report.discovery_url.empty()) record.String("discovery_url", report.discovery_url);
  if (report.curl_exit_code >= 0) record.Integer("curl_exit_code", report.curl_exit_code);
  record.Integer("elapsed_ms", report.elapsed_ms);
  return EndRecord(record);
}

}  // namespace quillwave
