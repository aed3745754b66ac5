// The discovery launch as a black box on Windows (under Wine, on a private X
// server): the real launcher, its GDI progress window, and a stand-in curl
// put where the launcher looks for the system's curl.exe.
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <oleacc.h>
#include <tlhelp32.h>

#include <optional>
#include <thread>

#include "base/version.h"
#include "platform/win32/unique_handle.h"
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

// Each discovery launch once with the GDI window and once asked to go
// without one, where the same lookup runs without a window.
struct Display {
  const char* name;
  std::vector<std::pair<std::wstring, std::wstring>> environment;
  std::string note;  // the result record's message
};
const Display kDisplays[] = {{"window", {}, ""},
                             {"QUILLWAVE_PROGRESS_WINDOW=none",
                              {{L"QUILLWAVE_PROGRESS_WINDOW", L"none"}},
                              "no progress window (QUILLWAVE_PROGRESS_WINDOW=none); discovery ran without it"}};

// Whether the process still runs, waiting for its end up to `limit`.
bool StillRunsAfter(DWORD pid, std::chrono::milliseconds limit) {
  platform::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process.valid()) return false;  // no such process any more
  return ::WaitForSingleObject(process.get(), static_cast<DWORD>(limit.count())) == WAIT_TIMEOUT;
}

// The process that started `pid`, by the system's process list.
std::optional<DWORD> ParentOf(DWORD pid) {
  platform::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == pid) return entry.th32ParentProcessID;
  }
  return std::nullopt;
}

class DiscoveryBlackBox : public LauncherFixture {
 protected:
  DiscoveryBlackBox() : LauncherFixture(QUILLWAVE_LAUNCHER_PATH) {
    Cleanup();
    fs::copy_file(BuiltFile(QUILLWAVE_STANDIN_CURL_PATH), curl_dir() / "curl.exe");
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
  }
  ~DiscoveryBlackBox() override {
    // A stand-in that outlived its launcher (a failed test) goes before the next test.
    if (const std::optional<DWORD> pid = CurlPid(0ms)) {
      platform::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, *pid));
      if (process.valid() && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), 30000);
      }
    }
    Cleanup();
  }
  // The pid the stand-in wrote once it started, within the limit.
  static std::optional<DWORD> CurlPid(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
      std::error_code ignored;
      if (fs::exists(curl_dir() / "curl-pid.txt", ignored)) {
        const std::string text = test::ReadFileOnceReadable(curl_dir() / "curl-pid.txt", 1s);
        if (!text.empty()) return static_cast<DWORD>(std::stoul(text));
      }
      std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
  }
  static fs::path curl_dir() { return SystemDirectory(); }
  static void Cleanup() {
    std::error_code ignored;
    for (const char* name :
         {"curl.exe", "curl-answer.txt", "curl-exit.txt", "curl-delay-ms.txt", "curl-args.txt", "curl-cmdline.txt",
          "curl-done.txt", "curl-stderr.txt", "curl-direct.txt", "curl-pid.txt"}) {
      fs::remove(curl_dir() / name, ignored);
    }
  }
  void Script(const std::string& answer, int exit_code, int delay_ms = 0) {
    test::WriteTextFile(curl_dir() / "curl-answer.txt", answer);
    test::WriteTextFile(curl_dir() / "curl-exit.txt", std::to_string(exit_code));
    if (delay_ms > 0) test::WriteTextFile(curl_dir() / "curl-delay-ms.txt", std::to_string(delay_ms));
  }
  test::ChildResult RunOnDisplay() { return Run({user_data_arg()}, {}); }

  // The record of a discovery launch, the elapsed time and time stamp taken out.
  static std::string Record(const std::string& status, const std::string& values, const std::string& provider,
                            const std::string& error_code, const std::string& message) {
    return "{\"schema\":1,\"ts\":\"TS\",\"status\":\"" + status + "\"," + values +
           ",\"elapsed_ms\":MS,\"provider\":\"" + provider + "\",\"error_code\":\"" + error_code + "\",\"message\":\"" +
           message + "\",\"launcher_version\":\"" + std::string(kLauncherVersion) + "\"}\n";
  }
};

const std::string kNothingFound =
    "\"ip\":\"\",\"timezone\":\"\",\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\"";

TEST_F(DiscoveryBlackBox, SuccessStartsTheEngineWithTheDiscoveredSwitchesAndRecordsThem) {
  Script(kBerlinAnswer, 0);
  test::WriteTextFile(profile() / "command-line.json", kPersona + "}");
  for (const Display& display : kDisplays) {
    SCOPED_TRACE(display.name);
    fs::remove(engine_run());
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
    EXPECT_EQ(Run({user_data_arg()}, display.environment).exit_code, 0);
    std::vector<std::wstring> switches = kBerlinSwitches;
    for (const auto& s : MachineSwitches()) switches.push_back(s);
    switches.insert(switches.end(),
                    {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1", L"chrome://version"});
    EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
    EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
              Record("ok",
                     "\"ip\":\"203.0.113.9\",\"timezone\":\"Europe/Berlin\",\"country_code\":\"DE\",\"lat\":"
                     "\"52.52\",\"lng\":\"13.405\",\"lang\":\"de-DE\",\"accept_lang\":\"de-DE,de;q=0.9,en;q=0.8\"",
                     "geo.primary.example", "", display.note));
    EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs"));
    ExpectDryRunOfTheBerlinLaunch(display.environment.empty() ? std::vector<std::wstring>{}
                                                              : std::vector<std::wstring>{L"--no-window"});
  }
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
  for (const Display& display : kDisplays) {
    SCOPED_TRACE(display.name);
    auto environment = display.environment;
    environment.insert(environment.end(), {{L"NO_PROXY", L"*"}, {L"CURL_HOME", (dir_.path() / "curl-home").wstring()}});
    EXPECT_EQ(Run({user_data_arg()}, environment).exit_code, 42);
    EXPECT_FALSE(fs::exists(engine_run()));
    EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs"));
    EXPECT_EQ(
        StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
        Record("blocked", kNothingFound, "scnd", "PROXY_BLOCKED",
               "see .corvane-launcher-error.json for details" + (display.note.empty() ? "" : "; " + display.note)));
    const std::string error = test::ReadTextFile(profile() / ".corvane-launcher-error.json");
    EXPECT_NE(error.find("\"error_code\":\"PROXY_UNREACHABLE\""), std::string::npos) << error;
    EXPECT_NE(error.find("\"curl_exit_code\":7,"), std::string::npos) << error;
  }
}

TEST_F(DiscoveryBlackBox, ProxyDownUnderFallbackLaunchesWithoutDiscoveredValues) {
  Script("", 7);
  test::WriteTextFile(profile() / "command-line.json", kPersona + R"(, "on-proxy-fail": "fallback"})");
  for (const Display& display : kDisplays) {
    SCOPED_TRACE(display.name);
    fs::remove(engine_run());
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
    EXPECT_EQ(Run({user_data_arg()}, display.environment).exit_code, 0);
    std::vector<std::wstring> switches = {L"--force-webrtc-ip-handling-policy=default"};
    for (const auto& s : MachineSwitches()) switches.push_back(s);
    switches.insert(switches.end(),
                    {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1", L"chrome://version"});
    EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
    EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
              Record("ok", kNothingFound, "scnd", "", display.note));
    EXPECT_TRUE(fs::exists(profile() / ".corvane-launcher-error.json"));
    EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs"));
  }
}

// The person closes the window while curl is still running: curl is ended
// at once, nothing is recorded, deleted or started, and the launcher ends at
// once with 0. Killed itself, the launcher takes its curl along (the job
// object that holds curl goes with the launcher's last handle to it).
TEST_F(DiscoveryBlackBox, ACancelledLookupEndsCurlAndTheLauncherAtOnce) {
  Script(kBerlinAnswer, 0, 60000);
  test::WriteTextFile(profile() / "command-line.json", kPersona + "}");
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "launcher killed" : "window closed");
    fs::remove(curl_dir() / "curl-pid.txt");
    std::optional<DWORD> curl;
    std::chrono::steady_clock::time_point asked_at{};
    std::thread canceller([&] {
      curl = CurlPid(30s);
      const HWND window = ::FindWindowW(kWindowClassName, nullptr);
      if (!curl || window == nullptr) return;
      asked_at = std::chrono::steady_clock::now();
      if (!killed) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        return;
      }
      if (const std::optional<DWORD> launcher = ParentOf(*curl)) {
        platform::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, *launcher));
        ::TerminateProcess(process.get(), 9);
      }
    });
    const auto result = RunOnDisplay();
    const auto ended_at = std::chrono::steady_clock::now();
    canceller.join();
    ASSERT_TRUE(curl) << "curl never started";
    ASSERT_NE(asked_at, std::chrono::steady_clock::time_point{}) << "no window while curl ran";
    EXPECT_FALSE(result.timed_out);
    if (killed) {
      EXPECT_EQ(result.exit_code, 9);
      EXPECT_FALSE(StillRunsAfter(*curl, 1s)) << "curl outlived its launcher by a second";
    } else {
      EXPECT_EQ(result.exit_code, 0);
      EXPECT_LT(ended_at - asked_at, 300ms) << "the launcher waited for curl";
      EXPECT_FALSE(StillRunsAfter(*curl, 0ms)) << "curl was not ended with the launch";
    }
    EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-result.json"));
    EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs"));
    EXPECT_FALSE(fs::exists(engine_run()));
  }
}

// A file under a system library's name beside the launcher is never loaded
// in its place, here when a screen reader asks the window for its object
// (the launcher loads oleacc.dll only then).
TEST_F(DiscoveryBlackBox, AScreenReaderNeverLoadsALibraryPlantedBesideTheLauncher) {
  test::WriteTextFile(app() / "oleacc.dll", "not a library");
  Script(kBerlinAnswer, 0, 60000);
  test::WriteTextFile(profile() / "command-line.json", kPersona + "}");
  long children = 0;  // the launcher's own object lists the steps; the system's stand-in none
  std::vector<fs::path> modules;
  std::thread reader([&] {
    const std::optional<DWORD> curl = CurlPid(30s);
    const HWND window = ::FindWindowW(kWindowClassName, nullptr);
    if (!curl || window == nullptr) return;
    if (SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
      IAccessible* accessible = nullptr;
      if (SUCCEEDED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                 reinterpret_cast<void**>(&accessible)))) {
        accessible->get_accChildCount(&children);
        accessible->Release();
      }
      ::CoUninitialize();
    }
    platform::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, ParentOf(*curl).value_or(0)));
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Module32FirstW(snapshot.get(), &entry); more; more = ::Module32NextW(snapshot.get(), &entry)) {
      modules.emplace_back(entry.szExePath);
    }
    ::PostMessageW(window, WM_CLOSE, 0, 0);
  });
  RunOnDisplay();
  reader.join();
  EXPECT_GT(children, 0) << "the window answered with no object of its own";
  ASSERT_FALSE(modules.empty()) << "the launcher's modules were not listed";
  for (const fs::path& module : modules) {
    if (module != launcher()) EXPECT_NE(module.parent_path(), app()) << module;
  }
}

}  // namespace
}  // namespace quillwave
