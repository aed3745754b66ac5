// The discovery launch as a black box on Windows (under Wine, on a private X
// server): the real launcher, its GDI progress window, and a stand-in curl
// put where the launcher looks for the system's curl.exe.
#include <windows.h>

#include <thread>

#include "base/version.h"
#include "tests/launcher/launcher_fixture.h"
#include "ui/progress_layout.h"

namespace quillwave {
namespace {

const std::string kPersona = R"({"proxy-server": "socks5://127.0.0.1:1080", "auto-timezone": true, "auto-lang": true,
  "auto-geo": true, "webrtc-no-leak": true, "cdp-tcp-port": "9222", "close-previous-tabs": true)";

fs::path SystemDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetSystemDirectoryW(buffer, MAX_PATH);
  return buffer;
}

class DiscoveryBlackBox : public LauncherFixture {
 protected:
  DiscoveryBlackBox() : LauncherFixture(QUILLWAVE_LAUNCHER_PATH) {
    Cleanup();
    fs::copy_file(BuiltFile(QUILLWAVE_STANDIN_CURL_PATH), curl_dir() / "curl.exe");
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
  }
  ~DiscoveryBlackBox() override {
    // A slow stand-in may still run after the launcher has gone.
    if (fs::exists(curl_dir() / "curl-args.txt")) test::WaitForFile(curl_dir() / "curl-done.txt", 30s);
    Cleanup();
  }
  static fs::path curl_dir() { return SystemDirectory(); }
  static void Cleanup() {
    std::error_code ignored;
    for (const char* name : {"curl.exe", "curl-answer.txt", "curl-exit.txt", "curl-delay-ms.txt", "curl-args.txt",
                             "curl-cmdline.txt", "curl-done.txt", "curl-stderr.txt", "curl-direct.txt"}) {
      fs::remove(curl_dir() / name, ignored);
    }
  }
  void Script(const std::string& answer, int exit_code, int delay_ms = 0) {
    test::WriteTextFile(curl_dir() / "curl-answer.txt", answer);
    test::WriteTextFile(curl_dir() / "curl-exit.txt", std::to_string(exit_code));
    if (delay_ms > 0) test::WriteTextFile(curl_dir() / "curl-delay-ms.txt", std::to_string(delay_ms));
  }
  test::ChildResult RunOnDisplay() { return Run({user_data_arg()}, {}); }
};

TEST_F(DiscoveryBlackBox, SuccessStartsTheEngineWithTheDiscoveredSwitchesAndRecordsThem) {
  Script(kBerlinAnswer, 0);
  test::WriteTextFile(profile() / "command-line.json", kPersona + "}");
  EXPECT_EQ(RunOnDisplay().exit_code, 0);
  std::vector<std::wstring> switches = kBerlinSwitches;
  for (const auto& s : MachineSwitches()) switches.push_back(s);
  switches.insert(switches.end(),
                  {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1", L"chrome://version"});
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"ok\",\"ip\":\"203.0.113.9\",\"timezone\":\"Europe/Berlin\","
            "\"country_code\":\"DE\",\"lat\":\"52.52\",\"lng\":\"13.405\",\"lang\":\"de-DE\",\"accept_lang\":"
            "\"de-DE,de;q=0.9,en;q=0.8\",\"elapsed_ms\":MS,\"provider\":\"geo.primary.example\",\"error_code\":\"\","
            "\"message\":\"\",\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs"));
  ExpectDryRunOfTheBerlinLaunch();
}

// A forged answer: a time zone and a latitude crafted to smuggle in an
// engine switch are dropped, a broken country byte reaches the record as
// U+FFFD, and the engine's command line splits into exactly its items.
TEST_F(DiscoveryBlackBox, ForgedAnswerValuesNeverBecomeSwitches) {
  Script(
      "{\"ip\": \"203.0.113.9\", \"country\": \"D\xFF\", \"timezone\": \"UTC --renderer-cmd-prefix=x\", "
      "\"latitude\": \"52.52 --x\", \"longitude\": 13.4}",
      0);
  test::WriteTextFile(profile() / "command-line.json", kPersona + "}");
  EXPECT_EQ(RunOnDisplay().exit_code, 0);
  std::vector<std::wstring> switches = {L"--webrtc-fake-public-ip=203.0.113.9",
                                        L"--force-webrtc-ip-handling-policy=default", L"--lang=en-US",
                                        L"--accept-language=en-US,en;q=0.9"};
  for (const auto& s : MachineSwitches()) switches.push_back(s);
  switches.insert(switches.end(),
                  {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1", L"chrome://version"});
  const auto expected = Expected({user_data_arg()}, switches);
  EXPECT_EQ(EngineArguments(), expected);
  EXPECT_EQ(test::SplitWindowsCommandLine(Widen(test::ReadTextFile(app() / "engine-cmdline.txt"))), expected);
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"ok\",\"ip\":\"203.0.113.9\",\"timezone\":\"\","
            "\"country_code\":\"D\\ufffd\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"en-US\",\"accept_lang\":"
            "\"en-US,en;q=0.9\",\"elapsed_ms\":MS,\"provider\":\"geo.primary.example\",\"error_code\":\"\","
            "\"message\":\"\",\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
}

// Neither the environment nor a curl configuration of the person can send
// the lookup around the dead proxy: the stand-in would then answer.
TEST_F(DiscoveryBlackBox, ProxyDownUnderBlockRefusesTheLaunchWithBothRecords) {
  Script("", 7);
  test::WriteTextFile(curl_dir() / "curl-direct.txt", kBerlinAnswer);
  test::WriteTextFile(dir_.path() / "curl-home" / ".curlrc", "noproxy = \"*\"\n");
  test::WriteTextFile(profile() / "command-line.json", kPersona + "}");
  EXPECT_EQ(
      Run({user_data_arg()}, {{L"NO_PROXY", L"*"}, {L"CURL_HOME", (dir_.path() / "curl-home").wstring()}}).exit_code,
      42);
  EXPECT_FALSE(fs::exists(engine_run()));
  EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs"));
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"blocked\",\"ip\":\"\",\"timezone\":\"\",\"country_code\":\"\","
            "\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":MS,\"provider\":\"scnd\","
            "\"error_code\":\"PROXY_BLOCKED\",\"message\":\"see .corvane-launcher-error.json for details\","
            "\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  const std::string error = test::ReadTextFile(profile() / ".corvane-launcher-error.json");
  EXPECT_NE(error.find("\"error_code\":\"PROXY_UNREACHABLE\""), std::string::npos) << error;
  EXPECT_NE(error.find("\"curl_exit_code\":7,"), std::string::npos) << error;
}

TEST_F(DiscoveryBlackBox, ProxyDownUnderFallbackLaunchesWithoutDiscoveredValues) {
  Script("", 7);
  test::WriteTextFile(profile() / "command-line.json", kPersona + R"(, "on-proxy-fail": "fallback"})");
  EXPECT_EQ(RunOnDisplay().exit_code, 0);
  std::vector<std::wstring> switches = {L"--force-webrtc-ip-handling-policy=default"};
  for (const auto& s : MachineSwitches()) switches.push_back(s);
  switches.insert(switches.end(),
                  {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1", L"chrome://version"});
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"ok\",\"ip\":\"\",\"timezone\":\"\",\"country_code\":\"\","
            "\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":MS,\"provider\":\"scnd\","
            "\"error_code\":\"\",\"message\":\"\",\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  EXPECT_TRUE(fs::exists(profile() / ".corvane-launcher-error.json"));
  EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs"));
}

// The person closes the window while curl is still running: the launch is
// cancelled at once, nothing is recorded, deleted or started, and the
// launcher ends although the worker is still inside curl.
TEST_F(DiscoveryBlackBox, ClosingTheWindowDuringASlowProbeCancelsEverything) {
  Script(kBerlinAnswer, 0, 20000);
  test::WriteTextFile(profile() / "command-line.json", kPersona + "}");
  std::thread closer([] {
    for (int i = 0; i < 400; ++i) {
      if (HWND window = ::FindWindowW(kWindowClassName, nullptr)) {
        // The worker is inside curl from 120 ms after the window appears on.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const auto started = std::chrono::steady_clock::now();
  const auto result = RunOnDisplay();
  closer.join();
  // The 6 s the launcher grants the worker and Wine's start-up, not the 15 s
  // after which the probe stops curl, nor curl's 20 s.
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GT(elapsed, 6s) << "the close came before the probe";
  EXPECT_LT(elapsed, 13s) << "the launcher waited for curl";
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-result.json"));
  EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs"));
  EXPECT_FALSE(fs::exists(engine_run()));
}

}  // namespace
}  // namespace quillwave
