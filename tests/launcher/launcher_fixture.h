// A fresh folder with a copy of a launcher and the stand-in engine beside
// it, and the means to run it as a person would and read what happened.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "base/json_readers.h"
#include "base/version.h"
#include "launcher/engine_switches.h"
#include "platform/child_output.h"
#include "platform/encoding.h"
#include "platform/paths.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace quillwave {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#ifdef _WIN32
inline constexpr char kExe[] = ".exe";
#else
inline constexpr char kExe[] = "";
#endif

inline fs::path BuiltFile(const char* path) {
  std::string text = path;
#ifdef _WIN32
  if (!text.empty() && text[0] == '/') text = "Z:" + text;  // Wine maps the Unix root to Z:
#endif
  return fs::path(text);
}

inline const std::vector<std::wstring> kFixed = {
    L"--hide-crash-restore-bubble", L"--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
    L"--disable-save-password-bubble"};

// An endpoint answer and the switches a discovery launch derives from it.
inline const std::string kBerlinAnswer =
    R"({"ip": "203.0.113.9", "country": "DE", "timezone": "Europe/Berlin", "latitude": 52.52, "longitude": 13.405})";
inline const std::vector<std::wstring> kBerlinSwitches = {L"--webrtc-fake-public-ip=203.0.113.9",
                                                          L"--force-webrtc-ip-handling-policy=default",
                                                          L"--timezone-override=Europe/Berlin",
                                                          L"--lang=de-DE",
                                                          L"--accept-language=de-DE,de;q=0.9,en;q=0.8",
                                                          L"--geo-lat=52.52",
                                                          L"--geo-lng=13.405",
                                                          L"--geo-accuracy=100"};

inline std::string StripTimestamp(const std::string& record) {
  return std::regex_replace(record, std::regex("\"ts\":\"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\""),
                            "\"ts\":\"TS\"");
}

// Discovery time varies from run to run; everything else is compared exactly.
inline std::string StripElapsed(const std::string& record) {
  return std::regex_replace(StripTimestamp(record), std::regex("\"elapsed_ms\":[0-9]+"), "\"elapsed_ms\":MS");
}

inline std::string RecordWith(const std::string& status, const std::string& code, const std::string& message) {
  return "{\"schema\":1,\"ts\":\"TS\",\"status\":\"" + status +
         "\",\"ip\":\"\",\"timezone\":\"\",\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\","
         "\"accept_lang\":\"\",\"elapsed_ms\":0,\"provider\":\"\",\"error_code\":\"" +
         code + "\",\"message\":\"" + message + "\",\"launcher_version\":\"" + std::string(kLauncherVersion) + "\"}\n";
}

inline const std::string kPassthrough = RecordWith("passthrough", "", "");

class LauncherFixture : public ::testing::Test {
 protected:
  explicit LauncherFixture(const char* launcher_path) {
    fs::create_directories(app());
    fs::create_directories(profile());
    fs::copy_file(BuiltFile(launcher_path), launcher());
    fs::copy_file(BuiltFile(QUILLWAVE_STANDIN_ENGINE_PATH), engine());
#ifdef _WIN32
    // Windows has no per-process override of the local application-data
    // folder: a person's own launcher data is set aside for the test.
    if (fs::exists(data_folder())) fs::rename(data_folder(), data_backup());
#endif
  }
#ifdef _WIN32
  ~LauncherFixture() override {
    std::error_code ignored;
    fs::remove_all(data_folder(), ignored);
    if (fs::exists(data_backup(), ignored)) fs::rename(data_backup(), data_folder(), ignored);
  }
  fs::path data_backup() const { return data_folder().parent_path() / "Corvane.quillwave-test-backup"; }
#endif

#ifdef QUILLWAVE_RECORDS_DIR
  // The records the launch left, kept under the test's name for the schema
  // check of the records (tests/schemas).
  void TearDown() override {
    if (!records_are_the_launchers_) return;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    KeepRecords(profile(), name);
    KeepRecords(data_folder(), name + ".data");
  }

  static void KeepRecords(const fs::path& folder, const std::string& name) {
    for (const std::string kind : {"result", "error"}) {
      const fs::path record = folder / (".corvane-launcher-" + kind + ".json");
      std::error_code ignored;
      if (!fs::is_regular_file(record, ignored)) continue;
      fs::create_directories(QUILLWAVE_RECORDS_DIR, ignored);
      fs::copy_file(record, fs::path(QUILLWAVE_RECORDS_DIR) / (name + "." + kind + ".json"),
                    fs::copy_options::overwrite_existing, ignored);
    }
  }
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

  // Without a display unless the test gives one: no window or dialog may
  // wait for a person that is not there.
  test::ChildResult Run(const std::vector<std::wstring>& arguments,
                        std::vector<std::pair<std::wstring, std::wstring>> environment = {{L"DISPLAY", L""}},
                        std::chrono::milliseconds timeout = 60s) {
    test::ChildOptions options;
    options.timeout = timeout;
    options.environment = std::move(environment);
#ifndef _WIN32
    options.environment.push_back({L"XDG_DATA_HOME", (dir_.path() / "xdg").wstring()});
    options.environment.push_back({L"HOME", dir_.wpath()});
    options.environment.push_back({L"WAYLAND_DISPLAY", L""});
#endif
    return test::RunChild(launcher(), arguments, options);
  }

  // The arguments the engine received, program path first.
  std::vector<std::wstring> EngineArguments() {
    EXPECT_TRUE(test::WaitForFile(engine_run(), 30s)) << "the engine never ran";
    std::vector<std::wstring> arguments;
    if (!fs::exists(engine_run())) return arguments;
    const std::string record = test::ReadFileOnceReadable(engine_run(), 5s);
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

#ifdef QUILLWAVE_PERSONA_TOOL_PATH
  // What `quillwave-persona switches --json ...`, put beside the launcher,
  // says the engine receives: its path, then its arguments.
  std::vector<std::wstring> ToolSwitches(const std::vector<std::wstring>& options) {
    const fs::path tool = app() / (std::string("quillwave-persona") + kExe);
    if (!fs::exists(tool)) fs::copy_file(BuiltFile(QUILLWAVE_PERSONA_TOOL_PATH), tool);
    platform::ProcessLaunch launch{tool.wstring(), {{L"switches"}, { L"--json" }}, {}};
    for (const auto& option : options) launch.arguments.push_back({option});
    const platform::CapturedRun run = platform::RunCapturingOutput(launch, "", 1 << 20, 60s);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    std::vector<std::wstring> received{Widen(ReadStringField(run.output, "engine"))};
    std::size_t at = run.output.find("\"arguments\":[");
    if (at == std::string::npos) return received;
    for (at += 13; at < run.output.size() && run.output[at] == '"';) {
      const std::size_t end = FindStringEnd(run.output, at);
      if (end == std::string::npos) break;
      received.push_back(Widen(JsonUnescape(std::string_view(run.output).substr(at + 1, end - at - 1))));
      at = end + 1 + (end + 1 < run.output.size() && run.output[end + 1] == ',');
    }
    return received;
  }

  // After a launch given kBerlinAnswer: the persona tool's dry run, given
  // the same answer (and `options`, such as --no-window), names exactly the
  // start the engine got, and neither clears the tabs nor writes a record.
  void ExpectDryRunOfTheBerlinLaunch(std::vector<std::wstring> options = {}) {
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
    const std::string record = test::ReadTextFile(profile() / ".corvane-launcher-result.json");
    options.insert(options.end(),
                   {L"--assume-ip", L"203.0.113.9", L"--assume-country", L"DE", L"--assume-timezone", L"Europe/Berlin",
                    L"--assume-lat", L"52.52", L"--assume-lng", L"13.405", profile().wstring()});
    EXPECT_EQ(ToolSwitches(options), EngineArguments());
    EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs"));
    EXPECT_EQ(test::ReadTextFile(profile() / ".corvane-launcher-result.json"), record);
  }
#endif

  std::vector<std::wstring> MachineSwitches() {
    std::vector<std::wstring> switches;
    const MachineValues machine = ReadMachineValues();
    if (!machine.device_memory.empty()) switches.push_back(L"--device-memory=" + machine.device_memory);
    if (!machine.hardware_concurrency.empty())
      switches.push_back(L"--hardware-concurrency=" + machine.hardware_concurrency);
    switches.push_back(L"--speech-voices-preset=stock-chrome-windows");
    return switches;
  }

  test::ScopedTempDir dir_;
  // False when the records in the folders are the test's own, not the launcher's.
  bool records_are_the_launchers_ = true;
};

}  // namespace quillwave
