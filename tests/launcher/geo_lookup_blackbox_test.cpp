// The lookup end to end against the project's own primary endpoint: the
// loopback launcher, real curl through microsocks, and quillwave-geo on the
// launcher's primary port with the test database. The client it sees is
// microsocks on 127.0.0.1, which the test database places in Paris.
#include "discovery/endpoints.h"
#include "tests/geo/geo_test_support.h"
#include "tests/launcher/launcher_fixture.h"
#include "tests/support/loopback.h"

namespace quillwave {
namespace {

class GeoLookupBlackBox : public LauncherFixture {
 protected:
  GeoLookupBlackBox() : LauncherFixture(QUILLWAVE_LOOPBACK_LAUNCHER_PATH) {
    fs::copy_file(BuiltFile(QUILLWAVE_MODULE_PATH), app() / "quillwave-progress-gtk.so");
  }
};

TEST_F(GeoLookupBlackBox, TheLaunchTakesTheDatabasesPlaceThroughTheProxy) {
  ASSERT_TRUE(getenv("DISPLAY") != nullptr) << "run under tests/support/with-xvfb.sh";
  const fs::path database = dir_.path() / "city.mmdb";
  const fs::path keys = dir_.path() / "keys";
  std::string error;
  ASSERT_TRUE(test::WriteTestDatabase(database, "first", error)) << error;
  test::WriteTextFile(keys, std::string(endpoints::kApiKey) + "\n");
  // The service takes a key file only its owner may read.
  fs::permissions(keys, fs::perms::owner_read | fs::perms::owner_write);
  test::GeoServerProcess geo(QUILLWAVE_GEO_PATH, {"--listen", "127.0.0.1:" + std::to_string(endpoints::kPrimaryPort),
                                                  "--database", database.string(), "--api-key-file", keys.string()});
  ASSERT_NE(geo.WaitForLine("listening on", 30s), "") << geo.output();
  int proxy_port = 0;
  const auto proxy = test::StartSocksProxy(proxy_port);
  ASSERT_NE(proxy, nullptr) << "microsocks did not start; scripts/install-deps.sh installs it";

  test::WriteTextFile(profile() / "command-line.json",
                      R"({"proxy-server": "socks5://127.0.0.1:)" + std::to_string(proxy_port) +
                          R"(", "auto-timezone": true, "auto-lang": true, "auto-geo": true, "webrtc-no-leak": true})");
  const auto result = Run({user_data_arg()}, {}, 60s);
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")),
            "{\"schema\":1,\"ts\":\"TS\",\"status\":\"ok\",\"ip\":\"127.0.0.1\",\"timezone\":\"Europe/Paris\","
            "\"country_code\":\"FR\",\"lat\":\"48.8566\",\"lng\":\"2.3522\",\"lang\":\"fr-FR\",\"accept_lang\":"
            "\"fr-FR,fr;q=0.9,en;q=0.8\",\"elapsed_ms\":MS,\"provider\":\"geo.loopback.test\",\"error_code\":\"\","
            "\"message\":\"\",\"launcher_version\":\"" +
                std::string(kLauncherVersion) + "\"}\n");
  std::vector<std::wstring> switches = {L"--webrtc-fake-public-ip=127.0.0.1",
                                        L"--force-webrtc-ip-handling-policy=default",
                                        L"--timezone-override=Europe/Paris",
                                        L"--lang=fr-FR",
                                        L"--accept-language=fr-FR,fr;q=0.9,en;q=0.8",
                                        L"--geo-lat=48.8566",
                                        L"--geo-lng=2.3522",
                                        L"--geo-accuracy=100"};
  for (const auto& machine : MachineSwitches()) switches.push_back(machine);
  switches.push_back(L"chrome://version");
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
}

}  // namespace
}  // namespace quillwave
