#include "report/result_record.h"

#include <gtest/gtest.h>

#include <string>

#include "base/version.h"
#include "platform/files.h"
#include "report/record_files.h"
#include "tests/support/temp_dir.h"

namespace quillwave {
namespace {

constexpr char kTs[] = "2026-01-05T03:04:05Z";
const std::string kVersion = std::string("\"launcher_version\":\"") + kLauncherVersion + "\"}\n";

TEST(FormatResultRecordTest, PassthroughHasAllFifteenMembersEmpty) {
  EXPECT_EQ(FormatResultRecord(LaunchOutcome{"passthrough", 0, "", ""}, kTs),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"status\":\"passthrough\",\"ip\":\"\",\"timezone\":\"\","
            "\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":0,"
            "\"provider\":\"\",\"error_code\":\"\",\"message\":\"\"," +
                kVersion);
}

TEST(FormatResultRecordTest, DegradedCarriesDialogFailure) {
  EXPECT_EQ(FormatResultRecord(LaunchOutcome{"degraded", 0, "DIALOG_INIT_FAILED",
                                             "CreateProgressDialog returned null; spawned engine without discovery"},
                               kTs),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"status\":\"degraded\",\"ip\":\"\",\"timezone\":\"\","
            "\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":0,"
            "\"provider\":\"\",\"error_code\":\"DIALOG_INIT_FAILED\","
            "\"message\":\"CreateProgressDialog returned null; spawned engine without discovery\"," +
                kVersion);
}

TEST(FormatResultRecordTest, OkRecordWritesCoordinatesAsTextAndNonAsciiAsUtf8) {
  LaunchOutcome found{"ok", 1234, "", ""};
  found.ip = "203.0.113.7";
  found.timezone = "America/S\xC3\xA3o_Paulo";
  found.country_code = "BR";
  found.provider = "geo.primary.example";
  found.lat = "-23.5475";
  found.lng = "-46.6361";
  found.lang = "\xE6\x97\xA5\xF0\x9F\x98\x80";
  found.accept_lang = "pt-BR,pt;q=0.9";
  EXPECT_EQ(FormatResultRecord(found, kTs),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"status\":\"ok\",\"ip\":\"203.0.113.7\","
            "\"timezone\":\"America/S\xC3\xA3o_Paulo\",\"country_code\":\"BR\",\"lat\":\"-23.5475\","
            "\"lng\":\"-46.6361\",\"lang\":\"\xE6\x97\xA5\xF0\x9F\x98\x80\",\"accept_lang\":\"pt-BR,pt;q=0.9\","
            "\"elapsed_ms\":1234,\"provider\":\"geo.primary.example\",\"error_code\":\"\",\"message\":\"\"," +
                kVersion);
}

TEST(FormatResultRecordTest, ValuesAreEscapedAndNegativeTimeKeepsItsSign) {
  LaunchOutcome failed{"blocked", -5, "PROXY_BLOCKED", "line\nbreak\\"};
  failed.timezone = "Europe/\"Berlin\"";
  failed.provider = "scnd";
  failed.country_code = "D\xC3";  // cut character from an answer
  EXPECT_EQ(FormatResultRecord(failed, kTs),
            "{\"schema\":1,\"ts\":\"2026-01-05T03:04:05Z\",\"status\":\"blocked\",\"ip\":\"\","
            "\"timezone\":\"Europe/\\\"Berlin\\\"\",\"country_code\":\"D\\ufffd\",\"lat\":\"\",\"lng\":\"\","
            "\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":-5,\"provider\":\"scnd\","
            "\"error_code\":\"PROXY_BLOCKED\",\"message\":\"line\\nbreak\\\\\"," +
                kVersion);
}

TEST(PathInNoteTest, EncodesPercentSemicolonAndEveryControlCharacterOnly) {
  EXPECT_EQ(PathInNote(L"Default/a%b; c\td\r\n\x7F\x85\x9F\xA0\u00e9/\U0001F600"),
            "Default/a%25b%3B c%09d%0D%0A%7F%C2%85%C2%9F\xC2\xA0\xC3\xA9/\xF0\x9F\x98\x80");
  EXPECT_EQ(PathInNote(L"a\x85"), "a%C2%85");  // a control character at the very end
}

TEST(RecordPathForTest, UserDataDirWinsThenLauncherDataFolderThenNothing) {
  const std::wstring sep(1, platform::kPathSeparator);
  const std::wstring name = L".corvane-launcher-result.json";
  struct Case {
    std::wstring user_data_dir, data_folder, expected;
  };
  const Case cases[] = {
      {L"p", L"D" + sep, L"p" + sep + name},
      {L"p" + sep, L"D" + sep, L"p" + sep + sep + name},  // separator added even after a trailing one
      {L"", L"D" + sep, L"D" + sep + name},
      {L"", L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(RecordPathFor(c.user_data_dir, c.data_folder, name), c.expected);
}

TEST(WriteResultRecordTest, WritesTheRecordAtThePathAndNothingWithoutOne) {
  test::ScopedTempDir dir;
  LaunchOutcome outcome{"ok", 42, "", "msg"};
  outcome.provider = "scnd";
  WriteResultRecord(L"", outcome);  // no path: nothing, and no crash
  const std::filesystem::path path = dir.path() / ".corvane-launcher-result.json";
  WriteResultRecord(path.wstring(), outcome);
  std::string record = test::ReadTextFile(path);
  const std::string prefix = "{\"schema\":1,\"ts\":\"";
  ASSERT_EQ(record.compare(0, prefix.size(), prefix), 0) << record;
  record.replace(prefix.size(), 20, kTs);
  EXPECT_EQ(record, FormatResultRecord(outcome, kTs));
}

}  // namespace
}  // namespace quillwave
