#include "report/result_record.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <stdlib.h>
#endif

namespace quillwave {
namespace {

constexpr char kTs[] = "2026-01-05T03:04:05Z";

TEST(FormatResultRecordTest, PassthroughHasAllFifteenMembersEmpty) {
  const DiscoveryResult nothing;
  EXPECT_EQ(FormatResultRecord("passthrough", 0, "", "", nothing, kTs),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"status\":\"passthrough\",\"ip\":\"\",\"timezone\":\"\","
            "\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":0,"
            "\"provider\":\"\",\"error_code\":\"\",\"message\":\"\",\"launcher_version\":\"0.32.0\"}\n");
}

TEST(FormatResultRecordTest, DegradedCarriesDialogFailure) {
  const DiscoveryResult nothing;
  EXPECT_EQ(FormatResultRecord("degraded", 0, "DIALOG_INIT_FAILED",
                               "CreateProgressDialog returned null; spawned engine without discovery", nothing, kTs),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"status\":\"degraded\",\"ip\":\"\",\"timezone\":\"\","
            "\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":0,"
            "\"provider\":\"\",\"error_code\":\"DIALOG_INIT_FAILED\","
            "\"message\":\"CreateProgressDialog returned null; spawned engine without discovery\","
            "\"launcher_version\":\"0.32.0\"}\n");
}

TEST(FormatResultRecordTest, OkRecordWritesCoordinatesAsTextAndNonAsciiAsUtf8) {
  DiscoveryResult found;
  found.egress_ip = "203.0.113.7";
  found.timezone = "America/S\xC3\xA3o_Paulo";
  found.country_code = "BR";
  found.provider = "geo.primary.example";
  found.geo_lat = L"-23.5475";
  found.geo_lng = L"-46.6361";
  found.lang = L"\u65e5\U0001F600";  // BMP and non-BMP (a surrogate pair on Windows)
  found.accept_language = L"pt-BR,pt;q=0.9";
  found.webrtc_public_ip = L"203.0.113.7";  // not part of the record
  EXPECT_EQ(FormatResultRecord("ok", 1234, "", "", found, kTs),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"status\":\"ok\",\"ip\":\"203.0.113.7\","
            "\"timezone\":\"America/S\xC3\xA3o_Paulo\",\"country_code\":\"BR\",\"lat\":\"-23.5475\","
            "\"lng\":\"-46.6361\",\"lang\":\"\xE6\x97\xA5\xF0\x9F\x98\x80\",\"accept_lang\":\"pt-BR,pt;q=0.9\","
            "\"elapsed_ms\":1234,\"provider\":\"geo.primary.example\",\"error_code\":\"\",\"message\":\"\","
            "\"launcher_version\":\"0.32.0\"}\n");
}

TEST(FormatResultRecordTest, ValuesAreEscapedAndNegativeTimeKeepsItsSign) {
  DiscoveryResult failed;
  failed.timezone = "Europe/\"Berlin\"";
  failed.provider = "scnd";
  failed.country_code = "D\xC3";  // cut character from an answer
  EXPECT_EQ(FormatResultRecord("blocked", -5, "PROXY_BLOCKED", "line\nbreak\\", failed, kTs),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"status\":\"blocked\",\"ip\":\"\","
            "\"timezone\":\"Europe/\\\"Berlin\\\"\",\"country_code\":\"D\\ufffd\",\"lat\":\"\",\"lng\":\"\","
            "\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":-5,\"provider\":\"scnd\","
            "\"error_code\":\"PROXY_BLOCKED\",\"message\":\"line\\nbreak\\\\\",\"launcher_version\":\"0.32.0\"}\n");
}

TEST(RecordPathForTest, UserDataDirWinsThenLauncherDataFolderThenNothing) {
  const std::wstring sep(1, platform::kPathSeparator);
  const std::wstring name = L".corvane-launcher-result.json";
  struct Case {
    std::wstring user_data_dir, local_app_data, expected;
  };
  const Case cases[] = {
      {L"p", L"L", L"p" + sep + name},
      {L"p" + sep, L"L", L"p" + sep + sep + name},  // separator added even after a trailing one
      {L"", L"L", L"L" + sep + L"Corvane" + sep + name},
      {L"", L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(RecordPathFor(c.user_data_dir, c.local_app_data, name), c.expected);
}

#ifndef _WIN32
// Without "--user-data-dir=" the record goes to the launcher data folder; on
// Linux that folder lies under XDG_DATA_HOME, which the test can point away.
TEST(WriteResultRecordTest, WritesSharedDiscoveryResultIntoLauncherDataFolder) {
  test::ScopedTempDir dir;
  std::filesystem::create_directory(dir.path() / "Corvane");
  ASSERT_EQ(::setenv("XDG_DATA_HOME", dir.path().c_str(), 1), 0);
  SharedDiscoveryResult().provider = "scnd";
  WriteResultRecord("ok", 42, "", "msg");
  SharedDiscoveryResult().provider.clear();
  ::unsetenv("XDG_DATA_HOME");

  std::string record = test::ReadTextFile(dir.path() / "Corvane" / ".corvane-launcher-result.json");
  const std::string prefix = "{\"schema\":1,\"ts\":\"";
  ASSERT_EQ(record.compare(0, prefix.size(), prefix), 0) << record;
  record.replace(prefix.size(), 20, kTs);
  DiscoveryResult expected;
  expected.provider = "scnd";
  EXPECT_EQ(record, FormatResultRecord("ok", 42, "", "msg", expected, kTs));
}
#endif

}  // namespace
}  // namespace quillwave
