#include "geo/service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "geo/answer.h"

namespace quillwave::geo {
namespace {

// The longest request head taken: a larger one is answered with 431. Each
// connection's memory holds the head, the library's view of it and the
// answer; it is twice the limit, so that the 431 is this service's own JSON
// answer for all but heads of about 32 KiB and more (which the library cuts
// itself, with its own HTML). Not larger: above 32 KiB the library maps and
// unmaps each connection's memory, which halved the rate of new connections.
constexpr std::size_t kLongestHead = 16 * 1024;
constexpr std::size_t kConnectionMemory = 32 * 1024;
// A connection silent this long is closed (the launcher's curl gives up at 10 s).
constexpr unsigned kIdleSeconds = 10;
constexpr std::size_t kLoggedTextLimit = 200;
constexpr int kCountedStatuses[] = {200, 400, 401, 404, 405, 408, 413, 429, 431};
constexpr double kLatencyBuckets[] = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

MHD_Result CollectForwardedFor(void* collected, MHD_ValueKind, const char* key, const char* value) {
  if (key != nullptr && value != nullptr && SameIgnoringCase(key, "X-Forwarded-For")) {
    auto& text = *static_cast<std::string*>(collected);
    if (!text.empty()) text += ',';
    text += value;
  }
  return MHD_YES;
}

// The size of a request head, and whether a header value holds a control
// character (a tab is a blank).
struct HeadCheck {
  std::size_t size = 0;
  bool control = false;
};

MHD_Result CheckHeader(void* check, MHD_ValueKind, const char*, std::size_t key_size, const char* value,
                       std::size_t value_size) {
  auto& head = *static_cast<HeadCheck*>(check);
  head.size += key_size + value_size + 4;
  for (std::size_t i = 0; i < value_size; ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    head.control = head.control || (c < ' ' && c != '\t') || c == 0x7f;
  }
  return MHD_YES;
}

// An answer written straight to a connection the library has not answered
// on, which is then shut: the library sees it end and lets it go.
void AnswerAndShut(int fd, int status, const char* reason, const char* error) {
  const std::string body = ErrorJson(error);
  const std::string message = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                              "\r\nContent-Type: application/json\r\nCache-Control: no-store\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  [[maybe_unused]] const ssize_t sent = send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(fd, SHUT_RDWR);
}

bool DeclaresBody(MHD_Connection* connection) {
  const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (length != nullptr && std::string_view(length).find_first_not_of("0 \t") != std::string_view::npos) return true;
  return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr;
}

// Text from the request as it may go into the log: printable ASCII only.
std::string Loggable(std::string_view text) {
  std::string safe(text.substr(0, kLoggedTextLimit));
  for (char& c : safe) {
    if (c < ' ' || c > '~') c = '?';
  }
  return safe;
}

// One line to standard error in one write, so lines of several threads never mix.
void LogLine(const std::string& text) {
  const std::string line = "quillwave-geo: " + text + "\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

Listener Listen(const std::string& address_port) {
  Listener listener;
  const std::size_t colon = address_port.rfind(':');
  std::string host = address_port.substr(0, colon);
  const std::string port_text = colon == std::string::npos ? "" : address_port.substr(colon + 1);
  int port = -1;
  const auto [end, error] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  if (bracketed) host = host.substr(1, host.size() - 2);
  const std::optional<IpAddress> address = ParseIpAddress(host);
  if (colon == std::string::npos || port_text.empty() || error != std::errc() ||
      end != port_text.data() + port_text.size() || port < 0 || port > 65535 || !address || bracketed == address->v4) {
    listener.error = "--listen takes ADDRESS:PORT (0.0.0.0:65333, [::]:65333), not '" + address_port + "'";
    listener.malformed = true;
    return listener;
  }

  sockaddr_storage storage{};
  socklen_t size = 0;
  if (address->v4) {
    auto& in = reinterpret_cast<sockaddr_in&>(storage);
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&in.sin_addr, address->bytes.data(), 4);
    size = sizeof in;
  } else {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&in6.sin6_addr, address->bytes.data(), 16);
    size = sizeof in6;
  }
  ListeningSocket socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  if (!socket.valid() || setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(socket.get(), reinterpret_cast<const sockaddr*>(&storage), size) != 0 ||
      listen(socket.get(), SOMAXCONN) != 0 ||
      getsockname(socket.get(), reinterpret_cast<sockaddr*>(&storage), &size) != 0) {
    listener.error = "cannot listen on " + address_port + ": " + std::strerror(errno);
    return listener;
  }
  const int bound_port = ntohs(address->v4 ? reinterpret_cast<const sockaddr_in&>(storage).sin_port
                                           : reinterpret_cast<const sockaddr_in6&>(storage).sin6_port);
  const std::string text = FormatIpAddress(*address);
  listener.address = (address->v4 ? text : "[" + text + "]") + ":" + std::to_string(bound_port);
  listener.socket = std::move(socket);
  return listener;
}

// One TCP connection: who holds it, and by when its next request head must
// be complete.
struct ConnectionState {
  int fd = -1;
  std::optional<IpAddress> peer;
  bool counted = false;  // against its address's limit
  bool shut = false;     // closed by the service, the library not yet done with it
  int answered = 0;
  std::chrono::steady_clock::time_point head_due = std::chrono::steady_clock::time_point::max();
  // The request being answered.
  std::chrono::steady_clock::time_point started;
  int status = 0;
  std::string method;
  std::string path;
  IpAddress client;
};

struct GeoService::Counters {
  std::array<std::atomic<std::uint64_t>, std::size(kCountedStatuses) + 1> by_status{};  // the last: any other
  std::array<std::atomic<std::uint64_t>, std::size(kLatencyBuckets) + 1> latency{};     // the last: above all
  std::atomic<std::uint64_t> latency_microseconds{0};
  std::atomic<std::uint64_t> rejected_keys{0};
  std::atomic<std::uint64_t> reloads_done{0};
  std::atomic<std::uint64_t> reloads_failed{0};
  std::atomic<std::uint64_t> over_address_limit{0};
  std::atomic<std::uint64_t> head_timeouts{0};

  void CountStatus(int status) {
    std::size_t at = 0;
    while (at < std::size(kCountedStatuses) && kCountedStatuses[at] != status) ++at;
    ++by_status[at];
  }
};

GeoService::GeoService(ServiceSettings settings, std::shared_ptr<const ServedData> data)
    : settings_(std::move(settings)), data_(std::move(data)), counters_(std::make_unique<Counters>()) {}

std::unique_ptr<GeoService> GeoService::Start(ListeningSocket socket, ServiceSettings settings,
                                              std::shared_ptr<const ServedData> data, std::string& error) {
  std::unique_ptr<GeoService> service(new GeoService(std::move(settings), std::move(data)));
  const unsigned threads = service->settings_.threads > 1 ? service->settings_.threads : 1;
  service->head_watch_ = std::thread(&GeoService::WatchHeads, service.get());
  // The library owns the socket from here on, until it hands it back on stop.
  const int fd = socket.get();
  service->daemon_ = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC, 0, nullptr, nullptr, &GeoService::Access,
      service.get(), MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(fd), MHD_OPTION_THREAD_POOL_SIZE, threads,
      MHD_OPTION_CONNECTION_LIMIT, service->settings_.max_connections, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_NOTIFY_COMPLETED, &GeoService::Completed,
      service.get(), MHD_OPTION_NOTIFY_CONNECTION, &GeoService::Connected, service.get(), MHD_OPTION_END);
  if (service->daemon_ == nullptr) {
    error = "the HTTP server would not start";
    return nullptr;
  }
  socket.Release();
  return service;
}

GeoService::~GeoService() {
  if (daemon_ != nullptr) Stop(std::chrono::milliseconds(0));
  {
    std::lock_guard lock(connections_mutex_);
    watch_stop_ = true;
  }
  watch_wake_.notify_all();
  if (head_watch_.joinable()) head_watch_.join();
}

void GeoService::Replace(std::shared_ptr<const ServedData> data) {
  std::lock_guard lock(data_mutex_);
  data_ = std::move(data);
}

void GeoService::CountReload(bool done) { ++(done ? counters_->reloads_done : counters_->reloads_failed); }

std::shared_ptr<const ServedData> GeoService::data() const {
  std::lock_guard lock(data_mutex_);
  return data_;
}

int GeoService::Stop(std::chrono::milliseconds grace) {
  stopping_ = true;
  const MHD_socket listener = MHD_quiesce_daemon(daemon_);
  if (listener != MHD_INVALID_SOCKET) close(listener);
  int cut = 0;
  {
    std::unique_lock lock(flight_mutex_);
    flight_ended_.wait_for(lock, grace, [this] { return in_flight_ == 0; });
    cut = in_flight_;
  }
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  return cut;
}

void GeoService::Connected(void* service_pointer, MHD_Connection* connection, void** state_pointer,
                           MHD_ConnectionNotificationCode code) {
  auto* service = static_cast<GeoService*>(service_pointer);
  const ServiceSettings& settings = service->settings_;
  if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
    std::unique_ptr<ConnectionState> state(static_cast<ConnectionState*>(*state_pointer));
    if (!state) return;
    // Before the library closes the descriptor: the watch never shuts one
    // that may already belong to another connection.
    std::lock_guard lock(service->connections_mutex_);
    std::erase(service->connections_, state.get());
    if (state->counted) {
      const auto held = service->per_address_.find({state->peer->v4, state->peer->bytes});
      if (held != service->per_address_.end() && --held->second == 0) service->per_address_.erase(held);
    }
    return;
  }
  auto state = std::make_unique<ConnectionState>();
  const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  const MHD_ConnectionInfo* address = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  state->fd = fd == nullptr ? -1 : fd->connect_fd;
  state->peer = AddressOfSocket(address == nullptr ? nullptr : address->client_addr);
  state->head_due = std::chrono::steady_clock::now() + settings.head_timeout;
  bool over = false;
  {
    std::lock_guard lock(service->connections_mutex_);
    service->connections_.push_back(state.get());
    if (state->peer && settings.max_per_address > 0 && !InAnyRange(*state->peer, settings.trusted_proxies)) {
      unsigned& held = service->per_address_[{state->peer->v4, state->peer->bytes}];
      over = held >= settings.max_per_address;
      if (!over) ++held;
      state->counted = !over;
    }
    state->shut = over;
  }
  if (over) {
    ++service->counters_->over_address_limit;
    service->counters_->CountStatus(429);
    AnswerAndShut(state->fd, 429, "Too Many Requests", "too many connections from this address");
  }
  *state_pointer = state.release();
}

void GeoService::WatchHeads() {
  const auto period = std::clamp<std::chrono::milliseconds>(settings_.head_timeout / 4, std::chrono::milliseconds(10),
                                                            std::chrono::milliseconds(250));
  std::unique_lock lock(connections_mutex_);
  while (!watch_stop_) {
    const auto now = std::chrono::steady_clock::now();
    for (ConnectionState* state : connections_) {
      if (state->shut || state->head_due > now) continue;
      state->shut = true;
      ++counters_->head_timeouts;
      // A kept connection waiting for its next request is closed without a
      // word, as at its idle timeout; a first head that is late is told why.
      if (state->answered == 0) {
        counters_->CountStatus(408);
        AnswerAndShut(state->fd, 408, "Request Timeout", "the request head took too long");
      } else {
        shutdown(state->fd, SHUT_RDWR);
      }
    }
    watch_wake_.wait_for(lock, period);
  }
}

MHD_Result GeoService::Access(void* service_pointer, MHD_Connection* connection, const char* url, const char* method,
                              const char*, const char*, std::size_t* upload_data_size, void** request) {
  auto* service = static_cast<GeoService*>(service_pointer);
  auto* state = static_cast<ConnectionState*>(*request);
  if (state == nullptr) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    state = info == nullptr ? nullptr : static_cast<ConnectionState*>(info->socket_context);
    if (state == nullptr || !state->peer) return MHD_NO;  // not a TCP/IP connection: nothing to answer for
    {
      // A head completed just as its deadline passed has had its answer.
      std::lock_guard lock(service->connections_mutex_);
      if (state->shut) return MHD_NO;
      state->head_due = std::chrono::steady_clock::time_point::max();
    }
    // The head is in: the request counts as in flight until it completes.
    *request = state;
    state->started = std::chrono::steady_clock::now();
    {
      std::lock_guard lock(service->flight_mutex_);
      ++service->in_flight_;
    }
    // A body is refused before it is read; otherwise the answer waits for
    // the next call, so that the connection may be kept.
    if (DeclaresBody(connection)) return service->Answer(connection, *state, url, method, true);
    return MHD_YES;
  }
  if (*upload_data_size != 0) {
    *upload_data_size = 0;
    return service->Answer(connection, *state, url, method, true);
  }
  return service->Answer(connection, *state, url, method, false);
}

void GeoService::Completed(void* service_pointer, MHD_Connection*, void** request, MHD_RequestTerminationCode) {
  auto* state = static_cast<ConnectionState*>(*request);
  if (state == nullptr) return;
  auto* service = static_cast<GeoService*>(service_pointer);
  const auto now = std::chrono::steady_clock::now();
  if (state->status != 0) {
    const auto microseconds =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now - state->started).count());
    Counters& counters = *service->counters_;
    counters.CountStatus(state->status);
    std::size_t bucket = 0;
    while (bucket < std::size(kLatencyBuckets) && microseconds > kLatencyBuckets[bucket] * 1e6) ++bucket;
    ++counters.latency[bucket];
    counters.latency_microseconds += microseconds;
    if (service->settings_.access_log || service->settings_.log_clients) {
      char milliseconds[32];
      std::snprintf(milliseconds, sizeof milliseconds, "%.3f ms", static_cast<double>(microseconds) / 1000);
      LogLine((service->settings_.log_clients ? FormatIpAddress(state->client) + " " : std::string()) +
              Loggable(state->method) + " " + Loggable(state->path) + " " + std::to_string(state->status) + " " +
              milliseconds);
    }
  }
  state->status = 0;
  {
    std::lock_guard lock(service->connections_mutex_);
    ++state->answered;
    state->head_due = now + service->settings_.head_timeout;
  }
  std::lock_guard lock(service->flight_mutex_);
  --service->in_flight_;
  if (service->in_flight_ == 0) service->flight_ended_.notify_all();
}

MHD_Result GeoService::Answer(MHD_Connection* connection, ConnectionState& state, const char* url, const char* method,
                              bool has_body) {
  GeoRequest request;
  request.method = method;
  request.path = url;
  request.has_body = has_body;
  HeadCheck head;
  head.size = std::strlen(url) + std::strlen(method);
  MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &CheckHeader, &head);
  request.head_too_large = head.size > kLongestHead;
  request.control_in_header = head.control;
  const char* key = nullptr;
  std::size_t key_size = 0;
  if (MHD_lookup_connection_value_n(connection, MHD_HEADER_KIND, "X-API-Key", 9, &key, &key_size) == MHD_YES) {
    request.api_key = TrimBlanks(std::string_view(key, key_size));
  }
  std::string forwarded_for;
  if (!settings_.trusted_proxies.empty()) {
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &CollectForwardedFor, &forwarded_for);
  }
  request.client = ClientAddress(*state.peer, forwarded_for, settings_.trusted_proxies);

  GeoResponse answer;
  const char* content_type = "application/json";
  if (OriginPath(request.path) == "/metrics" && InAnyRange(request.client, settings_.metrics_from) &&
      !request.head_too_large && !request.control_in_header && !has_body) {
    answer = (request.method == "GET" || request.method == "HEAD") ? GeoResponse{200, Metrics()} : MethodNotAllowed();
    if (answer.status == 200) content_type = "text/plain; version=0.0.4";
  } else {
    const std::shared_ptr<const ServedData> data = this->data();
    answer = AnswerRequest(request, *data->database, data->keys);
  }
  if (answer.status == 401) ++counters_->rejected_keys;
  state.status = answer.status;
  state.method = request.method;
  state.path = request.path;
  state.client = request.client;

  MHD_Response* response =
      MHD_create_response_from_buffer(answer.body.size(), answer.body.data(), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  if (answer.allow_header) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  if (has_body || stopping_ || answer.status == 400 || answer.status == 431) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  }
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

std::string GeoService::Metrics() const {
  const Counters& counters = *counters_;
  std::string text;
  const auto append = [&text](const std::string& line) { text += line + "\n"; };
  const auto head = [&append](const char* name, const char* type, const char* help) {
    append(std::string("# HELP ") + name + " " + help);
    append(std::string("# TYPE ") + name + " " + type);
  };
  head("quillwave_geo_requests_total", "counter", "Requests answered, by status code.");
  for (std::size_t i = 0; i < std::size(kCountedStatuses); ++i) {
    append("quillwave_geo_requests_total{code=\"" + std::to_string(kCountedStatuses[i]) + "\"} " +
           std::to_string(counters.by_status[i].load()));
  }
  append("quillwave_geo_requests_total{code=\"other\"} " + std::to_string(counters.by_status.back().load()));
  head("quillwave_geo_request_duration_seconds", "histogram", "From a complete request head to the answer sent.");
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i <= std::size(kLatencyBuckets); ++i) {
    cumulative += counters.latency[i].load();
    char bound[32] = "+Inf";
    if (i < std::size(kLatencyBuckets)) std::snprintf(bound, sizeof bound, "%g", kLatencyBuckets[i]);
    append(std::string("quillwave_geo_request_duration_seconds_bucket{le=\"") + bound + "\"} " +
           std::to_string(cumulative));
  }
  char sum[64];
  std::snprintf(sum, sizeof sum, "%.6f", static_cast<double>(counters.latency_microseconds.load()) / 1e6);
  append(std::string("quillwave_geo_request_duration_seconds_sum ") + sum);
  append("quillwave_geo_request_duration_seconds_count " + std::to_string(cumulative));
  head("quillwave_geo_rejected_keys_total", "counter", "Requests for /geo without a known X-API-Key.");
  append("quillwave_geo_rejected_keys_total " + std::to_string(counters.rejected_keys.load()));
  head("quillwave_geo_refused_connections_total", "counter",
       "Connections closed by the service: over the per-address limit, or a late request head.");
  append("quillwave_geo_refused_connections_total{reason=\"address_limit\"} " +
         std::to_string(counters.over_address_limit.load()));
  append("quillwave_geo_refused_connections_total{reason=\"head_timeout\"} " +
         std::to_string(counters.head_timeouts.load()));
  const std::shared_ptr<const ServedData> data = this->data();
  head("quillwave_geo_database_build_timestamp_seconds", "gauge", "When the served database was built.");
  append("quillwave_geo_database_build_timestamp_seconds " + std::to_string(data->database->build_epoch()));
  head("quillwave_geo_database_load_timestamp_seconds", "gauge", "When the served database was loaded.");
  append("quillwave_geo_database_load_timestamp_seconds " + std::to_string(data->loaded_at));
  head("quillwave_geo_reloads_total", "counter", "Reloads of the database and the keys, by result.");
  append("quillwave_geo_reloads_total{result=\"done\"} " + std::to_string(counters.reloads_done.load()));
  append("quillwave_geo_reloads_total{result=\"failed\"} " + std::to_string(counters.reloads_failed.load()));
  std::size_t open = 0;
  {
    std::lock_guard lock(connections_mutex_);
    open = connections_.size();
  }
  head("quillwave_geo_open_connections", "gauge", "TCP connections open now.");
  append("quillwave_geo_open_connections " + std::to_string(open));
  return text;
}

}  // namespace quillwave::geo
