// quillwave-geo: the primary lookup endpoint of a Quillwave deployment. It
// answers GET /geo with the client's address and what a MaxMind DB file says
// of it, reloads the file and the keys on SIGHUP or once the file has
// changed and settled, and stops on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

// The key file's text; empty, with the reason in `error`, when it cannot be
// read or others than its owner may read it (as ssh treats its keys): a key
// every local user can read is no secret. systemd's copy is mode 0400.
std::string ReadKeyFile(const std::string& path, std::string& error) {
  const Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!file.valid() || fstat(file.get(), &status) != 0) {
    error = "cannot read the key file " + path + " (" + std::strerror(errno) + ")";
    return {};
  }
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    error = "the key file " + path + " may be read by group or others (mode " + mode +
            "); make it readable by its owner only (chmod 600)";
    return {};
  }
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(file.get(), buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = "cannot read the key file " + path + " (" + std::strerror(errno) + ")";
      return {};
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

Loaded Load(const GeoOptions& options) {
  std::string error;
  const std::string text = ReadKeyFile(options.api_key_file, error);
  if (!error.empty()) return {nullptr, error};
  ApiKeys keys = ParseApiKeys(text);
  if (!keys.error.empty()) return {nullptr, "key file " + options.api_key_file + ": " + keys.error};
  OpenedDatabase opened = OpenGeoDatabase(options.database);
  if (!opened.database) return {nullptr, "database " + options.database + ": " + opened.error};
  auto data = std::make_shared<ServedData>();
  data->database = std::move(opened.database);
  data->keys = std::move(keys.keys);
  data->loaded_at =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
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
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("quillwave-geo %s\n", kLauncherVersion);
    return 0;
  }
  if (!options.error.empty()) {
    Say(options.error);
    std::fputs(Usage().c_str(), stderr);
    return 2;
  }

  // The signals are taken in this thread only: blocked here before any
  // server thread exists, so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int number : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&signals, number);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // The address first: a malformed one is a wrong command line, whatever
  // else is wrong.
  Listener listener = Listen(options.listen);
  if (!listener.error.empty()) {
    Say(listener.error);
    return listener.malformed ? 2 : 1;
  }
  // The database's folder is watched rather than the file, so that a file
  // renamed over it (mv, geoipupdate) is seen as well as one written in place;
  // from before the first load, so that no write after it goes unseen.
  const Descriptor signal_fd(signalfd(-1, &signals, SFD_CLOEXEC));
  const Descriptor watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  const std::filesystem::path database_path(options.database);
  const std::string folder = database_path.has_parent_path() ? database_path.parent_path().string() : ".";
  const std::string file_name = database_path.filename().string();
  if (!watch.valid() || inotify_add_watch(watch.get(), folder.c_str(),
                                          IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_CREATE | IN_ATTRIB) < 0) {
    Say("cannot watch " + folder + " (" + std::strerror(errno) + "); the database is reloaded on SIGHUP only");
  }
  Loaded loaded = Load(options);
  if (!loaded.data) {
    Say(loaded.error);
    return 1;
  }
  ServiceSettings settings;
  settings.threads = std::max(1u, std::thread::hardware_concurrency());
  settings.max_connections = options.max_connections;
  settings.trusted_proxies = options.trusted_proxies;
  settings.max_per_address = options.max_per_address;
  settings.head_timeout = options.head_timeout;
  settings.metrics_from = options.metrics_from;
  settings.access_log = options.access_log;
  settings.log_clients = options.log_clients;
  std::string error;
  std::unique_ptr<GeoService> service = GeoService::Start(std::move(listener.socket), settings, loaded.data, error);
  if (!service) {
    Say(error);
    return 1;
  }
  Say(std::string(kLauncherVersion) + " listening on " + listener.address + "; " + Describe(*loaded.data));

  // The last write seen and not yet loaded; none when this is the maximum.
  constexpr auto kNone = std::chrono::steady_clock::time_point::max();
  auto changed = kNone;
  while (true) {
    int wait_ms = -1;
    if (changed != kNone) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(changed + kSettle - std::chrono::steady_clock::now());
      wait_ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    }
    pollfd ready[] = {{signal_fd.get(), POLLIN, 0}, {watch.get(), POLLIN, 0}};
    if (poll(ready, watch.valid() ? 2 : 1, wait_ms) < 0 && errno != EINTR) break;
    if (ready[1].revents & POLLIN) {
      if (NamesFile(watch.get(), file_name)) changed = std::chrono::steady_clock::now();
      continue;
    }
    const bool settled = changed != kNone && std::chrono::steady_clock::now() >= changed + kSettle;
    signalfd_siginfo received{};
    if (!settled && !(ready[0].revents & POLLIN)) continue;
    if (!settled && read(signal_fd.get(), &received, sizeof received) != sizeof received) continue;
    if (!settled && received.ssi_signo != SIGHUP) break;
    changed = kNone;
    // A failed reload keeps what is served now.
    const std::string cause = settled ? "database file changed; " : "";
    Loaded reloaded = Load(options);
    service->CountReload(reloaded.data != nullptr);
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
