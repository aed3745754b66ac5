// The probe with the system's real curl through a real SOCKS5 proxy
// (microsocks) against an HTTP endpoint, all on 127.0.0.1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "discovery/curl_probe.h"
#include "discovery/endpoints.h"
#include "platform/child_output.h"
#include "platform/encoding.h"
#include "tests/support/loopback.h"
#include "tests/support/temp_dir.h"

namespace quillwave {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kMicrosocks[] = "/usr/bin/microsocks";
const std::string kKeyHeader = "X-API-Key: 7c3e91f04ab25d68e0b7f1a9c4d2e8356b0a9f1e";

// The probe knows the primary endpoint by ":<its port>/geo" in its URL; a query
// carries the marker so the test endpoint can keep a port of its own.
const std::string kPrimaryMarker = ":" + std::to_string(endpoints::kPrimaryPort) + "/geo";
std::string PrimaryUrl(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/geo?via=" + kPrimaryMarker; }
std::string OtherUrl(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/myip"; }
std::string Proxy(int port, const std::string& credentials = "") {
  return "socks5://" + credentials + "127.0.0.1:" + std::to_string(port);
}

class RealCurl : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring curl = platform::FindSystemCurl().path;
    ASSERT_TRUE(fs::exists(curl)) << "curl is missing at " << Narrow(curl) << "; scripts/install-deps.sh installs it";
    ASSERT_TRUE(fs::exists(kMicrosocks)) << "microsocks is missing at " << kMicrosocks
                                         << "; scripts/install-deps.sh installs it";
  }

  // microsocks on a free loopback port, with a login when `user` is given.
  // The port is free when chosen but not held, so a lost race is retried.
  int StartProxy(const std::string& user = "", const std::string& password = "") {
    for (int attempt = 0; attempt < 5; ++attempt) {
      const int port = test::UnusedLoopbackPort();
      std::vector<std::string> arguments{"-i", "127.0.0.1", "-p", std::to_string(port)};
      if (!user.empty()) arguments.insert(arguments.end(), {"-u", user, "-P", password});
      auto proxy = std::make_unique<test::BackgroundProcess>(kMicrosocks, arguments);
      if (test::WaitForLoopbackPort(port, 5s, *proxy)) {
        proxies_.push_back(std::move(proxy));
        return port;
      }
    }
    ADD_FAILURE() << "microsocks did not start";
    return 0;
  }

  std::vector<std::unique_ptr<test::BackgroundProcess>> proxies_;
};

// The command line of every process that names `url` in it, as any local
// user can read it.
std::vector<std::string> CommandLinesNaming(const std::string& url) {
  std::vector<std::string> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
    std::ifstream file(entry.path() / "cmdline", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (text.find(url) != std::string::npos) found.push_back(std::move(text));
  }
  return found;
}

// While curl waits for the answer its command line, open to every local
// user, holds neither the proxy's password nor the key; both reached curl
// all the same: the proxy let it in and the endpoint got the key.
TEST_F(RealCurl, JsonAnswerThroughAProxyWithLogin) {
  std::mutex mutex;
  std::vector<std::string> command_lines;
  test::ServedAnswer answer{
      200, R"({"ip":"203.0.113.9","country":"JP","timezone":"Asia/Tokyo","latitude":35.6895,"longitude":"139.6917"})"};
  std::string url;
  answer.before_answer = [&] {
    const std::lock_guard lock(mutex);
    command_lines = CommandLinesNaming(url);
  };
  test::LoopbackHttpServer endpoint(std::move(answer));
  const int proxy = StartProxy("quill", "s3cret");
  {
    const std::lock_guard lock(mutex);
    url = PrimaryUrl(endpoint.port());
  }
  const ProbeOutcome outcome = probe_egress(Proxy(proxy, "quill:s3cret@"), PrimaryUrl(endpoint.port()));
  {
    const std::lock_guard lock(mutex);
    ASSERT_EQ(command_lines.size(), 1u);
    EXPECT_EQ(command_lines[0].find("s3cret"), std::string::npos) << command_lines[0];
    EXPECT_EQ(command_lines[0].find("7c3e91f04ab25d68"), std::string::npos) << command_lines[0];
  }
  EXPECT_EQ(outcome.error_code, "") << outcome.message;
  EXPECT_EQ(outcome.curl_exit_code, 0);
  EXPECT_EQ(outcome.ip, "203.0.113.9");
  EXPECT_EQ(outcome.country_code, "JP");
  EXPECT_EQ(outcome.timezone, "Asia/Tokyo");
  EXPECT_EQ(outcome.latitude, "35.6895");
  EXPECT_EQ(outcome.longitude, "139.6917");
  const auto requests = endpoint.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].starts_with("GET /geo?via=" + kPrimaryMarker + " HTTP/1.1\r\n")) << requests[0];
  EXPECT_NE(requests[0].find("\r\n" + kKeyHeader + "\r\n"), std::string::npos) << requests[0];
}

TEST_F(RealCurl, PlainAnswerThroughAnOpenProxy) {
  test::LoopbackHttpServer endpoint(200, "2001:db8::42\n");
  const ProbeOutcome outcome = probe_egress(Proxy(StartProxy()), OtherUrl(endpoint.port()));
  EXPECT_EQ(outcome.error_code, "") << outcome.message;
  EXPECT_EQ(outcome.ip, "2001:db8::42");
  const auto requests = endpoint.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].find("X-API-Key"), std::string::npos);
}

TEST_F(RealCurl, ProxyAndEndpointFailures) {
  test::LoopbackHttpServer endpoint(200, "203.0.113.9");
  test::LoopbackHttpServer missing_page(404, "not here");
  const test::LoopbackPort closed(false);
  const int with_login = StartProxy("quill", "s3cret");
  const int open = StartProxy();
  struct Case {
    const char* name;
    std::string proxy;
    std::string url;
    int exit_code;
    const char* code;
  };
  for (const Case& c : std::vector<Case>{
           {"wrong password", Proxy(with_login, "quill:wrong@"), OtherUrl(endpoint.port()), 97, kProxyAuthFailed},
           {"no password", Proxy(with_login), OtherUrl(endpoint.port()), 97, kProxyAuthFailed},
           {"proxy port closed", Proxy(closed.port()), OtherUrl(endpoint.port()), 7, kProxyUnreachable},
           {"endpoint refused", Proxy(open), OtherUrl(closed.port()), 97, kProxyUnreachable},
           {"primary answers 404", Proxy(open), PrimaryUrl(missing_page.port()), 22, kInternal}}) {
    const ProbeOutcome outcome = probe_egress(c.proxy, c.url);
    EXPECT_EQ(outcome.error_code, c.code) << c.name;
    EXPECT_EQ(outcome.curl_exit_code, c.exit_code) << c.name;
    EXPECT_EQ(outcome.message, "curl exit " + std::to_string(c.exit_code) + " against " + c.url + " via " +
                                   std::regex_replace(c.proxy, std::regex(":[^:@]*@"), ":***@") + " after " +
                                   std::to_string(outcome.elapsed_ms) + " ms")
        << c.name;
  }
  EXPECT_TRUE(endpoint.requests().empty());
}

// A proxy value that closes its quotes and puts a curl option on a line of
// its own stays one (unusable) proxy value: the option never takes effect.
// A password with a backslash and a double quote reaches the proxy as it is.
TEST_F(RealCurl, ProxyTextCannotAddOptionsToCurl) {
  test::LoopbackHttpServer endpoint(200, "203.0.113.9");
  const test::ScopedTempDir dir;
  const fs::path written = dir.path() / "written";
  const int open = StartProxy();
  for (const std::string& tail :
       {"\"\noutput = \"" + written.string(), "\"\nurl = \"" + OtherUrl(endpoint.port()) + "?second"}) {
    const ProbeOutcome outcome = probe_egress(Proxy(open) + tail, OtherUrl(endpoint.port()));
    EXPECT_NE(outcome.error_code, "") << tail;
  }
  EXPECT_FALSE(fs::exists(written));
  EXPECT_TRUE(endpoint.requests().empty());

  const int with_login = StartProxy("quill", "pa\\\"ss");
  const ProbeOutcome outcome = probe_egress(Proxy(with_login, "quill:pa\\\"ss@"), OtherUrl(endpoint.port()));
  EXPECT_EQ(outcome.error_code, "") << outcome.message;
  EXPECT_EQ(endpoint.requests().size(), 1u);
}

// Peak resident memory in KiB; when the system lets us, the peak is reset
// first so that only what follows counts.
long PeakResidentKib(bool reset) {
  if (reset) std::ofstream("/proc/self/clear_refs") << "5";
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

// 64 MiB from the endpoint: read to the end, counted, but only the cap is
// kept, so the probe's memory stays bounded whatever the endpoint sends.
TEST_F(RealCurl, HugeAnswerIsCountedButOnlyTheCapIsKept) {
  std::string piece(64 * 1024, 'x');
  for (std::size_t i = 0; i < piece.size(); i += 64) piece[i] = "0123456789"[i / 64 % 10];
  test::LoopbackHttpServer endpoint(test::ServedAnswer{200, piece, 1024});
  const long before = PeakResidentKib(true);
  const ProbeOutcome outcome = probe_egress("", OtherUrl(endpoint.port()));
  const long growth = PeakResidentKib(false) - before;
  EXPECT_EQ(outcome.error_code, kDiscoveryHttpError);
  EXPECT_EQ(outcome.message, "curl exit 0 but no usable IP in response \xE2\x80\x94 got 67108864 bytes, head: \"" +
                                 piece.substr(0, 80) + "\"");
  EXPECT_LT(growth, 16 * 1024) << "KiB more at the peak";
}

// The endpoint closes the connection in the middle of its JSON: a failure
// with curl's code, never an answer made of the part that arrived.
TEST_F(RealCurl, AnswerCutMidBodyIsAFailure) {
  const std::string json = R"({"ip": "203.0.113.9", "country": "DE", "timezone": "Europe/Berlin"})";
  for (const std::size_t cut : {std::size_t{0}, std::size_t{14}, json.size() - 1}) {
    test::LoopbackHttpServer endpoint(test::ServedAnswer{200, json, 1, cut});
    const ProbeOutcome outcome = probe_egress("", PrimaryUrl(endpoint.port()));
    EXPECT_EQ(outcome.error_code, kInternal) << cut;
    EXPECT_EQ(outcome.curl_exit_code, 18) << cut;
    EXPECT_EQ(outcome.ip + outcome.country_code + outcome.timezone, "") << cut;
  }
}

// Slow (about ten seconds): a proxy that accepts and never answers leaves
// the request to curl's own time limit.
TEST_F(RealCurl, SlowSilentProxyTimesOut) {
  const test::LoopbackPort silent(true);
  const ProbeOutcome outcome = probe_egress(Proxy(silent.port()), OtherUrl(1));
  EXPECT_EQ(outcome.error_code, kProxyTimeout);
  EXPECT_EQ(outcome.curl_exit_code, 28);
  EXPECT_GE(outcome.elapsed_ms, 9000);
}

}  // namespace
}  // namespace quillwave
