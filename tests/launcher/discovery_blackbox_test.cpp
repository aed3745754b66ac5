// The discovery launch as a black box on Linux: the launcher built with its
// endpoints on loopback, real curl through a real SOCKS5 proxy (microsocks),
// the GTK progress window on a private X server and the stand-in engine.
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "base/version.h"
#include "discovery/endpoints.h"
#include "tests/launcher/launcher_fixture.h"
#include "tests/support/loopback.h"

namespace quillwave {
namespace {

const int kPrimaryPort = endpoints::kPrimaryPort;  // the loopback launcher's primary endpoint

std::string Persona(int proxy_port, const std::string& extra) {
  return R"({"proxy-server": "socks5://127.0.0.1:)" + std::to_string(proxy_port) +
         R"(", "auto-timezone": true, "auto-lang": true, "auto-geo": true, "webrtc-no-leak": true,
             "cdp-tcp-port": "9222", "close-previous-tabs": true)" +
         extra + "}";
}

class DiscoveryBlackBox : public LauncherFixture {
 protected:
  DiscoveryBlackBox() : LauncherFixture(QUILLWAVE_LOOPBACK_LAUNCHER_PATH) {
    fs::copy_file(BuiltFile(QUILLWAVE_MODULE_PATH), app() / "quillwave-progress-gtk.so");
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
  }

  // Starts microsocks on a free loopback port.
  int StartProxy() {
    int port = 0;
    proxy_ = test::StartSocksProxy(port);
    EXPECT_NE(proxy_, nullptr) << "microsocks did not start; scripts/install-deps.sh installs it";
    return port;
  }

  // Runs with the display the test itself was given.
  test::ChildResult RunOnDisplay(std::chrono::milliseconds timeout = 60s) {
    return Run({user_data_arg()}, {}, timeout);
  }

  std::vector<std::wstring> DiscoveredLaunch(const std::vector<std::wstring>& discovered) {
    std::vector<std::wstring> switches = discovered;
    for (const auto& s : MachineSwitches()) switches.push_back(s);
    switches.insert(switches.end(),
                    {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1", L"chrome://version"});
    return Expected({user_data_arg()}, switches);
  }

  std::unique_ptr<test::BackgroundProcess> proxy_;
};

TEST_F(DiscoveryBlackBox, SuccessStartsTheEngineWithTheDiscoveredSwitchesAndRecordsThem) {
  ASSERT_TRUE(getenv("DISPLAY") != nullptr) << "run under tests/support/with-xvfb.sh";
  test::LoopbackHttpServer endpoint(200, kBerlinAnswer, kPrimaryPort);
  test::WriteTextFile(profile() / "command-line.json", Persona(StartProxy(), ""));
  const auto result = RunOnDisplay();
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(EngineArguments(), DiscoveredLaunch(kBerlinSwitches));
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"ok\",\"ip\":\"203.0.113.9\",\"timezone\":\"Europe/Berlin\","
            "\"country_code\":\"DE\",\"lat\":\"52.52\",\"lng\":\"13.405\",\"lang\":\"de-DE\",\"accept_lang\":"
            "\"de-DE,de;q=0.9,en;q=0.8\",\"elapsed_ms\":MS,\"provider\":\"geo.loopback.test\",\"error_code\":\"\","
            "\"message\":\"\",\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs"));
  EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-error.json"));
  EXPECT_EQ(endpoint.requests().size(), 1u);
}

// A forged answer: a time zone and a latitude crafted to smuggle in an
// engine switch are dropped, a broken country byte reaches the record as
// U+FFFD. The engine, started after the window and curl, gets no
// descriptor beyond the standard three.
TEST_F(DiscoveryBlackBox, ForgedAnswerValuesNeverBecomeSwitches) {
  test::LoopbackHttpServer endpoint(
      200,
      "{\"ip\": \"203.0.113.9\", \"country\": \"D\xFF\", \"timezone\": "
      "\"UTC --renderer-cmd-prefix=x\", \"latitude\": \"52.52 --x\", \"longitude\": 13.4}",
      kPrimaryPort);
  test::WriteTextFile(profile() / "command-line.json", Persona(StartProxy(), ""));
  const auto result = RunOnDisplay();
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(EngineArguments(),
            DiscoveredLaunch({L"--webrtc-fake-public-ip=203.0.113.9", L"--force-webrtc-ip-handling-policy=default",
                              L"--lang=en-US", L"--accept-language=en-US,en;q=0.9"}));
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"ok\",\"ip\":\"203.0.113.9\",\"timezone\":\"\","
            "\"country_code\":\"D\\ufffd\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"en-US\",\"accept_lang\":"
            "\"en-US,en;q=0.9\",\"elapsed_ms\":MS,\"provider\":\"geo.loopback.test\",\"error_code\":\"\","
            "\"message\":\"\",\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  std::vector<std::string> numbers;
  std::istringstream lines(test::ReadTextFile(app() / "engine-fds.txt"));
  for (std::string line; std::getline(lines, line);) numbers.push_back(line.substr(0, line.find(' ')));
  EXPECT_EQ(numbers, (std::vector<std::string>{"0", "1", "2"})) << test::ReadTextFile(app() / "engine-fds.txt");
}

TEST_F(DiscoveryBlackBox, ProxyDownUnderBlockRefusesTheLaunchWithBothRecords) {
  test::WriteTextFile(profile() / "command-line.json", Persona(test::UnusedLoopbackPort(), ""));
  const auto result = RunOnDisplay();
  EXPECT_EQ(result.exit_code, 42) << result.output;
  EXPECT_FALSE(fs::exists(engine_run()));
  EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs")) << "no housekeeping when blocked";
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"blocked\",\"ip\":\"\",\"timezone\":\"\",\"country_code\":\"\","
            "\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":MS,\"provider\":\"lbck\","
            "\"error_code\":\"PROXY_BLOCKED\",\"message\":\"see .corvane-launcher-error.json for details\","
            "\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  const std::string error = test::ReadTextFile(profile() / ".corvane-launcher-error.json");
  EXPECT_NE(error.find("\"step\":\"discover_proxy_ip\",\"error_code\":\"PROXY_UNREACHABLE\""), std::string::npos)
      << error;
  EXPECT_NE(error.find("\"discovery_url\":\"https://localhost:9/geoip?format=json\",\"curl_exit_code\":7,"),
            std::string::npos)
      << error;
}

TEST_F(DiscoveryBlackBox, ProxyDownUnderFallbackLaunchesWithoutDiscoveredValues) {
  test::WriteTextFile(profile() / "command-line.json",
                      Persona(test::UnusedLoopbackPort(), R"(, "on-proxy-fail": "fallback")"));
  const auto result = RunOnDisplay();
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(EngineArguments(), DiscoveredLaunch({L"--force-webrtc-ip-handling-policy=default"}));
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"ok\",\"ip\":\"\",\"timezone\":\"\",\"country_code\":\"\","
            "\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\",\"elapsed_ms\":MS,\"provider\":\"lbck\","
            "\"error_code\":\"\",\"message\":\"\",\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  EXPECT_TRUE(fs::exists(profile() / ".corvane-launcher-error.json"));
  EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs"));
}

// Without a display there is no window: the record comes first, then the
// housekeeping, then the engine. inotify shows the order of the two writes.
TEST_F(DiscoveryBlackBox, WithoutAWindowTheDegradedRecordPrecedesAnyDeletion) {
  test::WriteTextFile(profile() / "command-line.json", Persona(test::UnusedLoopbackPort(), ""));
  platform::UniqueFd watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  ASSERT_TRUE(watch.valid());
  ASSERT_GE(inotify_add_watch(watch.get(), profile().c_str(), IN_MOVED_TO), 0);
  ASSERT_GE(inotify_add_watch(watch.get(), (profile() / "Default").c_str(), IN_DELETE), 0);
  const auto result = Run({user_data_arg()});  // no DISPLAY
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EngineArguments();
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), kDegraded);
  std::vector<std::string> events;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t got; (got = read(watch.get(), buffer, sizeof buffer)) > 0;) {
    for (char* p = buffer; p < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      if (event->len > 0) events.push_back(std::string(event->mask & IN_DELETE ? "delete " : "write ") + event->name);
      p += sizeof(inotify_event) + event->len;
    }
  }
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "write .corvane-launcher-result.json");
  EXPECT_EQ(events[1], "delete Current Tabs");
}

// The person closes the window (the window manager's close request) while
// curl is still waiting for the endpoint: the launch is cancelled at once,
// nothing is recorded, deleted or started, and the launcher ends although
// the worker is still inside curl.
TEST_F(DiscoveryBlackBox, ClosingTheWindowDuringASlowProbeCancelsEverything) {
  test::LoopbackPort silent_endpoint(/*listening=*/true, kPrimaryPort);
  test::WriteTextFile(profile() / "command-line.json", Persona(StartProxy(), ""));
  // Measured from the close request, so a slow start of the window (under a
  // sanitizer, on a busy machine) does not count.
  std::chrono::steady_clock::time_point closed_at{};
  std::thread closer([&closed_at] {
    for (int i = 0; i < 400; ++i) {
      const auto found =
          test::RunChild("/usr/bin/xdotool", {L"search", L"--onlyvisible", L"--class", L"QuillwaveLauncher"});
      if (found.exit_code == 0 && !found.output.empty()) {
        // The worker is inside curl from 120 ms after the window appears
        // on; the endpoint never answers, so curl stays there for 10 s,
        // that is about 9.4 s after the close.
        std::this_thread::sleep_for(500ms);
        const std::string id = found.output.substr(0, found.output.find('\n'));
        closed_at = std::chrono::steady_clock::now();
        test::RunChild(QUILLWAVE_SEND_WM_DELETE, {Widen(id)});
        return;
      }
      std::this_thread::sleep_for(50ms);
    }
  });
  const auto result = RunOnDisplay(30s);
  const auto ended_at = std::chrono::steady_clock::now();
  closer.join();
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0) << result.output;
  ASSERT_NE(closed_at, std::chrono::steady_clock::time_point{}) << "the window never appeared";
  // The launcher grants the worker 6 s after the window has gone, and no
  // more: it does not wait for curl's own limit.
  const auto elapsed = ended_at - closed_at;
  EXPECT_GT(elapsed, 5500ms) << "the worker was not given its time";
  EXPECT_LT(elapsed, 8500ms) << "the launcher waited for curl";
  EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-result.json"));
  EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs"));
  EXPECT_FALSE(fs::exists(engine_run()));
}

}  // namespace
}  // namespace quillwave
