// The launcher as a black box: a real executable beside a stand-in engine
// that records the arguments it received, in a fresh folder per test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/launcher/launcher_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quillwave {
namespace {

class LauncherBlackBox : public LauncherFixture {
 protected:
  LauncherBlackBox() : LauncherFixture(QUILLWAVE_LAUNCHER_PATH) {}
};

TEST_F(LauncherBlackBox, MissingEngineExitsWithOneAndTouchesNoRecord) {
  fs::remove(engine());
  records_are_the_launchers_ = false;
  test::WriteTextFile(profile() / ".corvane-launcher-result.json", "old");
  test::WriteTextFile(profile() / "command-line.json", R"({"close-previous-tabs": true})");
  test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
  const auto result = Run({user_data_arg()});
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(test::ReadTextFile(profile() / ".corvane-launcher-result.json"), "old");
  EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs"));
#ifndef _WIN32
  EXPECT_EQ(result.output, "Engine binary not found:\n" + engine().string() + "\n\nReinstall Quillwave.\n");
#endif
}

TEST_F(LauncherBlackBox, DirectLaunchPassesEverySwitchAsOneArgumentAndRecordsPassthrough) {
  test::WriteTextFile(profile() / "command-line.json", R"({
    "cdp-tcp-port": "9222",
    "webgl-profile": "intel",
    "start-page": "http://127.0.0.1:8080/?q=a b&x=\" --renderer-cmd-prefix=evil \"",
    "chrome-command-line": {"--proxy-server": "socks5://127.0.0.1:1080"}
  })");
  test::WriteTextFile(
      app() / "corvane-webgl-profiles.json",
      R"json({"intel": {"gl-vendor": "Intel Inc.", "gl-renderer": "ANGLE (Intel, HD 620)", "_note": "x"}})json");
  const auto result = Run({user_data_arg(), L"--no-first-run"});
  EXPECT_EQ(result.exit_code, 0);
  std::vector<std::wstring> switches{L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1"};
  for (const auto& s : MachineSwitches()) switches.push_back(s);
  switches.push_back(L"--gl-renderer=ANGLE (Intel, HD 620)");
  switches.push_back(L"--gl-vendor=Intel Inc.");
  switches.push_back(L"http://127.0.0.1:8080/?q=a b&x=\" --renderer-cmd-prefix=evil \"");
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg(), L"--no-first-run"}, switches));
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), kPassthrough);
  // The persona tool's dry run names exactly this start.
  EXPECT_EQ(ToolSwitches({profile().wstring(), L"--", L"--no-first-run"}), EngineArguments());
}

TEST_F(LauncherBlackBox, WithoutPersonaFileTheDefaultsLaunchDirectly) {
  const auto result = Run({});
  EXPECT_EQ(result.exit_code, 0);
  std::vector<std::wstring> switches = MachineSwitches();
  switches.push_back(L"chrome://version");
  EXPECT_EQ(EngineArguments(), Expected({}, switches));
  // Without a user-data directory the record goes to the launcher data
  // folder, which the launcher never creates.
  EXPECT_FALSE(fs::exists(data_folder()));
}

TEST_F(LauncherBlackBox, PersonaIsTakenFromTheLauncherDataFolderWhenTheProfileHasNone) {
  test::WriteTextFile(data_folder() / "command-line.json", R"({"start-page": "about:blank", "device-memory": 1})");
  const std::vector<std::vector<std::wstring>> argument_lists = {
      {user_data_arg()},                             // profile without a persona file
      {L"--user-data-dir="},                         // empty: no profile
      {L"--User-Data-Dir=" + profile().wstring()}};  // other letter case: no profile, but on Windows
  for (const auto& arguments : argument_lists) {
    fs::remove(engine_run());
    const auto result = Run(arguments);
    EXPECT_EQ(result.exit_code, 0);
    const auto received = EngineArguments();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), L"about:blank") << arguments[0];
    EXPECT_EQ(received[received.size() - 2], L"--speech-voices-preset=stock-chrome-windows");
  }
  // The record follows the user-data directory when there is one.
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), kPassthrough);
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(data_folder() / ".corvane-launcher-result.json")), kPassthrough);
}

// The profile is read as the engine reads it: persona, record and reset
// are at the folder the engine opens, and the launcher's switches come
// before the caller's "--", after which the engine would open them as pages.
// The persona tool rehearses a copied command line as it stands.
TEST_F(LauncherBlackBox, PersonaRecordAndResetAreAtTheFolderTheEngineOpens) {
  const fs::path other = dir_.path() / "other";
  test::WriteTextFile(other / "command-line.json", R"({"start-page": "about:other", "device-memory": 1})");
  test::WriteTextFile(other / "Default" / "Cookies", "x");
  test::WriteTextFile(profile() / "command-line.json",
                      R"({"start-page": "about:blank", "granular-storage-reset": {"cookies": true}})");
  const std::wstring p = profile().wstring();
  std::vector<std::vector<std::wstring>> rows = {{L"-user-data-dir=" + p},
                                                 {L"--user-data-dir=" + other.wstring(), L"--user-data-dir=" + p},
                                                 {L"--user-data-dir=" + p, L"--", L"https://example.org"}};
#ifdef _WIN32
  rows.push_back({L"/User-Data-Dir=" + p});
#endif
  for (const auto& own : rows) {
    SCOPED_TRACE(Narrow(own[0]));
    fs::remove(engine_run());
    test::WriteTextFile(profile() / "Default" / "Cookies", "x");
    EXPECT_EQ(Run(own).exit_code, 0);
    const auto end = std::find(own.begin(), own.end(), L"--");
    std::vector<std::wstring> switches = MachineSwitches();
    switches.push_back(L"about:blank");
    switches.insert(switches.end(), end, own.end());
    EXPECT_EQ(EngineArguments(), Expected({own.begin(), end}, switches));
    EXPECT_FALSE(fs::exists(profile() / "Default" / "Cookies"));
    EXPECT_EQ(StripTimestamp(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), kPassthrough);
    std::vector<std::wstring> tool = {other.wstring(), L"--"};
    tool.insert(tool.end(), own.begin(), own.end());
    EXPECT_EQ(ToolSwitches(tool), EngineArguments());
  }
  EXPECT_TRUE(fs::exists(other / "Default" / "Cookies"));
  EXPECT_FALSE(fs::exists(other / ".corvane-launcher-result.json"));
}

TEST_F(LauncherBlackBox, PersonaInTheProfileWinsOverTheLauncherDataFolder) {
  test::WriteTextFile(data_folder() / "command-line.json", R"({"start-page": "about:data"})");
  test::WriteTextFile(profile() / "command-line.json", R"({"start-page": "about:profile"})");
  EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
  const auto received = EngineArguments();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), L"about:profile");
}

TEST_F(LauncherBlackBox, HousekeepingClearsTabsAndSelectedStorageBeforeTheStart) {
  test::WriteTextFile(
      profile() / "command-line.json",
      R"({"start-page": "about:blank", "granular-storage-reset": {"cache_storage": true, "shader_cache": true}})");
  const fs::path p = profile() / "Default";
  for (const char* name : {"Current Tabs", "Current Session", "Last Tabs", "Last Session", "Sessions/Session_1",
                           "Service Worker/CacheStorage/c/0", "Service Worker/ScriptCache/s", "GPUCache/data_0",
                           "Cookies", "Local Storage/leveldb/000003.log"}) {
    test::WriteTextFile(p / name, "x");
  }
  test::WriteTextFile(profile() / "ShaderCache" / "data_0", "x");
  test::WriteTextFile(profile() / "GraphiteDawnCache" / "data_0", "x");
#ifndef _WIN32
  // A link inside a deleted folder goes; what it points to stays.
  test::WriteTextFile(dir_.path() / "outside" / "keep.txt", "keep");
  fs::create_directory_symlink(dir_.path() / "outside", p / "Sessions" / "link");
#endif
  EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
  EngineArguments();
  for (const char* gone : {"Current Tabs", "Current Session", "Last Tabs", "Last Session", "Sessions",
                           "Service Worker/CacheStorage", "GPUCache"}) {
    EXPECT_FALSE(fs::exists(p / gone)) << gone;
  }
  EXPECT_FALSE(fs::exists(profile() / "ShaderCache"));
  EXPECT_FALSE(fs::exists(profile() / "GraphiteDawnCache"));
  for (const char* kept : {"Service Worker/ScriptCache/s", "Cookies", "Local Storage/leveldb/000003.log"}) {
    EXPECT_TRUE(fs::exists(p / kept)) << kept;
  }
#ifndef _WIN32
  EXPECT_EQ(test::ReadTextFile(dir_.path() / "outside" / "keep.txt"), "keep");
#endif
}

TEST_F(LauncherBlackBox, ResetOfAllRemovesEveryCategory) {
  test::WriteTextFile(profile() / "command-line.json", R"({"granular-storage-reset": {"all": true}})");
  const fs::path p = profile() / "Default";
  const char* targets[] = {"Cookies",
                           "Cookies-journal",
                           "Network/Cookies",
                           "Network/Cookies-journal",
                           "File System/0",
                           "IndexedDB/x",
                           "Local Storage/x",
                           "GPUCache/x",
                           "databases/x",
                           "Service Worker/x",
                           "InterestGroups/x",
                           "Shared Storage",
                           "Shared Storage-journal",
                           "StorageBuckets/x",
                           "Current Tabs"};
  for (const char* name : targets) test::WriteTextFile(p / name, "x");
  EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
  EngineArguments();
  for (const char* name : {"Cookies", "Cookies-journal", "Network/Cookies", "Network/Cookies-journal", "File System",
                           "IndexedDB", "Local Storage", "GPUCache", "databases", "Service Worker", "Shared Storage",
                           "Shared Storage-journal", "StorageBuckets"}) {
    EXPECT_FALSE(fs::exists(p / name)) << name;
  }
  // The tabs stay: this persona did not ask to close them.
  EXPECT_TRUE(fs::exists(p / "Current Tabs"));
}

// Asked to run without its window, the launcher still looks the egress up
// (here through a proxy nobody serves, so the persona's fallback applies)
// and gives the engine everything else the persona implies.
TEST_F(LauncherBlackBox, PersonaNeedingDiscoveryLooksItUpWithoutAWindowWhenAskedTo) {
  test::WriteTextFile(profile() / "command-line.json",
                      R"({"auto-timezone": true, "webrtc-no-leak": true, "on-proxy-fail": "fallback",
                          "proxy-server": "socks5://127.0.0.1:1", "cdp-tcp-port": "9222", "webgl-profile": "intel",
                          "close-previous-tabs": 1})");
  test::WriteTextFile(app() / "corvane-webgl-profiles.json", R"({"intel": {"gl-vendor": "Intel"}})");
  test::WriteTextFile(profile() / "Default" / "Last Tabs", "x");
  EXPECT_EQ(Run({user_data_arg()}, {{L"QUILLWAVE_PROGRESS_WINDOW", L"none"}, {L"DISPLAY", L""}}).exit_code, 0);
  std::vector<std::wstring> switches = {L"--gl-vendor=Intel", L"--force-webrtc-ip-handling-policy=default"};
  for (const auto& s : MachineSwitches()) switches.push_back(s);
  switches.insert(switches.end(),
                  {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1", L"chrome://version"});
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  EXPECT_EQ(
      StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
      std::regex_replace(RecordWith("ok", "",
                                    "no progress window (QUILLWAVE_PROGRESS_WINDOW=none); discovery ran "
                                    "without it"),
                         std::regex("\"elapsed_ms\":0,\"provider\":\"\""), "\"elapsed_ms\":MS,\"provider\":\"scnd\""));
  EXPECT_TRUE(fs::exists(profile() / ".corvane-launcher-error.json"));
  EXPECT_FALSE(fs::exists(profile() / "Default" / "Last Tabs"));
}

TEST_F(LauncherBlackBox, EngineThatCannotStartIsAFailureNotASuccess) {
  fs::remove(engine());
  test::WriteTextFile(engine(), "not a program");
#ifndef _WIN32
  fs::permissions(engine(), fs::perms::owner_read | fs::perms::owner_write);
#endif
  const auto result = Run({user_data_arg()});
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 1);
  // The record written before the attempt stays.
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), kPassthrough);
#ifndef _WIN32
  EXPECT_EQ(result.output.rfind("Engine could not be started:\n" + engine().string() + "\n\n", 0), 0u) << result.output;
  EXPECT_GT(result.output.size(), ("Engine could not be started:\n" + engine().string() + "\n\n\n").size());
#endif
}

}  // namespace
}  // namespace quillwave
