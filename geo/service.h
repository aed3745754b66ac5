// The HTTP side of the service (libmicrohttpd): a pool of threads answering
// on one listening socket, the data every request reads, swapped whole on a
// reload, and a stop that lets the requests in flight finish.
#pragma once

#include <microhttpd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "geo/address.h"
#include "geo/descriptor.h"
#include "geo/geo_database.h"

namespace quillwave::geo {

// What requests are answered from. A request keeps the one it started with
// until it ends, so a reload never pulls a database from under it.
struct ServedData {
  std::shared_ptr<const GeoDatabase> database;
  std::vector<std::string> keys;
  std::int64_t loaded_at = 0;  // seconds since 1970
};

struct ServiceSettings {
  unsigned threads = 1;
  unsigned max_connections = 1024;
  // Connections one address may hold; the trusted proxies have no limit.
  unsigned max_per_address = 32;
  // From a connection's start, or the end of its last answer, to the end of
  // the next request head; bytes that trickle in do not extend it.
  std::chrono::milliseconds head_timeout{5000};
  std::vector<AddressRange> trusted_proxies;
  // Peers that may read /metrics; anyone else gets 404.
  std::vector<AddressRange> metrics_from;
  bool access_log = false;
  bool log_clients = false;  // the client's address in the access log (and turns it on)
};

struct ConnectionState;

// A listening TCP socket.
using ListeningSocket = Descriptor;

struct Listener {
  ListeningSocket socket;
  std::string address;  // as bound, "127.0.0.1:65333" or "[::]:65333"
  std::string error;
  bool malformed = false;  // the text is no ADDRESS:PORT
};

// Binds and listens on "ADDRESS:PORT" ("0.0.0.0:65333", "[::1]:0"); port 0
// takes one the system picks.
Listener Listen(const std::string& address_port);

class GeoService {
 public:
  // Serves on `socket` until stopped. Null, with `error`, when the server
  // would not start.
  static std::unique_ptr<GeoService> Start(ListeningSocket socket, ServiceSettings settings,
                                           std::shared_ptr<const ServedData> data, std::string& error);
  ~GeoService();
  GeoService(const GeoService&) = delete;
  GeoService& operator=(const GeoService&) = delete;

  // Requests that start from now on read `data`.
  void Replace(std::shared_ptr<const ServedData> data);
  // For /metrics: a reload done by the program, or one that failed.
  void CountReload(bool done);
  std::shared_ptr<const ServedData> data() const;

  // Takes no new connection, gives the requests in flight up to `grace` to
  // finish, then closes every connection. Returns how many were cut.
  int Stop(std::chrono::milliseconds grace);

 private:
  GeoService(ServiceSettings settings, std::shared_ptr<const ServedData> data);
  static MHD_Result Access(void* service, MHD_Connection* connection, const char* url, const char* method,
                           const char* version, const char* upload_data, std::size_t* upload_data_size, void** request);
  static void Completed(void* service, MHD_Connection* connection, void** request, MHD_RequestTerminationCode code);
  static void Connected(void* service, MHD_Connection* connection, void** state, MHD_ConnectionNotificationCode code);
  MHD_Result Answer(MHD_Connection* connection, ConnectionState& state, const char* url, const char* method,
                    bool has_body);
  std::string Metrics() const;
  // Closes the connections whose request head is overdue, until stopped.
  void WatchHeads();

  const ServiceSettings settings_;
  MHD_Daemon* daemon_ = nullptr;
  mutable std::mutex data_mutex_;
  std::shared_ptr<const ServedData> data_;
  std::mutex flight_mutex_;
  std::condition_variable flight_ended_;
  int in_flight_ = 0;
  std::atomic<bool> stopping_{false};

  // Every open connection, and how many each counted address holds.
  mutable std::mutex connections_mutex_;
  std::condition_variable watch_wake_;
  std::vector<ConnectionState*> connections_;
  std::map<std::pair<bool, std::array<std::uint8_t, 16>>, unsigned> per_address_;
  bool watch_stop_ = false;
  std::thread head_watch_;

  struct Counters;
  std::unique_ptr<Counters> counters_;
};

}  // namespace quillwave::geo
