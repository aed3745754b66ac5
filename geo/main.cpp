// quillwave-geo: the primary lookup endpoint of a Quillwave deployment. It
// answers GET /geo with the client's address and what a MaxMind DB file says
// of it, reloads the file and the keys on SIGHUP or once the file has
// changed and settled, and stops on SIGTERM.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
// A changed database file is loaded once no write has touched it for this
// long: cp writes in many steps, and a half-written file would not load.
constexpr std::chrono::milliseconds kSettle{1500};

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

// Reads the waiting folder events; whether one of them names the file.
bool NamesFile(int watch, const std::string& file_name) {
  alignas(inotify_event) char buffer[16 * 1024];
  bool named = false;
  while (true) {
    const ssize_t length = read(watch, buffer, sizeof buffer);
    if (length <= 0) return named;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      named = named || (event->len > 0 && file_name == event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
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

  // The database's folder is watched rather than the file, so that a file
  // renamed over it (mv, geoipupdate) is seen as well as one written in place.
  const Descriptor signal_fd(signalfd(-1, &signals, SFD_CLOEXEC));
  const Descriptor watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  const std::filesystem::path database_path(options.database);
  const std::string folder = database_path.has_parent_path() ? database_path.parent_path().string() : ".";
  const std::string file_name = database_path.filename().string();
  if (!watch.valid() || inotify_add_watch(watch.get(), folder.c_str(),
                                          IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_CREATE | IN_ATTRIB) < 0) {
    Say("cannot watch " + folder + " (" + std::strerror(errno) + "); the database is reloaded on SIGHUP only");
  }
  std::optional<std::chrono::steady_clock::time_point> changed;  // the last write seen, not yet loaded
  while (true) {
    int wait_ms = -1;
    if (changed) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(*changed + kSettle - std::chrono::steady_clock::now());
      wait_ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    }
    pollfd ready[] = {{signal_fd.get(), POLLIN, 0}, {watch.get(), POLLIN, 0}};
    if (poll(ready, watch.valid() ? 2 : 1, wait_ms) < 0 && errno != EINTR) break;
    if (ready[1].revents & POLLIN) {
      if (NamesFile(watch.get(), file_name)) changed = std::chrono::steady_clock::now();
      continue;
    }
    const bool settled = changed && std::chrono::steady_clock::now() >= *changed + kSettle;
    signalfd_siginfo received{};
    if (!settled && !(ready[0].revents & POLLIN)) continue;
    if (!settled && read(signal_fd.get(), &received, sizeof received) != sizeof received) continue;
    if (!settled && received.ssi_signo != SIGHUP) break;
    changed.reset();
    // A failed reload keeps what is served now.
    const std::string cause = settled ? "database file changed; " : "";
    Loaded reloaded = Load(options);
    if (!reloaded.data) {
      Say(cause + "reload failed: " + reloaded.error + "; still serving the " + Describe(*service->data()));
      continue;
    }
    service->Replace(reloaded.data);
    Say(cause + "reloaded: " + Describe(*reloaded.data));
  }
  const int cut = service->Stop(kStopGrace);
  Say(cut == 0 ? std::string("stopped")
               : "stopped; " + std::to_string(cut) + " requests still in flight after 5 s were cut");
  return 0;
}

}  // namespace
}  // namespace quillwave::geo

int main(int argc, char** argv) { return quillwave::geo::Run(std::vector<std::string>(argv + 1, argv + argc)); }
