// quillwave-geo as it runs: it reloads its database on SIGHUP while 200
// clients keep asking, without failing one request, and stops on SIGTERM;
// its database file written over in place under load harms no request, and
// the new file is served without a signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>
#include <vector>

#include "base/version.h"
#include "tests/geo/geo_test_support.h"
#include "tests/support/temp_dir.h"

namespace quillwave {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kClients = 200;
const std::string kRequest =
    "GET /geo HTTP/1.1\r\nHost: geo.test\r\nConnection: close\r\nX-API-Key: second-key\r\n\r\n";

// Counted by the client's thread, watched by the test's.
struct Client {
  std::atomic<int> asked{0};
  std::atomic<int> first{0};   // answers from the database before the reload
  std::atomic<int> second{0};  // and after it
  std::string failure;         // the first answer that was neither; read after the join
};

// Each client asks again and again until told to stop; each answer must
// come from one test database or the other.
std::vector<std::thread> AskUntilStopped(std::vector<Client>& clients, const std::atomic<bool>& stop, int port) {
  std::vector<std::thread> threads;
  for (Client& client : clients) {
    threads.emplace_back([&client, &stop, port] {
      while (!stop) {
        const test::HttpAnswer answer = test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", port, kRequest));
        ++client.asked;
        if (answer.status == 200 && answer.body.find("\"country\":\"FR\"") != std::string::npos) {
          ++client.first;
        } else if (answer.status == 200 && answer.body.find("\"country\":\"IT\"") != std::string::npos) {
          ++client.second;
        } else if (client.failure.empty()) {
          client.failure = std::to_string(answer.status) + " " + answer.body;
        }
      }
    });
  }
  return threads;
}

// A key file only its owner may read, as the service demands.
void WriteKeyFile(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

// The exit codes of the manual page: 2 for a malformed --listen or another
// unusable option (with the usage), 1 for a key file that others may read.
TEST(GeoProgram, RefusesAMalformedAddressAndAKeyFileOthersMayRead) {
  test::ScopedTempDir directory;
  const fs::path keys = directory.path() / "keys";
  WriteKeyFile(keys, "first-key\n");
  fs::permissions(keys, fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
  test::GeoServerProcess malformed(QUILLWAVE_GEO_PATH, {"--listen", "127.0.0.1", "--database", "/nonexistent.mmdb",
                                                        "--api-key-file", keys.string()});
  EXPECT_EQ(malformed.WaitForExit(30s), 2) << malformed.output();
  test::GeoServerProcess unknown(QUILLWAVE_GEO_PATH, {"--head-timeout", "0"});
  EXPECT_EQ(unknown.WaitForExit(30s), 2);
  EXPECT_NE(unknown.output().find("from 1 to 3600, not '0'\nusage: quillwave-geo --database FILE"), std::string::npos)
      << unknown.output();
  test::GeoServerProcess server(QUILLWAVE_GEO_PATH, {"--listen", "127.0.0.1:0", "--database", "/nonexistent.mmdb",
                                                     "--api-key-file", keys.string()});
  EXPECT_EQ(server.WaitForExit(30s), 1);
  EXPECT_NE(server.output().find("may be read by group or others (mode 0644); make it readable by its owner only"),
            std::string::npos)
      << server.output();
  test::GeoServerProcess no_keys(QUILLWAVE_GEO_PATH, {"--listen", "127.0.0.1:0", "--database", "/nonexistent.mmdb",
                                                      "--api-key-file", "/nonexistent-keys"});
  EXPECT_EQ(no_keys.WaitForExit(30s), 1);
  EXPECT_NE(no_keys.output().find("cannot read the key file /nonexistent-keys (No such file or directory)"),
            std::string::npos)
      << no_keys.output();
  const fs::path key_folder = directory.path() / "keys.d";
  fs::create_directory(key_folder);
  fs::permissions(key_folder, fs::perms::owner_all);
  test::GeoServerProcess folder_keys(QUILLWAVE_GEO_PATH, {"--listen", "127.0.0.1:0", "--database", "/nonexistent.mmdb",
                                                          "--api-key-file", key_folder.string()});
  EXPECT_EQ(folder_keys.WaitForExit(30s), 1);
  EXPECT_NE(folder_keys.output().find("cannot read the key file " + key_folder.string() + " (Is a directory)"),
            std::string::npos)
      << folder_keys.output();
  // --help and --version answer alone, on standard output.
  test::GeoServerProcess help(QUILLWAVE_GEO_PATH, {"--help"});
  EXPECT_EQ(help.WaitForExit(30s), 0);
  EXPECT_TRUE(help.output().starts_with("usage: quillwave-geo --database FILE")) << help.output();
  test::GeoServerProcess version(QUILLWAVE_GEO_PATH, {"--version"});
  EXPECT_EQ(version.WaitForExit(30s), 0);
  EXPECT_EQ(version.output(), "quillwave-geo " + std::string(kLauncherVersion) + "\n");
}

TEST(GeoProgram, ReloadsUnderTwoHundredConcurrentClientsWithoutFailingARequestThenStops) {
  test::ScopedTempDir directory;
  const fs::path database = directory.path() / "city.mmdb";
  const fs::path keys = directory.path() / "keys";
  std::string error;
  ASSERT_TRUE(test::WriteTestDatabase(database, "first", error)) << error;
  WriteKeyFile(keys, "first-key\nsecond-key\n");

  test::GeoServerProcess server(
      QUILLWAVE_GEO_PATH, {"--listen", "127.0.0.1:0", "--database", database.string(), "--api-key-file", keys.string(),
                           "--max-connections", "1000", "--max-connections-per-address", "0"});
  const std::string started = server.WaitForLine("listening on", 30s);
  const int port = test::ListeningPort(started);
  ASSERT_NE(port, 0) << server.output();
  EXPECT_NE(started.find("Quillwave-Test-City database built 2024-01-01T00:00:00Z, 2 keys"), std::string::npos)
      << started;

  std::vector<Client> clients(kClients);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads = AskUntilStopped(clients, stop, port);
  // Waits (up to a limit) until every client has had an answer of a kind.
  const auto all_have = [&clients](std::atomic<int> Client::*kind, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      bool all = true;
      for (const Client& client : clients) all = all && (client.*kind).load() > 0;
      if (all) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  };

  bool reloaded = false;
  if (all_have(&Client::asked, 60s)) {
    ASSERT_TRUE(test::WriteTestDatabase(database, "second", error)) << error;
    server.Signal(SIGHUP);
    reloaded = !server.WaitForLine("reloaded: Quillwave-Test-City database built 2024-02-01T00:00:00Z", 30s).empty();
    all_have(&Client::second, 60s);
  }
  stop = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_TRUE(reloaded) << server.output();
  int asked = 0;
  for (const Client& client : clients) {
    asked += client.asked;
    EXPECT_EQ(client.failure, "");
    EXPECT_GT(client.first, 0);
    EXPECT_GT(client.second, 0);
  }
  EXPECT_GE(asked, 2 * kClients);

  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(30s), 0) << server.output();
  EXPECT_NE(server.output().find("quillwave-geo: stopped\n"), std::string::npos) << server.output();
  // No client address is logged without --log-clients.
  EXPECT_EQ(server.output().find("127.0.0.1 GET"), std::string::npos) << server.output();
}

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Truncates the file, then writes `bytes` in place in a few pieces, as cp does.
void WriteInPlace(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.flush();
  for (std::size_t at = 0; at < bytes.size(); at += 4096)
    file.write(bytes.data() + at, std::min<std::size_t>(4096, bytes.size() - at)).flush();
}

// The access log: one line a request, the client's address first with
// --log-clients, the path (decoded by the HTTP library) as printable ASCII
// only, so that no request writes a line of its own. A database that turns
// unreadable is not taken: the one before is served on.
TEST(GeoProgram, LogsEachRequestOnOneSafeLineAndKeepsTheDatabaseAReloadCannotRead) {
  test::ScopedTempDir directory;
  const fs::path database = directory.path() / "city.mmdb";
  const fs::path keys = directory.path() / "keys";
  std::string error;
  ASSERT_TRUE(test::WriteTestDatabase(database, "first", error)) << error;
  WriteKeyFile(keys, "second-key\n");
  test::GeoServerProcess server(QUILLWAVE_GEO_PATH, {"--listen", "127.0.0.1:0", "--database", database.string(),
                                                     "--api-key-file", keys.string(), "--log-clients"});
  const int port = test::ListeningPort(server.WaitForLine("listening on", 30s));
  ASSERT_NE(port, 0) << server.output();
  test::HttpExchange("127.0.0.1", port, "GET /geo%0Aquillwave-geo:%20forged HTTP/1.1\r\nConnection: close\r\n\r\n");
  const std::string line = server.WaitForLine(" 404 ", 30s);
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(quillwave-geo: 127\.0\.0\.1 GET /geo\?quillwave-geo: forged 404 )"
                                                R"([0-9]+\.[0-9]{3} ms)")))
      << line;

  std::ofstream(database, std::ios::trunc).flush();
  const std::string failed = server.WaitForLine("reload failed", 30s);
  EXPECT_NE(failed.find("; still serving the Quillwave-Test-City database built 2024-01-01T00:00:00Z"),
            std::string::npos)
      << server.output();
  EXPECT_EQ(test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", port, kRequest)).status, 200);
}

TEST(GeoProgram, ServesThroughInPlaceWritesOfItsDatabaseAndPicksUpTheNewFileByItself) {
  test::ScopedTempDir directory;
  const fs::path database = directory.path() / "city.mmdb";
  const fs::path keys = directory.path() / "keys";
  std::string error;
  ASSERT_TRUE(test::WriteTestDatabase(directory.path() / "second.mmdb", "second", error)) << error;
  ASSERT_TRUE(test::WriteTestDatabase(database, "first", error)) << error;
  const std::string first = ReadAll(database), second = ReadAll(directory.path() / "second.mmdb");
  WriteKeyFile(keys, "second-key\n");

  test::GeoServerProcess server(QUILLWAVE_GEO_PATH, {"--listen", "127.0.0.1:0", "--database", database.string(),
                                                     "--api-key-file", keys.string()});
  const int port = test::ListeningPort(server.WaitForLine("listening on", 30s));
  ASSERT_NE(port, 0) << server.output();

  std::vector<Client> clients(4);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads = AskUntilStopped(clients, stop, port);
  for (int round = 0; round < 40; ++round) WriteInPlace(database, first);
  stop = true;
  for (std::thread& thread : threads) thread.join();
  for (const Client& client : clients) {
    EXPECT_EQ(client.failure, "");
    EXPECT_GT(client.first, 0);
    EXPECT_EQ(client.second, 0);
  }

  // An emptied file, then a request: once the request that crashed the
  // service that mapped its file.
  std::ofstream(database, std::ios::trunc).flush();
  EXPECT_EQ(test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", port, kRequest)).status, 200);

  // Another country, written in place with no signal, is served within 10 s.
  WriteInPlace(database, second);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  std::string body;
  while (body.find("\"country\":\"IT\"") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(100ms);
    body = test::ParseHttpAnswer(test::HttpExchange("127.0.0.1", port, kRequest)).body;
  }
  EXPECT_NE(body.find("\"country\":\"IT\""), std::string::npos) << body << server.output();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(30s), 0) << server.output();
}

}  // namespace
}  // namespace quillwave
