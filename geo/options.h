// quillwave-geo's command line.
#pragma once

#include <string>
#include <vector>

#include "geo/address.h"

namespace quillwave::geo {

inline constexpr char kUsage[] =
    "usage: quillwave-geo --database FILE --api-key-file FILE [--listen ADDRESS:PORT]\n"
    "                     [--trusted-proxy CIDR]... [--max-connections N] [--log-clients]\n"
    "       quillwave-geo --help | --version\n";

struct GeoOptions {
  std::string database;
  std::string api_key_file;
  std::string listen = "0.0.0.0:65333";
  std::vector<AddressRange> trusted_proxies;
  unsigned max_connections = 1024;
  bool log_clients = false;
  bool help = false;
  bool version = false;
  std::string error;  // why the command line is not usable
};

// Options as "--name value" or "--name=value".
GeoOptions ParseGeoOptions(const std::vector<std::string>& arguments);

}  // namespace quillwave::geo
