// The run sequence in-process: every end of a launch over the null window,
// a scripted probe and an engine start that only records what it was given.
#include "launcher/run_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "platform/paths.h"
#include "tests/support/profile_holder.h"
#include "tests/support/temp_dir.h"
#include "ui/null_progress_window.h"

namespace quillwave {
namespace {

namespace fs = std::filesystem;

struct End {
  const char* name;
  std::string persona;
  bool engine_present = true;
  NullWindowScript window;
  std::optional<ProbeOutcome> probe;  // nothing: the probe must not run
  bool engine_starts = true;
  int exit_code = 0;
  std::wstring engine_gets;  // the last argument; empty: no start
  std::string status;        // of the result record; empty: none written
  std::wstring error;        // the start of what the person is shown
  bool engine_runs = false;  // an engine already holds the profile
};

ProbeOutcome Found() {
  ProbeOutcome outcome;
  outcome.ip = "203.0.113.9";
  outcome.timezone = "Europe/Berlin";
  return outcome;
}

ProbeOutcome Unreachable() {
  ProbeOutcome outcome;
  outcome.error_code = "PROXY_UNREACHABLE";
  return outcome;
}

constexpr char kDiscovers[] = R"({"auto-timezone": true, "proxy-server": "socks5://127.0.0.1:1"})";

// ASCII text as Windows Notepad saves "Unicode": UTF-16 after a byte-order mark.
std::string Utf16(std::string_view ascii, bool little_endian) {
  std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char c : ascii) bytes += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
  return bytes;
}
constexpr char kResetsAll[] = R"({"start-page": "about:blank", "granular-storage-reset": {"all": true}})";
constexpr char kDiscoversAndResets[] = R"({"auto-timezone": true, "granular-storage-reset": {"all": true}})";

TEST(RunLauncher, TakesEachEndWithItsExitCodeRecordAndEngineStart) {
  const End ends[] = {
      {"engine missing", "{}", false, {}, {}, true, 1, L"", "", L"Quillwave\nEngine binary not found:\n"},
      {"direct", R"({"start-page": "about:blank"})", true, {}, {}, true, 0, L"about:blank", "passthrough", L""},
      {"degraded", kDiscovers, true, {false, false}, {}, true, 0, L"chrome://version", "degraded", L""},
      {"cancelled", kDiscovers, true, {true, true}, Found(), true, 0, L"", "", L""},
      {"blocked", kDiscovers, true, {}, Unreachable(), true, 42, L"", "blocked", L""},
      {"ok", kDiscovers, true, {}, Found(), true, 0, L"chrome://version", "ok", L""},
      {"ok, UTF-16 LE", Utf16(kDiscovers, true), true, {}, Found(), true, 0, L"chrome://version", "ok", L""},
      {"ok, UTF-16 BE", Utf16(kDiscovers, false), true, {}, Found(), true, 0, L"chrome://version", "ok", L""},
      // clang-format off
      {"engine cannot start", "{}", true, {}, {}, false, 1, L"chrome://version", "passthrough",
       L"Quillwave\nEngine could not be started:\n"},
      // clang-format on
      {"profile in use", kResetsAll, true, {}, {}, true, 0, L"about:blank", "passthrough", L"", true},
      {"profile in use, degraded",
       kDiscoversAndResets,
       true,
       {false, false},
       {},
       true,
       0,
       L"chrome://version",
       "degraded",
       L"",
       true},
  };
  for (const End& end : ends) {
    SCOPED_TRACE(end.name);
    test::ScopedTempDir dir;
    const fs::path app = dir.path() / "app", profile = dir.path() / "profile";
    fs::create_directories(app);
    if (end.engine_present) test::WriteTextFile(app / fs::path(platform::kEngineFileName), "engine");
    test::WriteTextFile(profile / "command-line.json", end.persona);
    test::WriteTextFile(profile / "Default" / "Cookies", "kept while an engine runs");
    std::optional<test::ProfileHolder> engine;
    if (end.engine_runs) engine.emplace(profile);

    auto log = std::make_shared<NullWindowLog>();
    std::vector<platform::ProcessLaunch> starts;
    LaunchEnvironment environment;
    environment.launcher_dir = app.wstring();
    environment.window = NullProgressWindow(end.window, log);
    environment.probe = [&end](const std::string&, const std::string&) {
      EXPECT_TRUE(end.probe.has_value()) << "the probe ran";
      return end.probe.value_or(ProbeOutcome{});
    };
    environment.pause = [](std::chrono::milliseconds) {};
    environment.start = [&](const platform::ProcessLaunch& launch) {
      starts.push_back(launch);
      return platform::SpawnResult{end.engine_starts, end.engine_starts ? L"" : L"not a program"};
    };
    const std::wstring user_data = L"--user-data-dir=" + profile.wstring();

    EXPECT_EQ(RunLauncher({user_data, {user_data}}, environment), end.exit_code);

    ASSERT_EQ(starts.size(), end.engine_gets.empty() ? 0u : 1u);
    if (!starts.empty()) {
      EXPECT_EQ(starts[0].program, (app / fs::path(platform::kEngineFileName)).wstring());
      EXPECT_EQ(starts[0].arguments.back().text, end.engine_gets);
      EXPECT_EQ(starts[0].own_arguments.list, std::vector<std::wstring>{user_data});
      const bool discovered = std::any_of(starts[0].arguments.begin(), starts[0].arguments.end(),
                                          [](const auto& a) { return a.text == L"--timezone-override=Europe/Berlin"; });
      EXPECT_EQ(discovered, end.status == "ok");
    }
    const fs::path record = profile / ".corvane-launcher-result.json";
    EXPECT_EQ(fs::exists(record), !end.status.empty());
    if (!end.status.empty()) {
      EXPECT_NE(test::ReadTextFile(record).find("\"status\":\"" + end.status + "\""), std::string::npos);
    }
    if (end.engine_runs) {
      EXPECT_TRUE(fs::exists(profile / "Default" / "Cookies"));
      EXPECT_NE(test::ReadTextFile(record).find("profile in use; housekeeping skipped\""), std::string::npos);
    }
    ASSERT_EQ(log->errors.size(), end.error.empty() ? 0u : 1u);
    if (!end.error.empty()) {
      EXPECT_EQ(log->errors[0].rfind(end.error, 0), 0u) << Narrow(log->errors[0]);
    }
  }
}

}  // namespace
}  // namespace quillwave
