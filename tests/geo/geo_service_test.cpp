// quillwave-geo's answers over real HTTP on loopback, row by row: the
// service runs in the test process on the test database, once as clients
// reach it directly and once behind a trusted load balancer.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cerrno>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "geo/api_keys.h"
#include "geo/options.h"
#include "geo/service.h"
#include "tests/geo/geo_test_support.h"
#include "tests/support/temp_dir.h"

namespace quillwave::geo {
namespace {

constexpr char kKeyFile[] = "# rotation: the new key first\nsecond-key-4567\n\n  first-key-0123  \n";
const std::string kParis =
    R"({"ip":"127.0.0.1","country":"FR","timezone":"Europe/Paris","latitude":48.8566,"longitude":2.3522})"
    "\n";
const std::string kBerlin =
    R"({"ip":"203.0.113.9","country":"DE","timezone":"Europe/Berlin","latitude":52.52,"longitude":13.405})"
    "\n";
const std::string kUnknownKey = "{\"error\":\"missing or wrong X-API-Key\"}\n";
const std::string kControl = "{\"error\":\"a header value holds a control character\"}\n";
const std::string kHealth = "{\"status\":\"ok\",\"database_built\":\"2024-01-01T00:00:00Z\"}\n";

struct RunningService {
  std::unique_ptr<GeoService> service;
  std::string address;
  int port = 0;
};

class GeoServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new test::ScopedTempDir();
    std::string error;
    ASSERT_TRUE(test::WriteTestDatabase(directory_->path() / "city.mmdb", "first", error)) << error;
    OpenedDatabase opened = OpenGeoDatabase((directory_->path() / "city.mmdb").string());
    ASSERT_NE(opened.database, nullptr) << opened.error;
    auto data = std::make_shared<ServedData>();
    data->database = opened.database;
    data->keys = ParseApiKeys(kKeyFile).keys;
    data_ = new std::shared_ptr<const ServedData>(data);
    direct_ = new RunningService(Start("127.0.0.1:0", {}, data));
    behind_balancer_ = new RunningService(Start("127.0.0.1:0", {*ParseAddressRange("127.0.0.0/8")}, data));
    over_ipv6_ = new RunningService(Start("[::1]:0", {}, data));
  }

  static void TearDownTestSuite() {
    delete direct_;
    delete behind_balancer_;
    delete over_ipv6_;
    delete directory_;
    delete data_;
  }

  static RunningService Start(const std::string& listen, std::vector<AddressRange> trusted,
                              std::shared_ptr<const ServedData> data, ServiceSettings settings = {}) {
    RunningService running;
    Listener listener = Listen(listen);
    EXPECT_EQ(listener.error, "");
    settings.threads = 2;
    settings.trusted_proxies = std::move(trusted);
    settings.metrics_from = {*ParseAddressRange("127.0.0.0/8")};
    std::string error;
    running.service = GeoService::Start(std::move(listener.socket), settings, std::move(data), error);
    EXPECT_NE(running.service, nullptr) << error;
    running.address = listen.starts_with("[") ? "::1" : "127.0.0.1";
    running.port = std::stoi(listener.address.substr(listener.address.rfind(':') + 1));
    return running;
  }

  static test::ScopedTempDir* directory_;
  static std::shared_ptr<const ServedData>* data_;
  static RunningService* direct_;
  static RunningService* behind_balancer_;
  static RunningService* over_ipv6_;
};
test::ScopedTempDir* GeoServiceTest::directory_ = nullptr;
std::shared_ptr<const ServedData>* GeoServiceTest::data_ = nullptr;
RunningService* GeoServiceTest::direct_ = nullptr;
RunningService* GeoServiceTest::behind_balancer_ = nullptr;
RunningService* GeoServiceTest::over_ipv6_ = nullptr;

struct Row {
  const char* name;
  const RunningService* server;
  std::string request;  // request line and headers; the test ends the head
  int status;
  std::string body;
};

std::string Get(const std::string& path, const std::string& headers) {
  return "GET " + path + " HTTP/1.1\r\nHost: geo.test\r\nConnection: close\r\n" + headers;
}
const std::string kFirstKey = "X-API-Key: first-key-0123\r\n";

TEST_F(GeoServiceTest, AnswersEachRequestAsItShould) {
  const std::string padding = "X-Padding: " + std::string(20000, 'p') + "\r\n";
  // A head counts its method, its path and each header's name and value
  // plus four; the other headers of these two rows come to 82.
  const auto padded = [](std::size_t size) { return "X-Padding: " + std::string(size - 82, 'p') + "\r\n"; };
  const Row rows[] = {
      {"IPv4 client", direct_, Get("/geo", kFirstKey), 200, kParis},
      {"IPv6 client", over_ipv6_, Get("/geo", kFirstKey), 200,
       R"({"ip":"::1","country":"NZ","timezone":"Pacific/Auckland","latitude":-36.8485,"longitude":174.7633})"
       "\n"},
      {"the other key of the file", direct_, Get("/geo", "x-api-key: second-key-4567\r\n"), 200, kParis},
      {"a query is no other path", direct_, Get("/geo?format=json", kFirstKey), 200, kParis},
      {"no key", direct_, Get("/geo", ""), 401, kUnknownKey},
      {"wrong key", direct_, Get("/geo", "X-API-Key: first-key-0124\r\n"), 401, kUnknownKey},
      {"a key's beginning", direct_, Get("/geo", "X-API-Key: first-key-012\r\n"), 401, kUnknownKey},
      {"a key with more than blanks around it", direct_, Get("/geo", "X-API-Key: ~first-key-0123\r\n"), 401,
       kUnknownKey},
      {"X-Forwarded-For from an untrusted peer", direct_, Get("/geo", kFirstKey + "X-Forwarded-For: 203.0.113.9\r\n"),
       200, kParis},
      {"X-Forwarded-For from a trusted peer", behind_balancer_,
       Get("/geo", kFirstKey + "X-Forwarded-For: 203.0.113.9\r\n"), 200, kBerlin},
      {"the right-most untrusted address", behind_balancer_,
       Get("/geo", kFirstKey + "X-Forwarded-For: 198.51.100.1, 203.0.113.9, 127.0.0.7\r\n"), 200, kBerlin},
      {"an IPv6 address forwarded", behind_balancer_, Get("/geo", kFirstKey + "X-Forwarded-For: 2001:db8:1::5\r\n"),
       200,
       R"({"ip":"2001:db8:1::5","country":"JP","timezone":"Asia/Tokyo","latitude":35.6895,"longitude":139.6917})"
       "\n"},
      {"a database without the location", behind_balancer_,
       Get("/geo", kFirstKey + "X-Forwarded-For: 198.51.100.7\r\nX-Forwarded-For: 127.0.0.8\r\n"), 200,
       "{\"ip\":\"198.51.100.7\",\"country\":\"BR\"}\n"},
      {"an address not in the database", behind_balancer_, Get("/geo", kFirstKey + "X-Forwarded-For: 192.0.2.1\r\n"),
       200, "{\"ip\":\"192.0.2.1\"}\n"},
      {"a forwarded list that is not addresses", behind_balancer_,
       Get("/geo", kFirstKey + "X-Forwarded-For: 203.0.113.9, unknown\r\n"), 200, kParis},
      {"unknown path", direct_, Get("/geoip", kFirstKey), 404, "{\"error\":\"not found\"}\n"},
      {"the root", direct_, Get("/", kFirstKey), 404, "{\"error\":\"not found\"}\n"},
      {"another method", direct_, "DELETE /geo HTTP/1.1\r\nHost: geo.test\r\nConnection: close\r\n" + kFirstKey, 405,
       "{\"error\":\"only GET and HEAD\"}\n"},
      {"a body", direct_,
       "POST /geo HTTP/1.1\r\nHost: geo.test\r\nConnection: close\r\nContent-Length: 5\r\n" + kFirstKey, 413,
       "{\"error\":\"a request body is not accepted\"}\n"},
      {"an oversized header", direct_, Get("/geo", kFirstKey + padding), 431,
       "{\"error\":\"the request head is too large\"}\n"},
      {"a head of 16 KiB", direct_, Get("/geo", kFirstKey + padded(16384)), 200, kParis},
      {"a head a byte larger", direct_, Get("/geo", kFirstKey + padded(16385)), 431,
       "{\"error\":\"the request head is too large\"}\n"},
      {"an oversized header, the connection not closed by the client", direct_,
       "GET /geo HTTP/1.1\r\nHost: geo.test\r\n" + kFirstKey + padding, 431,
       "{\"error\":\"the request head is too large\"}\n"},
      {"blanks around the key", direct_, Get("/geo", "X-API-Key: \t first-key-0123 \t\r\n"), 200, kParis},
      {"a control character in another header", direct_, Get("/geo", kFirstKey + "X-Note: a\x01b\r\n"), 400, kControl},
      {"the absolute form", direct_, Get("http://geo.test:65333/geo", kFirstKey), 200, kParis},
      {"the absolute form of the health path", direct_, Get("HTTP://geo.test/healthz", ""), 200, kHealth},
      {"metrics for an address not allowed", behind_balancer_, Get("/metrics", "X-Forwarded-For: 203.0.113.9\r\n"), 404,
       "{\"error\":\"not found\"}\n"},
      {"health", direct_, Get("/healthz", ""), 200, kHealth},
      {"HEAD", direct_, "HEAD /geo HTTP/1.1\r\nHost: geo.test\r\nConnection: close\r\n" + kFirstKey, 200, ""},
      {"metrics by another method", direct_, "DELETE /metrics HTTP/1.1\r\nHost: geo.test\r\nConnection: close\r\n", 405,
       "{\"error\":\"only GET and HEAD\"}\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const RunningService& server = *row.server;
    const std::string body = row.status == 413 ? "hello" : "";
    const test::HttpAnswer answer =
        test::ParseHttpAnswer(test::HttpExchange(server.address, server.port, row.request + "\r\n" + body));
    EXPECT_EQ(answer.status, row.status) << answer.head;
    EXPECT_EQ(answer.body, row.body);
    if (row.status == 405) {
      EXPECT_NE(answer.head.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << answer.head;
    }
    if (row.status == 431) {  // the rest of that head is never read
      EXPECT_NE(answer.head.find("\r\nConnection: close\r\n"), std::string::npos) << answer.head;
    }
  }
}

// Each line of the text format: a comment, or a sample "name{labels} value".
TEST_F(GeoServiceTest, MetricsAreInTheTextFormatAndCountRejectedKeys) {
  test::HttpExchange(direct_->address, direct_->port, Get("/geo", "X-API-Key: wrong\r\n") + "\r\n");
  const test::HttpAnswer answer =
      test::ParseHttpAnswer(test::HttpExchange(direct_->address, direct_->port, Get("/metrics", "") + "\r\n"));
  ASSERT_EQ(answer.status, 200) << answer.head;
  EXPECT_NE(answer.head.find("Content-Type: text/plain; version=0.0.4\r\n"), std::string::npos) << answer.head;
  const std::regex comment(R"(# (HELP [a-z_]+ .+|TYPE [a-z_]+ (counter|gauge|histogram)))");
  const std::regex sample(R"(([a-z_]+)(\{[a-z]+="[^"]*"\})? ([0-9.e+]+|\+Inf))");
  std::map<std::string, double> samples;
  std::istringstream lines(answer.body);
  for (std::string line; std::getline(lines, line);) {
    std::smatch parts;
    if (std::regex_match(line, comment)) continue;
    ASSERT_TRUE(std::regex_match(line, parts, sample)) << line;
    samples[parts[1].str() + parts[2].str()] = std::stod(parts[3]);
  }
  EXPECT_GE(samples["quillwave_geo_rejected_keys_total"], 1);
  EXPECT_GE(samples["quillwave_geo_requests_total{code=\"401\"}"], 1);
  EXPECT_EQ(samples["quillwave_geo_database_build_timestamp_seconds"], 1704067200);
  EXPECT_GE(samples["quillwave_geo_open_connections"], 1);
  EXPECT_TRUE(samples.contains("quillwave_geo_request_duration_seconds_sum"));
  EXPECT_EQ(samples["quillwave_geo_request_duration_seconds_count"],
            samples["quillwave_geo_request_duration_seconds_bucket{le=\"+Inf\"}"]);
  EXPECT_EQ(answer.body.find("wrong"), std::string::npos);
}

// 1 200 connections of one address hold half-sent heads: the address's
// limit leaves room for others, and a head that trickles in is cut at its
// deadline although bytes keep coming.
TEST_F(GeoServiceTest, OneAddressCannotStarveTheOthers) {
  const RunningService server = Start("127.0.0.1:0", {}, *data_);
  std::vector<platform::UniqueFd> held;
  for (int i = 0; i < 1200; ++i) {
    held.push_back(test::ConnectTo("127.0.0.1", server.port));
    ASSERT_TRUE(held.back().valid()) << i;
    send(held.back().get(), "GET /geo HTTP/1.1\r\nHost: x\r\n", 28, MSG_NOSIGNAL);
  }
  const auto asked = std::chrono::steady_clock::now();
  const test::HttpAnswer answer =
      test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", server.port, Get("/geo", kFirstKey) + "\r\n", "127.0.0.2"));
  EXPECT_EQ(answer.status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
  const test::HttpAnswer refused = test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", server.port, ""));
  EXPECT_TRUE(refused.head.starts_with("HTTP/1.1 429 Too Many Requests\r\n")) << refused.head;
  EXPECT_EQ(refused.body, "{\"error\":\"too many connections from this address\"}\n");

  // The trickling head goes to a server with a deadline of 1 s; the one
  // above keeps the default 5 s, so that no held head is cut, and no place
  // freed, while its limit is checked.
  ServiceSettings settings;
  settings.head_timeout = std::chrono::seconds(1);
  const RunningService quick = Start("127.0.0.1:0", {}, *data_, settings);
  const platform::UniqueFd slow = test::ConnectTo("127.0.0.1", quick.port);
  const auto started = std::chrono::steady_clock::now();
  std::string got;
  char buffer[512];
  while (std::chrono::steady_clock::now() - started < std::chrono::seconds(4)) {
    if (send(slow.get(), "G", 1, MSG_NOSIGNAL) != 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const ssize_t read = recv(slow.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (read > 0) got.append(buffer, static_cast<std::size_t>(read));
    if (read == 0 || (read < 0 && errno != EAGAIN)) break;
  }
  EXPECT_TRUE(got.starts_with("HTTP/1.1 408 ")) << got;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
  // A kept connection waiting for its next request is closed at that
  // deadline without a word, as at its idle timeout.
  const auto kept_since = std::chrono::steady_clock::now();
  const std::string kept = test::HttpExchange("127.0.0.1", quick.port, "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(test::ParseHttpAnswer(kept).body, kHealth);
  EXPECT_LT(std::chrono::steady_clock::now() - kept_since, std::chrono::milliseconds(2500));
}

// A service on [::] reached over IPv4 sees the client's IPv4 address, not
// its IPv6 mapping: in the answer, the per-address count and the trusted ranges.
TEST_F(GeoServiceTest, AServiceOnAllIpv6AddressesSeesIpv4ClientsAsIpv4) {
  const RunningService dual = Start("[::]:0", {}, *data_);
  const test::HttpAnswer answer =
      test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", dual.port, Get("/geo", kFirstKey) + "\r\n"));
  EXPECT_EQ(answer.body, kParis);
}

// Each line of a key file is a key, a comment or blank; anything else is
// refused with its line.
TEST(GeoApiKeys, ReadsKeysCommentsAndBlankLines) {
  EXPECT_EQ(ParseApiKeys(kKeyFile).keys, (std::vector<std::string>{"second-key-4567", "first-key-0123"}));
  const std::pair<std::string, std::string> refused[] = {
      {"good-key\nbad key\n", "line 2: a key is 1 to 256 visible ASCII characters without blanks"},
      {std::string(257, 'k'), "line 1: a key is 1 to 256 visible ASCII characters without blanks"},
      {"# only a comment\n\n", "no key in it"},
  };
  for (const auto& [text, error] : refused) {
    const ApiKeys read = ParseApiKeys(text);
    EXPECT_EQ(read.error, error) << text;
    EXPECT_TRUE(read.keys.empty()) << text;
  }
}

// A connection that ends gives back its own place and no other: with a
// limit of two, one held and one ended leave room for exactly one more.
TEST_F(GeoServiceTest, AnEndedConnectionGivesBackOnePlace) {
  ServiceSettings settings;
  settings.max_per_address = 2;
  settings.head_timeout = std::chrono::seconds(3);
  const RunningService server = Start("127.0.0.1:0", {}, *data_, settings);
  platform::UniqueFd ended = test::ConnectTo("127.0.0.1", server.port);
  const platform::UniqueFd held = test::ConnectTo("127.0.0.1", server.port);
  ended.Reset();
  // Open are then the held one and the one asking (from another address).
  const auto open = [&] {
    const std::string body =
        test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", server.port, Get("/metrics", "") + "\r\n", "127.0.0.3"))
            .body;
    constexpr std::string_view kSample = "\nquillwave_geo_open_connections ";
    const std::size_t at = body.find(kSample);
    return at == std::string::npos ? -1 : std::atoi(body.c_str() + at + kSample.size());
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int now_open = 0;
  while ((now_open = open()) != 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(now_open, 2);
  const platform::UniqueFd third = test::ConnectTo("127.0.0.1", server.port);
  const platform::UniqueFd fourth = test::ConnectTo("127.0.0.1", server.port);
  std::multiset<int> statuses;
  for (const platform::UniqueFd* socket : {&third, &fourth}) {
    std::string got;
    char buffer[512];
    for (ssize_t read; (read = recv(socket->get(), buffer, sizeof buffer, 0)) > 0;) got.append(buffer, read);
    statuses.insert(test::ParseHttpAnswer(got).status);
  }
  EXPECT_EQ(statuses, (std::multiset<int>{408, 429}));  // one cut at its deadline, one refused
  const std::string metrics =
      test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", server.port, Get("/metrics", "") + "\r\n", "127.0.0.3"))
          .body;
  // The held one and the one let in, each cut at its deadline.
  EXPECT_NE(metrics.find("\nquillwave_geo_requests_total{code=\"408\"} 2\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("\nquillwave_geo_rejected_keys_total 0\n"), std::string::npos) << metrics;
}

// What an operator learns when the service is pointed at no database.
TEST(GeoDatabase, SaysWhyAPathIsNoDatabase) {
  test::ScopedTempDir directory;
  test::WriteTextFile(directory.path() / "notes.txt", "no database\n");
  EXPECT_EQ(OpenGeoDatabase(directory.path().string()).error, "not a regular file");
  EXPECT_EQ(OpenGeoDatabase((directory.path() / "missing.mmdb").string()).error,
            "cannot open the file (No such file or directory)");
  EXPECT_EQ(OpenGeoDatabase((directory.path() / "notes.txt").string()).error,
            "The MaxMind DB file contains invalid metadata");
  // Coordinates stored in single precision are read as well.
  std::string error;
  ASSERT_TRUE(test::WriteTestDatabase(directory.path() / "float.mmdb", "float", error)) << error;
  const OpenedDatabase opened = OpenGeoDatabase((directory.path() / "float.mmdb").string());
  ASSERT_NE(opened.database, nullptr) << opened.error;
  const std::optional<GeoPlace> paris = opened.database->Lookup(*ParseIpAddress("127.0.0.1"));
  ASSERT_TRUE(paris && paris->latitude && paris->longitude);
  EXPECT_NEAR(*paris->latitude, 48.8566, 1e-4);
  EXPECT_NEAR(*paris->longitude, 2.3522, 1e-4);
}

// An address a client writes itself is believed only from a trusted proxy.
TEST(GeoClientAddress, BelievesForwardedForOnlyFromATrustedPeer) {
  const IpAddress peer = *ParseIpAddress("198.51.100.1");
  const IpAddress proxy = *ParseIpAddress("10.0.0.2");
  const std::vector<AddressRange> trusted = {*ParseAddressRange("10.0.0.0/8")};
  EXPECT_EQ(ClientAddress(peer, "203.0.113.9", trusted), peer);
  EXPECT_EQ(ClientAddress(proxy, "203.0.113.9", trusted), *ParseIpAddress("203.0.113.9"));
  EXPECT_EQ(ClientAddress(proxy, " ", trusted), proxy);
  EXPECT_EQ(ClientAddress(proxy, ",10.0.0.3", trusted), proxy);  // nothing before the first comma
  EXPECT_FALSE(ParseIpAddress(std::string(100, '1')));           // longer than any address
  // A prefix that ends inside a byte.
  const AddressRange half = *ParseAddressRange("10.0.0.0/9");
  EXPECT_TRUE(InRange(*ParseIpAddress("10.127.255.255"), half));
  EXPECT_FALSE(InRange(*ParseIpAddress("10.128.0.0"), half));
}

// The command line word by word: whole names only, each value checked, and
// the message an operator reads for what is wrong.
TEST(GeoOptions, TakesWholeNamesAndSaysWhatIsWrong) {
  const auto with_files = [](std::vector<std::string> more) {
    std::vector<std::string> words = {"--database", "geo.mmdb", "--api-key-file", "keys"};
    words.insert(words.end(), more.begin(), more.end());
    return words;
  };
  const std::string proxy = " takes an address or a CIDR range (10.0.0.0/8), not ";
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {with_files({"--max-connections-per-address", "0", "--head-timeout=3600", "--log-clients"}), ""},
      {{"--help"}, ""},
      {{"--api-key-file", "keys"}, "--database FILE is needed"},
      {{"--database", "geo.mmdb"}, "--api-key-file FILE is needed"},
      {with_files({"--max-connections", "0"}), "--max-connections takes a number from 1 to 1000000, not '0'"},
      {with_files({"--max-connections=1000001"}), "--max-connections takes a number from 1 to 1000000, not '1000001'"},
      {with_files({"--max-connections-per-address", "-1"}),
       "--max-connections-per-address takes a number from 0 to 1000000, not '-1'"},
      {with_files({"--head-timeout", "5s"}), "--head-timeout takes a number of seconds from 1 to 3600, not '5s'"},
      {with_files({"--head-timeout", "0"}), "--head-timeout takes a number of seconds from 1 to 3600, not '0'"},
      {with_files({"--trusted-proxy", "10.0.0.0/33"}), "--trusted-proxy" + proxy + "'10.0.0.0/33'"},
      {with_files({"--metrics-from=host"}), "--metrics-from" + proxy + "'host'"},
      {with_files({"--data", "x"}), "unknown argument '--data'"},
      {with_files({"-d"}), "unknown argument '-d'"},
      {with_files({"geo.mmdb"}), "unknown argument 'geo.mmdb'"},
      {with_files({"--access-log=yes"}), "--access-log takes no value"},
      {with_files({"--listen"}), "--listen needs a value"},
  };
  for (const auto& [words, error] : rows) {
    EXPECT_EQ(ParseGeoOptions(words).error, error) << ::testing::PrintToString(words);
  }
  for (const char* address :
       {"127.0.0.1", "127.0.0.1:1x", "127.0.0.1:-1", "127.0.0.1:65536", "[127.0.0.1]:1", "::1:1", "localhost:1"}) {
    EXPECT_TRUE(Listen(address).malformed) << address;
  }
  EXPECT_EQ(Listen("192.0.2.1:0").error, "cannot listen on 192.0.2.1:0: Cannot assign requested address");
  const GeoOptions read = ParseGeoOptions(rows[0].first);
  EXPECT_EQ(read.max_per_address, 0u);
  EXPECT_EQ(read.head_timeout, std::chrono::seconds(3600));
  EXPECT_TRUE(read.log_clients);
  EXPECT_EQ(read.metrics_from.size(), 2u);  // loopback, both families
  const GeoOptions logged = ParseGeoOptions(with_files({"--access-log"}));
  EXPECT_EQ(logged.error, "");
  EXPECT_TRUE(logged.access_log);
  EXPECT_FALSE(logged.log_clients);
  // The usage states each default as the parser sets it.
  const GeoOptions defaults = ParseGeoOptions(with_files({}));
  const auto text = [](const AddressRange& range) {
    return FormatIpAddress(range.network) +
           (range.prefix == (range.network.v4 ? 32 : 128) ? "" : "/" + std::to_string(range.prefix));
  };
  ASSERT_EQ(defaults.metrics_from.size(), 2u);
  for (const std::string& stated :
       {"where to listen (default " + defaults.listen + ", every IPv4 interface)\n",
        "connections in all (default " + std::to_string(defaults.max_connections) + ")\n",
        "0 for no limit (default " + std::to_string(defaults.max_per_address) + ")\n",
        "a whole request head (default " + std::to_string(defaults.head_timeout.count() / 1000) + ")\n",
        "(default " + text(defaults.metrics_from[0]) + " and " + text(defaults.metrics_from[1]) + ")\n"}) {
    EXPECT_NE(Usage().find(stated), std::string::npos) << stated;
  }
  const GeoOptions ranges = ParseGeoOptions(with_files({"--trusted-proxy", "10.0.0.0/8", "--metrics-from", "::1"}));
  EXPECT_EQ(ranges.trusted_proxies.size(), 1u);
  EXPECT_EQ(ranges.metrics_from.size(), 1u);
}

}  // namespace
}  // namespace quillwave::geo
