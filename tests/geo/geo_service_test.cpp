// quillwave-geo's answers over real HTTP on loopback, row by row: the
// service runs in the test process on the test database, once as clients
// reach it directly and once behind a trusted load balancer.
#include <gtest/gtest.h>

#include <memory>

#include "geo/api_keys.h"
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
    direct_ = new RunningService(Start("127.0.0.1:0", {}, data));
    behind_balancer_ = new RunningService(Start("127.0.0.1:0", {*ParseAddressRange("127.0.0.0/8")}, data));
    over_ipv6_ = new RunningService(Start("[::1]:0", {}, data));
  }

  static void TearDownTestSuite() {
    delete direct_;
    delete behind_balancer_;
    delete over_ipv6_;
    delete directory_;
  }

  static RunningService Start(const std::string& listen, std::vector<AddressRange> trusted,
                              std::shared_ptr<const ServedData> data) {
    RunningService running;
    Listener listener = Listen(listen);
    EXPECT_EQ(listener.error, "");
    ServiceSettings settings;
    settings.threads = 2;
    settings.trusted_proxies = std::move(trusted);
    std::string error;
    running.service = GeoService::Start(std::move(listener.socket), settings, std::move(data), error);
    EXPECT_NE(running.service, nullptr) << error;
    running.address = listen.starts_with("[") ? "::1" : "127.0.0.1";
    running.port = std::stoi(listener.address.substr(listener.address.rfind(':') + 1));
    return running;
  }

  static test::ScopedTempDir* directory_;
  static RunningService* direct_;
  static RunningService* behind_balancer_;
  static RunningService* over_ipv6_;
};
test::ScopedTempDir* GeoServiceTest::directory_ = nullptr;
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
      {"an oversized header", direct_, Get("/geo", kFirstKey + padding), 431, ""},
      {"health", direct_, Get("/healthz", ""), 200,
       "{\"status\":\"ok\",\"database_built\":\"2024-01-01T00:00:00Z\"}\n"},
      {"HEAD", direct_, "HEAD /geo HTTP/1.1\r\nHost: geo.test\r\nConnection: close\r\n" + kFirstKey, 200, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const RunningService& server = *row.server;
    const std::string body = row.status == 413 ? "hello" : "";
    const test::HttpAnswer answer =
        test::ParseHttpAnswer(test::HttpExchange(server.address, server.port, row.request + "\r\n" + body));
    EXPECT_EQ(answer.status, row.status) << answer.head;
    if (row.status != 431) {
      EXPECT_EQ(answer.body, row.body);
    }
    if (row.status == 405) {
      EXPECT_NE(answer.head.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << answer.head;
    }
  }
}

}  // namespace
}  // namespace quillwave::geo
