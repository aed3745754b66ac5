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
  ExpectDryRunOfTheBerlinLaunch();
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

// Neither the environment nor the person's curl configuration (in HOME) can
// send the lookup around the dead proxy to the endpoint, which would answer.
TEST_F(DiscoveryBlackBox, ProxyDownUnderBlockRefusesTheLaunchWithBothRecords) {
  test::LoopbackHttpServer endpoint(200, kBerlinAnswer, kPrimaryPort);
  test::WriteTextFile(dir_.path() / ".curlrc", "noproxy = \"*\"\n");
  test::WriteTextFile(profile() / "command-line.json", Persona(test::UnusedLoopbackPort(), ""));
  const auto result = Run({user_data_arg()}, {{L"NO_PROXY", L"*"}, {L"no_proxy", L"*"}});
  EXPECT_EQ(result.exit_code, 42) << result.output;
  EXPECT_TRUE(endpoint.requests().empty());
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

// The persona tool's probe: the real discovery through microsocks, then
// one finding per kind of mismatch between the persona and the egress.
TEST_F(DiscoveryBlackBox, ProbeTellsWhatASiteCouldNotice) {
  test::LoopbackHttpServer endpoint(200, kBerlinAnswer, kPrimaryPort);
  const int proxy = StartProxy();
  const struct {
    int proxy_port;
    std::string values;
    int exit_code;
    std::string finding;  // the findings' JSON from its start; empty: none
  } rows[] = {
      {proxy, R"(, "webrtc-fake-public-ip": "203.0.113.9", "timezone-override": "Europe/Berlin", "lang": "de-AT",
         "geo-lat": 52.4, "geo-lng": 13.1)",
       0, ""},
      {proxy, R"(, "webrtc-fake-public-ip": "198.51.100.7")", 2,
       R"({"severity":"error","key":"webrtc-fake-public-ip","line":2,"column":67,"message":"WebRTC shows )"
       R"(198.51.100.7 while connections come from 203.0.113.9: the page sees two addresses"})"},
      {proxy, R"(, "timezone-override": "America/New_York")", 1,
       R"({"severity":"warning","key":"timezone-override","line":2,"column":67,"message":"names America/New_York )"
       R"(while the egress is in Europe/Berlin; today that is UTC-0)"},
      {proxy, R"(, "accept-language": "fr-FR,fr;q=0.9")", 1,
       R"({"severity":"warning","key":"accept-language","line":2,"column":67,"message":"\"fr-FR,fr;q=0.9\" while )"
       R"(the launcher derives de-DE for the egress country DE"})"},
      {proxy, R"(, "geo-lat": "48.8566", "geo-lng": "2.3522")", 1,
       R"({"severity":"warning","key":"geo-lat","line":2,"column":67,"message":"the coordinates 48.8566, 2.3522 lie )"
       R"(877 km from the egress location 52.52, 13.405"})"},
      {test::UnusedLoopbackPort(), "", 2,
       R"({"severity":"error","key":"proxy-server","line":null,"column":null,"message":"discovery failed: )"
       R"(PROXY_UNREACHABLE: curl exit 7 against https://localhost:9/geoip?format=json via socks5://127.0.0.1:)"},
  };
  for (const auto& row : rows) {
    test::WriteTextFile(profile() / "command-line.json", Persona(row.proxy_port, row.values));
    platform::ProcessLaunch launch{BuiltFile(QUILLWAVE_PROBE_TOOL_PATH).wstring(),
                                   {{L"probe"}, {L"--json"}, {profile().wstring()}},
                                   {}};
    const platform::CapturedRun run = platform::RunCapturingOutput(launch, "", 1 << 20, 60s);
    EXPECT_EQ(run.exit_code, row.exit_code) << run.output;
    const std::string findings = run.output.substr(std::min(run.output.size(), run.output.find("\"findings\":[") + 12));
    if (row.finding.empty()) {
      EXPECT_EQ(findings, "]}\n") << run.output;
    } else {
      EXPECT_EQ(findings.substr(0, row.finding.size()), row.finding) << run.output;
    }
  }
  EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-result.json"));
  EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-error.json"));
}

}  // namespace
}  // namespace quillwave
