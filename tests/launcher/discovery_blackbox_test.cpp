// The discovery launch as a black box on Linux: the launcher built with its
// endpoints on loopback, real curl through a real SOCKS5 proxy (microsocks),
// the GTK progress window on a private X server and the stand-in engine.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "base/version.h"
#include "discovery/endpoints.h"
#include "tests/launcher/launcher_fixture.h"
#include "tests/support/loopback.h"

namespace quillwave {
namespace {

const int kPrimaryPort = endpoints::kPrimaryPort;  // the loopback launcher's primary endpoint

// Each discovery launch once with the GTK window on the test's display and
// once without a display, where the same lookup runs without a window.
// A display or a session bus that accepts and never answers holds the
// toolkit's start for ever: the lookup goes on without the window after 2 s.
enum class Silent { kNothing, kDisplay, kBus };
struct Display {
  const char* name;
  bool shown;
  std::string note;  // the result record's message
  Silent silent = Silent::kNothing;
};
const std::string kLate = "no progress window (window did not appear within 2 s); discovery ran without it";
const Display kDisplays[] = {{"window", true, ""},
                             {"no display", false, "no progress window (no display); discovery ran without it"}};
const Display kSilentDisplays[] = {{"silent display", false, kLate, Silent::kDisplay},
                                   {"silent bus", false, kLate, Silent::kBus}};

// The pid of the curl that `parent` started, once there is one, within the limit.
std::optional<int> CurlStartedBy(int parent, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      std::getline(stat, line);
      // pid (comm) state ppid ...
      const std::size_t close = line.rfind(')');
      if (close == std::string::npos || line.substr(line.find('(') + 1, close - line.find('(') - 1) != "curl") continue;
      std::istringstream rest(line.substr(close + 2));
      char state = 0;
      int ppid = 0;
      if (rest >> state >> ppid && ppid == parent) return std::stoi(name);
    }
    std::this_thread::sleep_for(10ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

bool ProcessExists(int pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

// While it lives, processes orphaned below this one become its children, so
// the test can see whether a curl outlived its launcher and reap it.
class OrphansComeHere {
 public:
  OrphansComeHere() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
  ~OrphansComeHere() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
};

std::string Persona(int proxy_port, const std::string& extra) {
  return R"({"proxy-server": "socks5://127.0.0.1:)" + std::to_string(proxy_port) +
         R"(", "auto-timezone": true, "auto-lang": true, "auto-geo": true, "webrtc-no-leak": true,
             "cdp-tcp-port": "9222", "close-previous-tabs": true)" +
         extra + "}";
}

const std::string kNothingFound =
    "\"ip\":\"\",\"timezone\":\"\",\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\"";

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

  // With the test's display, none, or one that never answers (or a bus
  // that never answers beside the test's display).
  std::vector<std::pair<std::wstring, std::wstring>> EnvironmentFor(
      const Display& display, std::vector<std::pair<std::wstring, std::wstring>> environment = {}) {
    switch (display.silent) {
      case Silent::kDisplay:
        if (!silent_display_.port) silent_display_ = test::StartSilentDisplay();
        environment.push_back({L"DISPLAY", Widen(silent_display_.name)});
        break;
      case Silent::kBus:
        if (!silent_bus_) silent_bus_ = std::make_unique<test::SilentUnixSocket>(dir_.path() / "bus");
        environment.push_back({L"DBUS_SESSION_BUS_ADDRESS", L"unix:path=" + (dir_.path() / "bus").wstring()});
        environment.push_back({L"NO_AT_BRIDGE", L""});  // the bridge is what meets the bus
        break;
      case Silent::kNothing:
        if (!display.shown) environment.push_back({L"DISPLAY", L""});
        break;
    }
    return environment;
  }

  test::ChildResult RunWith(const Display& display,
                            std::vector<std::pair<std::wstring, std::wstring>> environment = {}) {
    return Run({user_data_arg()}, EnvironmentFor(display, std::move(environment)));
  }

  // The record of a discovery launch, the elapsed time and time stamp taken out.
  static std::string Record(const std::string& status, const std::string& values, const std::string& provider,
                            const std::string& error_code, const std::string& message) {
    return "{\"schema\":1,\"ts\":\"TS\",\"status\":\"" + status + "\"," + values +
           ",\"elapsed_ms\":MS,\"provider\":\"" + provider + "\",\"error_code\":\"" + error_code + "\",\"message\":\"" +
           message + "\",\"launcher_version\":\"" + std::string(kLauncherVersion) + "\"}\n";
  }

  std::vector<std::wstring> DiscoveredLaunch(const std::vector<std::wstring>& discovered) {
    std::vector<std::wstring> switches = discovered;
    for (const auto& s : MachineSwitches()) switches.push_back(s);
    switches.insert(switches.end(),
                    {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1", L"chrome://version"});
    return Expected({user_data_arg()}, switches);
  }

  std::unique_ptr<test::BackgroundProcess> proxy_;
  test::SilentDisplay silent_display_;
  std::unique_ptr<test::SilentUnixSocket> silent_bus_;
};

TEST_F(DiscoveryBlackBox, SuccessStartsTheEngineWithTheDiscoveredSwitchesAndRecordsThem) {
  ASSERT_TRUE(getenv("DISPLAY") != nullptr) << "run under tests/support/with-xvfb.sh";
  test::LoopbackHttpServer endpoint(200, kBerlinAnswer, kPrimaryPort);
  test::WriteTextFile(profile() / "command-line.json", Persona(StartProxy(), ""));
  std::vector<Display> displays(std::begin(kDisplays), std::end(kDisplays));
  displays.insert(displays.end(), std::begin(kSilentDisplays), std::end(kSilentDisplays));
  for (const Display& display : displays) {
    SCOPED_TRACE(display.name);
    fs::remove(engine_run());
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
    const auto started = std::chrono::steady_clock::now();
    const auto result = RunWith(display);
    // A window that never comes holds the launch up by its 2 s at most.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(EngineArguments(), DiscoveredLaunch(kBerlinSwitches));
    EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
              Record("ok",
                     "\"ip\":\"203.0.113.9\",\"timezone\":\"Europe/Berlin\",\"country_code\":\"DE\",\"lat\":"
                     "\"52.52\",\"lng\":\"13.405\",\"lang\":\"de-DE\",\"accept_lang\":\"de-DE,de;q=0.9,en;q=0.8\"",
                     "geo.loopback.test", "", display.note));
    EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs"));
    EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-error.json"));
    if (display.silent != Silent::kNothing) continue;
    ExpectDryRunOfTheBerlinLaunch(display.shown ? std::vector<std::wstring>{}
                                                : std::vector<std::wstring>{L"--no-window"});
  }
  EXPECT_EQ(endpoint.requests().size(), 4u);
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
  for (const Display& display : kDisplays) {
    SCOPED_TRACE(display.name);
    const auto result = RunWith(display, {{L"NO_PROXY", L"*"}, {L"no_proxy", L"*"}});
    EXPECT_EQ(result.exit_code, 42) << result.output;
    EXPECT_TRUE(endpoint.requests().empty());
    EXPECT_FALSE(fs::exists(engine_run()));
    EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs")) << "no housekeeping when blocked";
    EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
              Record("blocked", kNothingFound, "lbck", "PROXY_BLOCKED",
                     "see .corvane-launcher-error.json for details" + (display.shown ? "" : "; " + display.note)));
    const std::string error = test::ReadTextFile(profile() / ".corvane-launcher-error.json");
    EXPECT_NE(error.find("\"step\":\"discover_proxy_ip\",\"error_code\":\"PROXY_UNREACHABLE\""), std::string::npos)
        << error;
    EXPECT_NE(error.find("\"discovery_url\":\"https://localhost:9/geoip?format=json\",\"curl_exit_code\":7,"),
              std::string::npos)
        << error;
  }
}

TEST_F(DiscoveryBlackBox, ProxyDownUnderFallbackLaunchesWithoutDiscoveredValues) {
  test::WriteTextFile(profile() / "command-line.json",
                      Persona(test::UnusedLoopbackPort(), R"(, "on-proxy-fail": "fallback")"));
  for (const Display& display : kDisplays) {
    SCOPED_TRACE(display.name);
    fs::remove(engine_run());
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
    const auto result = RunWith(display);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(EngineArguments(), DiscoveredLaunch({L"--force-webrtc-ip-handling-policy=default"}));
    EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
              Record("ok", kNothingFound, "lbck", "", display.note));
    EXPECT_TRUE(fs::exists(profile() / ".corvane-launcher-error.json"));
    EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs"));
  }
}

// A lookup that never gets an answer (curl connects through the proxy to an
// endpoint that never replies) is cancelled: by the person's close of the
// window, or by a request of the system to end the launcher, with the window
// or without. curl is ended and reaped at once, nothing is recorded (the
// lookup had removed an earlier error record when it began), deleted or
// started, and the launcher ends at once: with 0 after a close,
// by the same signal after a request. Killed itself, the launcher takes its
// curl along.
TEST_F(DiscoveryBlackBox, ACancelledLookupEndsCurlAndTheLauncherAtOnce) {
  test::LoopbackPort silent_endpoint(/*listening=*/true, kPrimaryPort);
  test::WriteTextFile(profile() / "command-line.json", Persona(StartProxy(), ""));
  const OrphansComeHere orphans;
  constexpr int kClose = 0;
  const struct {
    const char* name;
    bool shown;
    int request;                       // a signal, or kClose
    Silent silent = Silent::kNothing;  // the request then comes one second in, while the toolkit hangs
  } rows[] = {{"close", true, kClose},
              {"SIGTERM", false, SIGTERM},
              {"SIGTERM, window", true, SIGTERM},
              {"SIGINT", false, SIGINT},
              {"SIGHUP, window", true, SIGHUP},
              {"SIGKILL", false, SIGKILL},
              {"SIGKILL, window", true, SIGKILL},
              {"SIGTERM, silent display", false, SIGTERM, Silent::kDisplay},
              {"SIGTERM, silent bus", true, SIGTERM, Silent::kBus}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::pair<std::wstring, std::wstring>> environment = {
        {L"XDG_DATA_HOME", (dir_.path() / "xdg").wstring()},
        {L"HOME", dir_.wpath()},
        {L"WAYLAND_DISPLAY", L""}};
    // Under AddressSanitizer the exit-time leak scan of a process holding the
    // toolkit takes 100-200 ms of its own; the bound is the launcher's time.
    if (const char* asan = std::getenv("ASAN_OPTIONS")) {
      environment.push_back({L"ASAN_OPTIONS", Widen(std::string(asan) + ":detect_leaks=0")});
    }
    // ThreadSanitizer sleeps a second at exit while another thread (here the
    // window's, winding down) is still there.
    if (const char* tsan = std::getenv("TSAN_OPTIONS")) {
      environment.push_back({L"TSAN_OPTIONS", Widen(std::string(tsan) + " atexit_sleep_ms=0")});
    }
    test::ChildOptions options;
    options.environment = EnvironmentFor({row.name, row.shown, "", row.silent}, environment);
    test::RunningChild running(launcher(), {user_data_arg()}, options);
    std::optional<int> curl;
    if (row.silent == Silent::kNothing) {
      curl = CurlStartedBy(running.pid(), 20s);
      ASSERT_TRUE(curl) << "curl never started";
    } else {
      std::this_thread::sleep_for(1s);
    }
    std::string window;
    if (row.request == kClose) {
      const auto found = test::RunChild("/usr/bin/xdotool",
                                        {L"search", L"--sync", L"--onlyvisible", L"--class", L"QuillwaveLauncher"});
      window = found.output.substr(0, found.output.find('\n'));
      ASSERT_FALSE(window.empty()) << "the window never appeared";
    }
    // Timed from the request's delivery: the sender's own start does not count.
    if (row.request == kClose) {
      test::RunChild(QUILLWAVE_SEND_WM_DELETE, {Widen(window)});
    } else {
      running.Signal(row.request);
    }
    const auto asked_at = std::chrono::steady_clock::now();
    const auto end = running.WaitFor(5s);
    const auto elapsed = std::chrono::steady_clock::now() - asked_at;
    ASSERT_TRUE(end) << "the launcher did not end";
    if (row.request == SIGKILL) {
      // Orphaned, it comes here: ended at once by the launcher's death.
      EXPECT_EQ(end->signal, SIGKILL);
      int status = 0;
      const auto deadline = std::chrono::steady_clock::now() + 1s;
      while (::waitpid(*curl, &status, WNOHANG) != *curl && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
      }
      EXPECT_FALSE(ProcessExists(*curl)) << "curl outlived its launcher by a second";
    } else {
      EXPECT_LT(elapsed, 300ms);
      EXPECT_EQ(end->exit_code, row.request == kClose ? 0 : -1);
      EXPECT_EQ(end->signal, row.request == kClose ? 0 : row.request);
      // Reaped by the launcher itself: an orphan would have come here.
      if (curl) {
        EXPECT_FALSE(ProcessExists(*curl));
      }
    }
    if (curl && ProcessExists(*curl)) {  // left behind: not for the next row to meet
      ::kill(*curl, SIGKILL);
      ::waitpid(*curl, nullptr, 0);
    }
    EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-result.json"));
    EXPECT_FALSE(fs::exists(profile() / ".corvane-launcher-error.json"));
    EXPECT_TRUE(fs::exists(profile() / "Default" / "Current Tabs"));
    EXPECT_FALSE(fs::exists(engine_run()));
  }
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

// fill through microsocks: a dead proxy changes nothing; a live one writes
// what the launch would derive, and the launch of the filled persona, pinned
// or not, starts the engine directly without a discovered switch: the
// engine reads the values from the file.
TEST_F(DiscoveryBlackBox, FillWritesWhatTheLaunchWouldDerive) {
  test::LoopbackHttpServer endpoint(200, kBerlinAnswer, kPrimaryPort);
  const int proxy = StartProxy();
  const std::string values =
      R"(, "timezone-override": "Europe/Berlin", "lang": "de-DE", "accept-language": "de-DE,de;q=0.9,en;q=0.8", )"
      R"("geo-lat": 52.52, "geo-lng": 13.405, "webrtc-fake-public-ip": "203.0.113.9")";
  const struct {
    int proxy_port;
    const wchar_t* option;
    int exit_code;
  } rows[] = {{test::UnusedLoopbackPort(), L"--pin", 2}, {proxy, L"--json", 0}, {proxy, L"--pin", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.proxy_port);
    fs::remove(profile() / "command-line.json.bak");
    fs::remove(engine_run());
    const std::string persona = Persona(row.proxy_port, "");
    test::WriteTextFile(profile() / "command-line.json", persona);
    platform::ProcessLaunch launch{BuiltFile(QUILLWAVE_PROBE_TOOL_PATH).wstring(),
                                   {{L"fill"}, {row.option}, {profile().wstring()}},
                                   {}};
    const platform::CapturedRun run = platform::RunCapturingOutput(launch, "", 1 << 20, 60s);
    EXPECT_EQ(run.exit_code, row.exit_code) << run.output;
    const std::string filled = test::ReadTextFile(profile() / "command-line.json");
    if (row.exit_code != 0) {
      EXPECT_EQ(filled, persona);
      EXPECT_FALSE(fs::exists(profile() / "command-line.json.bak"));
      continue;
    }
    const std::string expected = Persona(row.proxy_port, values);
    const std::regex automatic("\"(auto-[a-z]+)\": true");
    EXPECT_EQ(filled, std::wstring(row.option) == L"--pin" ? std::regex_replace(expected, automatic, "\"$1\": false")
                                                           : expected);
    EXPECT_EQ(test::ReadTextFile(profile() / "command-line.json.bak"), persona);
    const auto result = RunOnDisplay();
    EXPECT_EQ(result.exit_code, 0) << result.output;
    std::vector<std::wstring> direct = {L"--remote-debugging-port=9222", L"--remote-debugging-address=127.0.0.1"};
    for (const auto& s : MachineSwitches()) direct.push_back(s);
    direct.push_back(L"chrome://version");
    EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, direct));
    EXPECT_NE(test::ReadTextFile(profile() / ".corvane-launcher-result.json").find("\"status\":\"passthrough\""),
              std::string::npos);
  }
  EXPECT_EQ(endpoint.requests().size(), 2u);
}

}  // namespace
}  // namespace quillwave
