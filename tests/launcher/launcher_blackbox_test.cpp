// The launcher as a black box: a real executable beside a stand-in engine
// that records the arguments it received, in a fresh folder per test.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "launcher/engine_switches.h"
#include "platform/paths.h"
#include "report/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quillwave {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr char kExe[] = ".exe";
#else
constexpr char kExe[] = "";
#endif

fs::path BuiltFile(const char* path) {
  std::string text = path;
#ifdef _WIN32
  if (!text.empty() && text[0] == '/') text = "Z:" + text;  // Wine maps the Unix root to Z:
#endif
  return fs::path(text);
}

const std::vector<std::wstring> kFixed = {
    L"--hide-crash-restore-bubble",
    L"--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
    L"--disable-save-password-bubble"};

std::string StripTimestamp(const std::string& record) {
  return std::regex_replace(record, std::regex("\"ts\":\"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\""), "\"ts\":\"TS\"");
}

std::string RecordWith(const std::string& status, const std::string& code, const std::string& message) {
  return "{\"schema\":1,\"ts\":\"TS\",\"status\":\"" + status +
         "\",\"ip\":\"\",\"timezone\":\"\",\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\","
         "\"accept_lang\":\"\",\"elapsed_ms\":0,\"provider\":\"\",\"error_code\":\"" +
         code + "\",\"message\":\"" + message + "\",\"launcher_version\":\"0.32.0\"}\n";
}

const std::string kPassthrough = RecordWith("passthrough", "", "");
const std::string kDegraded =
    RecordWith("degraded", "DIALOG_INIT_FAILED", "CreateProgressDialog returned null; spawned engine without discovery");

class LauncherBlackBox : public ::testing::Test {
 protected:
  LauncherBlackBox() {
    fs::create_directories(app());
    fs::create_directories(profile());
    fs::copy_file(BuiltFile(QUILLWAVE_LAUNCHER_PATH), launcher());
    fs::copy_file(BuiltFile(QUILLWAVE_STANDIN_ENGINE_PATH), engine());
#ifdef _WIN32
    // Windows has no per-process override of the local application-data
    // folder: a person's own launcher data is set aside for the test.
    if (fs::exists(data_folder())) fs::rename(data_folder(), data_backup());
#endif
  }
#ifdef _WIN32
  ~LauncherBlackBox() override {
    std::error_code ignored;
    fs::remove_all(data_folder(), ignored);
    if (fs::exists(data_backup(), ignored)) fs::rename(data_backup(), data_folder(), ignored);
  }
  fs::path data_backup() const { return data_folder().parent_path() / "Corvane.quillwave-test-backup"; }
#endif

  fs::path app() const { return dir_.path() / "app dir"; }
  fs::path profile() const { return dir_.path() / "profile"; }
  fs::path launcher() const { return app() / (std::string("quillwave-launcher") + kExe); }
  fs::path engine() const { return app() / (std::string("quillwave-engine") + kExe); }
  fs::path engine_run() const { return app() / "engine-run.txt"; }
  // The launcher data folder the child sees (on Linux redirected into the
  // test folder through XDG_DATA_HOME).
  fs::path data_folder() const {
#ifdef _WIN32
    return fs::path(platform::LocalAppDataFolder()) / "Corvane";
#else
    return dir_.path() / "xdg" / "Corvane";
#endif
  }
  std::wstring user_data_arg() const { return L"--user-data-dir=" + profile().wstring(); }

  test::ChildResult Run(const std::vector<std::wstring>& arguments) {
    test::ChildOptions options;
    options.timeout = 60s;
#ifndef _WIN32
    options.environment = {{L"XDG_DATA_HOME", (dir_.path() / "xdg").wstring()}, {L"HOME", dir_.wpath()}};
#endif
    return test::RunChild(launcher(), arguments, options);
  }

  // The arguments the engine received, program path first.
  std::vector<std::wstring> EngineArguments() {
    EXPECT_TRUE(test::WaitForFile(engine_run(), 30s)) << "the engine never ran";
    std::vector<std::wstring> arguments;
    if (!fs::exists(engine_run())) return arguments;
    const std::string record = test::ReadTextFile(engine_run());
    std::size_t start = 0;
    for (std::size_t end; (end = record.find('\0', start)) != std::string::npos; start = end + 1) {
      arguments.push_back(Widen(record.substr(start, end - start)));
    }
    return arguments;
  }

  std::vector<std::wstring> Expected(const std::vector<std::wstring>& own, const std::vector<std::wstring>& switches) {
    std::vector<std::wstring> expected{engine().wstring()};
    expected.insert(expected.end(), kFixed.begin(), kFixed.end());
    expected.insert(expected.end(), own.begin(), own.end());
    expected.insert(expected.end(), switches.begin(), switches.end());
    return expected;
  }

  std::vector<std::wstring> MachineSwitches() {
    std::vector<std::wstring> switches;
    if (const auto memory = DeviceMemoryValue(); !memory.empty()) switches.push_back(L"--device-memory=" + memory);
    if (const auto cpus = HardwareConcurrencyValue(); !cpus.empty()) switches.push_back(L"--hardware-concurrency=" + cpus);
    switches.push_back(L"--speech-voices-preset=stock-chrome-windows");
    return switches;
  }

  test::ScopedTempDir dir_;
};

TEST_F(LauncherBlackBox, MissingEngineExitsWithOneAndTouchesNoRecord) {
  fs::remove(engine());
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
  test::WriteTextFile(app() / "corvane-webgl-profiles.json",
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
      {user_data_arg()},                              // profile without a persona file
      {L"--user-data-dir="},                          // empty: ignored
      {L"--User-Data-Dir=" + profile().wstring()}};   // other letter case: ignored
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

TEST_F(LauncherBlackBox, PersonaInTheProfileWinsOverTheLauncherDataFolder) {
  test::WriteTextFile(data_folder() / "command-line.json", R"({"start-page": "about:data"})");
  test::WriteTextFile(profile() / "command-line.json", R"({"start-page": "about:profile"})");
  EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
  const auto received = EngineArguments();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), L"about:profile");
}

TEST_F(LauncherBlackBox, HousekeepingClearsTabsAndSelectedStorageBeforeTheStart) {
  test::WriteTextFile(profile() / "command-line.json",
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
  const char* targets[] = {"Cookies", "Cookies-journal", "Network/Cookies", "Network/Cookies-journal",
                           "File System/0", "IndexedDB/x", "Local Storage/x", "GPUCache/x", "databases/x",
                           "Service Worker/x", "InterestGroups/x", "Shared Storage", "Shared Storage-journal",
                           "StorageBuckets/x", "Current Tabs"};
  for (const char* name : targets) test::WriteTextFile(p / name, "x");
  EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
  EngineArguments();
  for (const char* name : {"Cookies", "Cookies-journal", "Network/Cookies", "Network/Cookies-journal", "File System",
                           "IndexedDB", "Local Storage", "GPUCache", "databases", "Service Worker",
                           "Shared Storage", "Shared Storage-journal", "StorageBuckets"}) {
    EXPECT_FALSE(fs::exists(p / name)) << name;
  }
  // The tabs stay: this persona did not ask to close them.
  EXPECT_TRUE(fs::exists(p / "Current Tabs"));
}

TEST_F(LauncherBlackBox, PersonaNeedingDiscoveryTakesTheDegradedLaunch) {
  test::WriteTextFile(profile() / "command-line.json",
                      R"({"auto-timezone": true, "cdp-tcp-port": "9222", "webgl-profile": "intel", "close-previous-tabs": 1})");
  test::WriteTextFile(app() / "corvane-webgl-profiles.json", R"({"intel": {"gl-vendor": "Intel"}})");
  test::WriteTextFile(profile() / "Default" / "Last Tabs", "x");
  EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
  std::vector<std::wstring> switches = MachineSwitches();
  switches.push_back(L"chrome://version");
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), kDegraded);
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
