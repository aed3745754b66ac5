// quillwave-geo's command line.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "geo/address.h"

namespace quillwave::geo {

// The port the release's launchers ask on (its endpoints file's primary-port).
inline constexpr int kDefaultPort = QUILLWAVE_GEO_DEFAULT_PORT;

// The usage text, with every default.
std::string Usage();

struct GeoOptions {
  std::string database;
  std::string api_key_file;
  std::string listen = "0.0.0.0:" + std::to_string(kDefaultPort);
  std::vector<AddressRange> trusted_proxies;
  std::vector<AddressRange> metrics_from;  // loopback when none is given
  unsigned max_connections = 1024;
  unsigned max_per_address = 32;
  std::chrono::milliseconds head_timeout{5000};
  bool access_log = false;
  bool log_clients = false;
  bool help = false;
  bool version = false;
  std::string error;  // why the command line is not usable
};

// Options as "--name value" or "--name=value".
GeoOptions ParseGeoOptions(const std::vector<std::string>& arguments);

}  // namespace quillwave::geo
