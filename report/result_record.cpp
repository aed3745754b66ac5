#include "report/result_record.h"

#include <cstdio>

#include "base/json_writer.h"
#include "platform/atomic_file.h"
#include "platform/encoding.h"
#include "report/record_files.h"

namespace quillwave {

std::string PathInNote(std::wstring_view path) {
  const std::string utf8 = Narrow(path);
  std::string written;
  written.reserve(utf8.size());
  const auto encode = [&written](char byte) {
    char encoded[4];
    std::snprintf(encoded, sizeof encoded, "%%%02X", static_cast<unsigned char>(byte));
    written += encoded;
  };
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      // U+0080 to U+009F: both bytes of the character.
      encode(utf8[i]);
      encode(utf8[++i]);
    } else if (byte < 0x20 || byte == 0x7F || byte == '%' || byte == ';') {
      encode(utf8[i]);
    } else {
      written += utf8[i];
    }
  }
  return written;
}

std::string FormatResultRecord(const LaunchOutcome& outcome, std::string_view timestamp) {
  JsonWriter record = BeginRecord(timestamp);
  record.String("status", outcome.status).String("ip", outcome.ip).String("timezone", outcome.timezone);
  record.String("country_code", outcome.country_code);
  // Coordinates stay text, so readers get exactly the digits the engine got.
  record.String("lat", outcome.lat).String("lng", outcome.lng);
  record.String("lang", outcome.lang).String("accept_lang", outcome.accept_lang);
  record.Integer("elapsed_ms", outcome.elapsed_ms).String("provider", outcome.provider);
  record.String("error_code", outcome.error_code).String("message", outcome.message);
  return EndRecord(record);
}

void WriteResultRecord(const std::wstring& path, const LaunchOutcome& outcome) {
  if (path.empty()) return;
  platform::WriteFileAtomic(path, FormatResultRecord(outcome, UtcTimestamp()));
}

}  // namespace quillwave
