// quillwave-geo: the primary lookup endpoint of a Quillwave deployment. It
// answers GET /geo with the client's address and what a MaxMind DB file says
// of it, reloads the file and the keys on SIGHUP and stops on SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/version.h"
#include "geo/api_keys.h"
#include "geo/options.h"
#include "geo/service.h"

namespace quillwave::geo {
namespace {

// Requests in flight when a stop is asked for get this long to finish.
constexpr std::chrono::seconds kStopGrace{5};

void Say(const std::string& text) { std::fprintf(stderr, "quillwave-geo: %s\n", text.c_str()); }

struct Loaded {
  std::shared_ptr<const ServedData> data;
  std::string error;
};

Loaded Load(const GeoOptions& options) {
  std::ifstream file(options.api_key_file, std::ios::binary);
  std::ostringstream text;
  if (file) text << file.rdbuf();
  if (!file) return {nullptr, "cannot read the key file " + options.api_key_file};
  ApiKeys keys = ParseApiKeys(text.str());
  if (!keys.error.empty()) return {nullptr, "key file " + options.api_key_file + ": " + keys.error};
  OpenedDatabase opened = OpenGeoDatabase(options.database);
  if (!opened.database) return {nullptr, "database " + options.database + ": " + opened.error};
  auto data = std::make_shared<ServedData>();
  data->database = std::move(opened.database);
  data->keys = std::move(keys.keys);
  return {std::move(data), {}};
}

std::string Describe(const ServedData& data) {
  const std::size_t keys = data.keys.size();
  return data.database->type() + " database built " + UtcTime(data.database->build_epoch()) + ", " +
         std::to_string(keys) + (keys == 1 ? " key" : " keys");
}

int Run(const std::vector<std::string>& arguments) {
  const GeoOptions options = ParseGeoOptions(arguments);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("quillwave-geo %s\n", kLauncherVersion);
    return 0;
  }
  if (!options.error.empty()) {
    Say(options.error);
    std::fputs(kUsage, stderr);
    return 2;
  }

  // The signals are taken in this thread only: blocked here before any
  // server thread exists, so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int number : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&signals, number);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Loaded loaded = Load(options);
  if (!loaded.data) {
    Say(loaded.error);
    return 1;
  }
  Listener listener = Listen(options.listen);
  if (!listener.error.empty()) {
    Say(listener.error);
    return 1;
  }
  ServiceSettings settings;
  settings.threads = std::max(1u, std::thread::hardware_concurrency());
  settings.max_connections = options.max_connections;
  settings.trusted_proxies = options.trusted_proxies;
  settings.log_clients = options.log_clients;
  std::string error;
  std::unique_ptr<GeoService> service = GeoService::Start(std::move(listener.socket), settings, loaded.data, error);
  if (!service) {
    Say(error);
    return 1;
  }
  Say(std::string(kLauncherVersion) + " listening on " + listener.address + "; " + Describe(*loaded.data));

  while (true) {
    int number = 0;
    if (sigwait(&signals, &number) != 0) continue;
    if (number != SIGHUP) break;
    // A failed reload keeps what is served now.
    Loaded reloaded = Load(options);
    if (!reloaded.data) {
      Say("reload failed: " + reloaded.error + "; still serving the " + Describe(*service->data()));
      continue;
    }
    service->Replace(reloaded.data);
    Say("reloaded: " + Describe(*reloaded.data));
  }
  const int cut = service->Stop(kStopGrace);
  Say(cut == 0 ? std::string("stopped")
               : "stopped; " + std::to_string(cut) + " requests still in flight after 5 s were cut");
  return 0;
}

}  // namespace
}  // namespace quillwave::geo

int main(int argc, char** argv) { return quillwave::geo::Run(std::vector<std::string>(argv + 1, argv + argc)); }
