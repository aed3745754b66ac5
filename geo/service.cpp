#include "geo/service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "geo/answer.h"

namespace quillwave::geo {
namespace {

// The longest request head taken: a larger one is answered with 431 by the
// library. It is part of each connection's memory, which also holds the answer.
constexpr std::size_t kConnectionMemory = 16 * 1024;
// A connection silent this long is closed (the launcher's curl gives up at 10 s).
constexpr unsigned kIdleSeconds = 10;
constexpr std::size_t kLoggedTextLimit = 200;

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

GeoService::GeoService(ServiceSettings settings, std::shared_ptr<const ServedData> data)
    : settings_(std::move(settings)), data_(std::move(data)) {}

std::unique_ptr<GeoService> GeoService::Start(ListeningSocket socket, ServiceSettings settings,
                                              std::shared_ptr<const ServedData> data, std::string& error) {
  std::unique_ptr<GeoService> service(new GeoService(std::move(settings), std::move(data)));
  const unsigned threads = service->settings_.threads > 1 ? service->settings_.threads : 1;
  // The library owns the socket from here on, until it hands it back on stop.
  const int fd = socket.get();
  service->daemon_ = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC, 0, nullptr, nullptr, &GeoService::Access,
      service.get(), MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(fd), MHD_OPTION_THREAD_POOL_SIZE, threads,
      MHD_OPTION_CONNECTION_LIMIT, service->settings_.max_connections, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_NOTIFY_COMPLETED, &GeoService::Completed,
      service.get(), MHD_OPTION_END);
  if (service->daemon_ == nullptr) {
    error = "the HTTP server would not start";
    return nullptr;
  }
  socket.Release();
  return service;
}

GeoService::~GeoService() {
  if (daemon_ != nullptr) Stop(std::chrono::milliseconds(0));
}

void GeoService::Replace(std::shared_ptr<const ServedData> data) {
  std::lock_guard lock(data_mutex_);
  data_ = std::move(data);
}

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

MHD_Result GeoService::Access(void* service_pointer, MHD_Connection* connection, const char* url, const char* method,
                              const char*, const char*, std::size_t* upload_data_size, void** request) {
  auto* service = static_cast<GeoService*>(service_pointer);
  if (*request == nullptr) {
    // The head is in: the request counts as in flight until it completes.
    *request = service;
    {
      std::lock_guard lock(service->flight_mutex_);
      ++service->in_flight_;
    }
    // A body is refused before it is read; otherwise the answer waits for
    // the next call, so that the connection may be kept.
    if (DeclaresBody(connection)) return service->Answer(connection, url, method, true);
    return MHD_YES;
  }
  if (*upload_data_size != 0) {
    *upload_data_size = 0;
    return service->Answer(connection, url, method, true);
  }
  return service->Answer(connection, url, method, false);
}

void GeoService::Completed(void* service_pointer, MHD_Connection*, void** request, MHD_RequestTerminationCode) {
  if (*request == nullptr) return;
  auto* service = static_cast<GeoService*>(service_pointer);
  std::lock_guard lock(service->flight_mutex_);
  --service->in_flight_;
  if (service->in_flight_ == 0) service->flight_ended_.notify_all();
}

MHD_Result GeoService::Answer(MHD_Connection* connection, const char* url, const char* method, bool has_body) {
  GeoRequest request;
  request.method = method;
  request.path = url;
  request.has_body = has_body;
  if (const char* key = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-API-Key")) request.api_key = key;
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  const std::optional<IpAddress> peer = AddressOfSocket(info == nullptr ? nullptr : info->client_addr);
  if (!peer) return MHD_NO;  // not a TCP/IP connection: nothing to answer for
  std::string forwarded_for;
  if (!settings_.trusted_proxies.empty()) {
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &CollectForwardedFor, &forwarded_for);
  }
  request.client = ClientAddress(*peer, forwarded_for, settings_.trusted_proxies);

  GeoResponse answer;
  {
    const std::shared_ptr<const ServedData> data = this->data();
    answer = AnswerRequest(request, *data->database, data->keys);
  }
  if (settings_.log_clients) {
    LogLine(FormatIpAddress(request.client) + " " + Loggable(request.method) + " " + Loggable(request.path) + " " +
            std::to_string(answer.status));
  }

  MHD_Response* response =
      MHD_create_response_from_buffer(answer.body.size(), answer.body.data(), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  if (answer.allow_header) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  if (has_body || stopping_) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

}  // namespace quillwave::geo
