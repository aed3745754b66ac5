#include "report/error_record.h"

#include <gtest/gtest.h>

#include "base/version.h"

namespace quillwave {
namespace {

TEST(ErrorRecord, HasEveryMemberInOrderWhenAllAreSet) {
  ErrorReport report;
  report.step = "discover_proxy_ip";
  report.error_code = "PROXY_TIMEOUT";
  report.message = "curl exit 28 against http://192.0.2.10:65333/geo via socks5://u:p@127.0.0.1:1080 after 10012 ms";
  report.proxy = "socks5://u:p@127.0.0.1:1080";
  report.discovery_url = "https://geoip.secondary.example/geoip?format=json";
  report.curl_exit_code = 28;
  report.elapsed_ms = 20031;
  EXPECT_EQ(FormatErrorRecord(report, "2026-01-05T03:04:05Z"),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"step\":\"discover_proxy_ip\",\"error_code\":"
            "\"PROXY_TIMEOUT\",\"message\":\"curl exit 28 against http://192.0.2.10:65333/geo via "
            "socks5://u:p@127.0.0.1:1080 after 10012 ms\",\"proxy\":\"socks5://u:p@127.0.0.1:1080\","
            "\"discovery_url\":\"https://geoip.secondary.example/geoip?format=json\",\"curl_exit_code\":28,"
            "\"elapsed_ms\":20031,\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
}

TEST(ErrorRecord, LeavesOutAbsentMembersAndEscapesTheMessage) {
  ErrorReport report;
  report.error_code = "INTERNAL";
  report.message = "head: \"a\\b\nc\" \xE2\x80";  // cut before the last byte of a character
  EXPECT_EQ(FormatErrorRecord(report, "T"),
            "{\"schema\":1,\"ts\":\"T\",\"step\":\"\",\"error_code\":\"INTERNAL\",\"message\":"
            "\"head: \\\"a\\\\b\\nc\\\" \\ufffd\",\"elapsed_ms\":0,\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  report.curl_exit_code = 0;
  report.elapsed_ms = -5;
  EXPECT_NE(FormatErrorRecord(report, "T").find(",\"curl_exit_code\":0,\"elapsed_ms\":-5,"), std::string::npos);
}

}  // namespace
}  // namespace quillwave
