// The launcher with a real engine: Debian's Chromium lies beside it as
// quillwave-engine, runs headless on loopback only and is driven over its
// remote-debugging protocol. Every engine a test starts is ended and reaped
// by the fixture, also when the test fails or hangs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "base/json_readers.h"
#include "discovery/endpoints.h"
#include "tests/e2e/devtools_client.h"
#include "tests/e2e/engine_processes.h"
#include "tests/e2e/site_server.h"
#include "tests/launcher/launcher_fixture.h"
#include "tests/support/loopback.h"

namespace quillwave {
namespace {

// The browser binary itself: Debian's /usr/bin/chromium is a shell script
// that puts machine-dependent switches of its own ahead of ours.
constexpr char kChromium[] = "/usr/lib/chromium/chromium";
constexpr auto kScenarioLimit = 60s;
const int kPrimaryPort = endpoints::kPrimaryPort;  // the loopback launcher's primary endpoint

// Waits for something a real engine does in its own time.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

std::string Join(const std::vector<std::wstring>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : " ") + Narrow(item);
  return text;
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : " ") + item;
  return text;
}

// The addresses of the TCP sockets listening on `port`, IPv4 dotted, IPv6 as
// the kernel writes them.
std::vector<std::string> ListeningAddresses(int port) {
  std::vector<std::string> addresses;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // column titles
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      const std::size_t colon = local.find(':');
      if (state != "0A" || colon == std::string::npos || std::stoi(local.substr(colon + 1), nullptr, 16) != port)
        continue;
      const std::string hex = local.substr(0, colon);
      if (hex.size() != 8) {
        addresses.push_back(hex);
        continue;
      }
      const unsigned long value = std::stoul(hex, nullptr, 16);  // network order read as little-endian
      addresses.push_back(std::to_string(value & 0xFF) + "." + std::to_string((value >> 8) & 0xFF) + "." +
                          std::to_string((value >> 16) & 0xFF) + "." + std::to_string(value >> 24));
    }
  }
  return addresses;
}

// Ends the whole run when a scenario overruns its limit, after killing its
// engines: a hung test must not leave a browser behind.
class Watchdog {
 public:
  Watchdog(std::string marker, std::chrono::seconds limit)
      : thread_([this, marker = std::move(marker), limit] {
          std::unique_lock lock(mutex_);
          if (done_signal_.wait_for(lock, limit, [this] { return done_; })) return;
          std::fprintf(stderr, "scenario over its limit of %llds: engines killed, run ended\n",
                       static_cast<long long>(limit.count()));
          test::EndSessions(test::SessionsMentioning(marker), /*kill=*/true, 10s);
          std::error_code ignored;
          fs::remove_all(marker, ignored);
          std::_Exit(1);
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_signal_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_signal_;
  bool done_ = false;
  std::thread thread_;
};

class EngineE2E : public LauncherFixture {
 protected:
  explicit EngineE2E(const char* launcher_path)
      : LauncherFixture(launcher_path), watchdog_(dir_.path().string(), kScenarioLimit) {
    // The stand-in engine of the base fixture gives way to the real one.
    fs::remove(engine());
    fs::create_symlink(kChromium, engine());
  }
  ~EngineE2E() override {
    const auto left = test::SessionsMentioning(dir_.path().string());
    EXPECT_TRUE(test::EndSessions(left, /*kill=*/true, 10s)) << "an engine process could not be ended";
  }

  void SetUp() override {
    ASSERT_TRUE(fs::exists(kChromium)) << kChromium << " is missing: install chromium (scripts/install-deps.sh)";
    // The engine is detached from the launcher; as subreaper this test
    // inherits it when the launcher ends, and reaps it.
    ASSERT_TRUE(test::BecomeSubreaper());
  }

  std::string Persona(const std::string& extra) const {
    return "{\"cdp-tcp-port\": \"" + std::to_string(port_) + "\"" + extra + "}";
  }

  // A headless run on this closed network in a fresh profile: what a caller
  // of the launcher passes along.
  std::vector<std::wstring> OwnArguments(const std::vector<std::wstring>& extra) const {
    std::vector<std::wstring> own{L"--headless=new",
                                  L"--no-sandbox",
                                  L"--disable-gpu",
                                  L"--no-first-run",
                                  L"--disable-background-networking",
                                  L"--disable-component-update",
                                  L"--disable-sync",
                                  L"--disable-dev-shm-usage",
                                  user_data_arg()};
    // A headless engine takes no lock on its profile; one on the display does.
    // Its crash handler would outlive a second engine that hands its request
    // over, so the test could not see every engine end: it goes too.
    if (!headless_) own.front() = L"--disable-breakpad";
    own.insert(own.end(), extra.begin(), extra.end());
    return own;
  }

  // Runs the launcher to its end, then waits for the engine it left behind
  // to answer on the persona's port.
  bool Launch(const std::string& persona, const std::vector<std::wstring>& extra = {}, bool on_display = false) {
    test::WriteTextFile(profile() / "command-line.json", persona);
    own_ = OwnArguments(extra);
    const auto result = on_display ? Run(own_, {}) : Run(own_);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    if (result.exit_code != 0) return false;
    const bool up = WaitUntil([&] { return test::LoopbackGet(port_, "/json/version", 2s).status == 200; }, 30s);
    EXPECT_TRUE(up) << "the engine never answered on port " << port_;
    return up;
  }

  // Closes the engine over the protocol and waits until all of its
  // processes are gone, so that the profile on disk is complete.
  bool CloseCleanly() {
    const auto sessions = test::SessionsMentioning(dir_.path().string());
    auto browser = test::OpenBrowser(port_);
    return browser && browser->Send("Browser.close") && !sessions.empty() &&
           test::EndSessions(sessions, /*kill=*/false, 30s);
  }

  // The page at `url` once it has loaded.
  std::optional<test::DevToolsSocket> LoadedPage(const std::string& url) {
    std::optional<test::DevToolsSocket> page;
    WaitUntil(
        [&] {
          page = test::OpenPage(port_, url);
          return page && page->Evaluate("location.href") == url && page->Evaluate("document.readyState") == "complete";
        },
        30s);
    return page;
  }

  void OpenTab(const std::string& url) {
    auto browser = test::OpenBrowser(port_);
    ASSERT_TRUE(browser);
    EXPECT_NE(browser->Call("Target.createTarget", "{\"url\":\"" + url + "\"}").find("\"targetId\""),
              std::string::npos);
  }

  // The "Command Line" row of the engine's own chrome://version page. Stock
  // Chromium does not open chrome:// pages named on its command line (it
  // shows a new tab instead), so the test opens the page itself.
  std::string VersionPageCommandLine() {
    OpenTab("chrome://version");
    auto page = LoadedPage("chrome://version/");
    if (!page) return "no chrome://version page";
    const std::string text = page->Evaluate("document.body.innerText");
    const std::size_t row = text.find("\nCommand Line\t");
    if (row == std::string::npos) return text;
    const std::size_t start = row + 14;
    return text.substr(start, text.find('\n', start) - start);
  }

  // The engine lists the switches it was given first, in order, then a few
  // of its own, then the start URL.
  void ExpectVersionPageShows(const std::vector<std::wstring>& launcher_switches) {
    const std::string row = VersionPageCommandLine();
    const std::string head = engine().string() + " " + Join(kFixed) + " " + Join(own_) + " " + Join(launcher_switches) +
                             " ";
    EXPECT_EQ(row.substr(0, head.size()), head) << row;
    EXPECT_THAT(row, ::testing::EndsWith(" chrome://version"));
  }

  std::vector<std::wstring> RemoteDebugging() const {
    return {L"--remote-debugging-port=" + std::to_wstring(port_), L"--remote-debugging-address=127.0.0.1"};
  }

  int port_ = test::UnusedLoopbackPort();
  bool headless_ = true;
  std::vector<std::wstring> own_;
  Watchdog watchdog_;
};

class DirectE2E : public EngineE2E {
 protected:
  DirectE2E() : EngineE2E(QUILLWAVE_LAUNCHER_PATH) {}
};

TEST_F(DirectE2E, EngineOutlivesTheLauncherWithExactlyItsSwitchesAndDebuggingOnLoopbackOnly) {
  ASSERT_TRUE(Launch(Persona("")));  // returns once the launcher has ended
  EXPECT_EQ(ReadStringField(test::LoopbackGet(port_, "/json/version", 10s).body, "Browser").rfind("Chrome/", 0), 0u);
  EXPECT_THAT(ListeningAddresses(port_), ::testing::ElementsAre("127.0.0.1"));

  std::vector<std::wstring> switches = RemoteDebugging();
  for (const auto& s : MachineSwitches()) switches.push_back(s);
  // What the engine process received, argument by argument.
  const auto engines = test::ProcessesRunning(engine().string());
  ASSERT_EQ(engines.size(), 1u);
  std::vector<std::wstring> received;
  for (const auto& argument : test::ProcessArguments(engines[0])) received.push_back(Widen(argument));
  auto with_url = switches;
  with_url.push_back(L"chrome://version");
  EXPECT_EQ(received, Expected(own_, with_url));
  // What the engine itself reports.
  ExpectVersionPageShows(switches);
  EXPECT_TRUE(CloseCleanly());
}

TEST_F(DirectE2E, PersonaStartPageIsThePageTheEngineOpens) {
  test::SiteServer site({{"/", {"text/html", "<!doctype html><title>start</title>"}}});
  const std::string start_page = site.url("/?q=a b&x=1");
  ASSERT_TRUE(Launch(Persona(", \"start-page\": \"" + start_page + "\"")));
  EXPECT_TRUE(LoadedPage(site.url("/?q=a%20b&x=1"))) << Join(test::PageUrls(port_));
  std::vector<std::string> page_requests;
  for (const auto& line : site.request_lines()) {
    if (line.rfind("GET /?", 0) == 0) page_requests.push_back(line);
  }
  EXPECT_THAT(page_requests, ::testing::ElementsAre("GET /?q=a%20b&x=1 HTTP/1.1"));
  EXPECT_TRUE(CloseCleanly());
}

// A start page that the engine would read as a switch is set aside: the
// program it names as the renderers' prefix never runs, although the engine
// renders pages.
TEST_F(DirectE2E, StartPageThatReadsAsASwitchRunsNoProgram) {
  test::SiteServer site({{"/", {"text/html", "<!doctype html><title>page</title>"}}});
  const fs::path marker = dir_.path() / "prefix-ran";
  const fs::path prefix = dir_.path() / "prefix.sh";
  test::WriteTextFile(prefix, "#!/bin/sh\necho ran >> '" + marker.string() + "'\nexec \"$@\"\n");
  fs::permissions(prefix, fs::perms::owner_all);
  ASSERT_TRUE(Launch(Persona(", \"start-page\": \"--renderer-cmd-prefix=" + prefix.string() + "\"")));
  OpenTab(site.url("/"));
  EXPECT_TRUE(LoadedPage(site.url("/"))) << Join(test::PageUrls(port_));
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_NE(test::ReadTextFile(profile() / ".corvane-launcher-result.json")
                .find("\"message\":\"start-page ignored: it would be read as an engine switch\""),
            std::string::npos);
  EXPECT_TRUE(CloseCleanly());
}

// An engine that already runs on the profile keeps it: a launch whose
// persona resets everything leaves every file in place, the running engine
// still reads back its data, and the record says why. Once that engine has
// closed, the next launch resets as usual.
TEST_F(DirectE2E, ARunningEngineKeepsItsProfileFromTheReset) {
  ASSERT_TRUE(std::getenv("DISPLAY") != nullptr) << "run under tests/support/with-xvfb.sh";
  headless_ = false;
  test::SiteServer site({{"/", {"text/html", "<!doctype html><title>kept</title>"}}});
  const std::string start = ", \"start-page\": \"" + site.url("/") + "\"";
  const std::string reset_all = start + R"(, "granular-storage-reset": {"all": true})";
  ASSERT_TRUE(Launch(Persona(start), {}, /*on_display=*/true));
  auto page = LoadedPage(site.url("/"));
  ASSERT_TRUE(page);
  ASSERT_EQ(page->Evaluate("localStorage.setItem('item', 'v'), localStorage.getItem('item')"), "v");
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(profile() / "Default" / "Local Storage"); }, 30s));
  ASSERT_TRUE(fs::is_symlink(profile() / "SingletonLock"));

  ASSERT_TRUE(Launch(Persona(reset_all), {}, /*on_display=*/true));
  // The second engine hands its request to the running one and ends.
  EXPECT_TRUE(WaitUntil([&] { return test::ProcessesRunning(engine().string()).size() == 1; }, 30s));
  EXPECT_TRUE(fs::exists(profile() / "Default" / "Local Storage"));
  EXPECT_EQ(page->Evaluate("localStorage.getItem('item')"), "v");
  EXPECT_NE(test::ReadTextFile(profile() / ".corvane-launcher-result.json")
                .find("\"message\":\"profile in use; housekeeping skipped\""),
            std::string::npos);
  page.reset();
  ASSERT_TRUE(CloseCleanly());

  ASSERT_TRUE(Launch(Persona(reset_all), {}, /*on_display=*/true));
  page = LoadedPage(site.url("/"));
  ASSERT_TRUE(page);
  EXPECT_EQ(page->Evaluate("String(localStorage.getItem('item'))"), "null");
  EXPECT_NE(test::ReadTextFile(profile() / ".corvane-launcher-result.json").find("\"message\":\"\""),
            std::string::npos);
  page.reset();
  EXPECT_TRUE(CloseCleanly());
}

// Site data of every kind the reset knows, written by a page through the
// engine's own APIs and read back the same way.
const char kStoreEverything[] = R"((async () => {
  document.cookie = 'kept=1; max-age=86400';
  localStorage.setItem('item', 'v');
  await new Promise((done, failed) => {
    const request = indexedDB.open('db', 1);
    request.onupgradeneeded = () => request.result.createObjectStore('s');
    request.onsuccess = () => { request.result.close(); done(); };
    request.onerror = failed;
  });
  await navigator.serviceWorker.register('/sw.js');
  await navigator.serviceWorker.ready;
  return 'stored';
})())";
const char kReadEverything[] = R"((async () => [
  'cookie=' + document.cookie,
  'local_storage=' + localStorage.getItem('item'),
  'indexeddb=' + (await indexedDB.databases()).map(d => d.name).join(','),
  'service_workers=' + (await navigator.serviceWorker.getRegistrations()).length,
  'cache_storage=' + (await caches.keys()).join(',')].join(' '))())";
const char kWorker[] =
    "self.addEventListener('install', e => e.waitUntil(caches.open('kept').then(c => c.put('/entry', new "
    "Response('x')))));";

TEST_F(DirectE2E, StorageResetRemovesWhatTheEngineReallyStored) {
  test::SiteServer site(
      {{"/", {"text/html", "<!doctype html><title>store</title>"}}, {"/sw.js", {"application/javascript", kWorker}}});
  const std::string start = ", \"start-page\": \"" + site.url("/") + "\"";
  auto read_back = [&] {
    auto page = LoadedPage(site.url("/"));
    return page ? page->Evaluate(kReadEverything) : "no page: " + Join(test::PageUrls(port_));
  };

  ASSERT_TRUE(Launch(Persona(start)));
  auto page = LoadedPage(site.url("/"));
  ASSERT_TRUE(page);
  ASSERT_EQ(page->Evaluate(kStoreEverything), "stored");
  EXPECT_EQ(read_back(), "cookie=kept=1 local_storage=v indexeddb=db service_workers=1 cache_storage=kept");
  page.reset();
  ASSERT_TRUE(CloseCleanly());
  // Where this engine keeps them: the places the reset removes.
  const fs::path p = profile() / "Default";
  EXPECT_TRUE(fs::is_regular_file(p / "Cookies") || fs::is_regular_file(p / "Network" / "Cookies"));
  EXPECT_TRUE(fs::is_directory(p / "Local Storage"));
  EXPECT_TRUE(fs::is_directory(p / "IndexedDB"));
  EXPECT_TRUE(fs::is_directory(p / "Service Worker" / "CacheStorage"));

  ASSERT_TRUE(Launch(
      Persona(start + R"(, "granular-storage-reset": {"cookies": true, "local_storage": true, "indexeddb": true})")));
  EXPECT_EQ(read_back(), "cookie= local_storage=null indexeddb= service_workers=1 cache_storage=kept");
  ASSERT_TRUE(CloseCleanly());

  ASSERT_TRUE(Launch(Persona(start + R"(, "granular-storage-reset": {"all": true})")));
  EXPECT_EQ(read_back(), "cookie= local_storage=null indexeddb= service_workers=0 cache_storage=");
  EXPECT_TRUE(CloseCleanly());
}

TEST_F(DirectE2E, ClosePreviousTabsKeepsTheEngineFromRestoringThem) {
  test::SiteServer site(
      {{"/one", {"text/html", "one"}}, {"/two", {"text/html", "two"}}, {"/three", {"text/html", "3"}}});
  const std::string one = site.url("/one"), two = site.url("/two");
  const auto restored = [&] {
    const auto urls = test::PageUrls(port_);
    return std::count(urls.begin(), urls.end(), one) + std::count(urls.begin(), urls.end(), two);
  };
  ASSERT_TRUE(Launch(Persona("")));
  OpenTab(one);
  OpenTab(two);
  ASSERT_TRUE(LoadedPage(one) && LoadedPage(two));
  ASSERT_TRUE(CloseCleanly());

  // The engine's own restore switch brings both back...
  ASSERT_TRUE(Launch(Persona(""), {L"--restore-last-session"}));
  EXPECT_TRUE(WaitUntil([&] { return restored() == 2; }, 30s)) << Join(test::PageUrls(port_));
  ASSERT_TRUE(CloseCleanly());

  // ...unless the launcher removed the session first. A tab opened after
  // start-up has loaded shows that start-up (and any restore) is over.
  ASSERT_TRUE(Launch(Persona(R"(, "close-previous-tabs": true)"), {L"--restore-last-session"}));
  OpenTab(site.url("/three"));
  EXPECT_TRUE(LoadedPage(site.url("/three")));
  EXPECT_EQ(restored(), 0) << Join(test::PageUrls(port_));
  EXPECT_TRUE(CloseCleanly());
}

// The discovery launch (a launcher with loopback endpoints, real curl through
// microsocks, the GTK window on the test's X server) hands the engine the
// switches it discovered.
class DiscoveryE2E : public EngineE2E {
 protected:
  DiscoveryE2E() : EngineE2E(QUILLWAVE_LOOPBACK_LAUNCHER_PATH) {
    fs::copy_file(BuiltFile(QUILLWAVE_MODULE_PATH), app() / "quillwave-progress-gtk.so");
  }

  int StartProxy() {
    int port = 0;
    proxy_ = test::StartSocksProxy(port);
    EXPECT_NE(proxy_, nullptr) << "microsocks did not start; scripts/install-deps.sh installs it";
    return port;
  }

  std::unique_ptr<test::BackgroundProcess> proxy_;
};

TEST_F(DiscoveryE2E, DiscoveredSwitchesReachTheEngine) {
  ASSERT_TRUE(std::getenv("DISPLAY") != nullptr) << "run under tests/support/with-xvfb.sh";
  test::LoopbackHttpServer endpoint(200, kBerlinAnswer, kPrimaryPort);
  const int proxy = StartProxy();
  ASSERT_TRUE(
      Launch(Persona(", \"proxy-server\": \"socks5://127.0.0.1:" + std::to_string(proxy) +
                     R"(", "auto-timezone": true, "auto-lang": true, "auto-geo": true, "webrtc-no-leak": true)"),
             {}, /*on_display=*/true));
  EXPECT_EQ(endpoint.requests().size(), 1u);
  std::vector<std::wstring> switches = kBerlinSwitches;
  for (const auto& s : MachineSwitches()) switches.push_back(s);
  for (const auto& s : RemoteDebugging()) switches.push_back(s);
  ExpectVersionPageShows(switches);
  EXPECT_TRUE(CloseCleanly());
}

}  // namespace
}  // namespace quillwave
