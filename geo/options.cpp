#include "geo/options.h"

#include <charconv>

namespace quillwave::geo {
namespace {

// A whole decimal number from `low` to `high`, or nothing.
bool ReadNumber(const std::string& text, unsigned low, unsigned high, unsigned& number) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return false;
  number = value;
  return true;
}

}  // namespace

std::string Usage() {
  const std::string port = std::to_string(kDefaultPort);
  return "usage: quillwave-geo --database FILE --api-key-file FILE [options]\n"
         "       quillwave-geo --help | --version\n"
         "  --listen ADDRESS:PORT            where to listen (default 0.0.0.0:" +
         port +
         ", every IPv4 interface)\n"
         "  --trusted-proxy CIDR             a load balancer whose X-Forwarded-For is believed (none)\n"
         "  --max-connections N              connections in all (default 1024)\n"
         "  --max-connections-per-address N  connections of one client address, 0 for no limit (default 32)\n"
         "  --head-timeout SECONDS           time for a whole request head (default 5)\n"
         "  --metrics-from CIDR              who may read /metrics (default 127.0.0.0/8 and ::1)\n"
         "  --access-log                     a line a request: method, path, status, latency (off)\n"
         "  --log-clients                    the client's address in that line; turns it on (off)\n";
}

GeoOptions ParseGeoOptions(const std::vector<std::string>& arguments) {
  GeoOptions options;
  const auto fail = [&options](std::string text) {
    options.error = std::move(text);
    return options;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool has_value = false;
    if (const std::size_t equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      has_value = true;
    }
    if (name == "--help" || name == "--version" || name == "--log-clients" || name == "--access-log") {
      if (has_value) return fail(name + " takes no value");
      (name == "--help"          ? options.help
       : name == "--version"     ? options.version
       : name == "--log-clients" ? options.log_clients
                                 : options.access_log) = true;
      continue;
    }
    if (name != "--database" && name != "--api-key-file" && name != "--listen" && name != "--trusted-proxy" &&
        name != "--max-connections" && name != "--max-connections-per-address" && name != "--head-timeout" &&
        name != "--metrics-from") {
      return fail("unknown argument '" + name + "'");
    }
    if (!has_value) {
      if (i + 1 >= arguments.size()) return fail(name + " needs a value");
      value = arguments[++i];
    }
    if (name == "--database") {
      options.database = value;
    } else if (name == "--api-key-file") {
      options.api_key_file = value;
    } else if (name == "--listen") {
      options.listen = value;
    } else if (name == "--trusted-proxy" || name == "--metrics-from") {
      const std::optional<AddressRange> range = ParseAddressRange(value);
      if (!range) return fail(name + " takes an address or a CIDR range (10.0.0.0/8), not '" + value + "'");
      (name == "--trusted-proxy" ? options.trusted_proxies : options.metrics_from).push_back(*range);
    } else if (name == "--max-connections") {
      if (!ReadNumber(value, 1, 1000000, options.max_connections)) {
        return fail("--max-connections takes a number from 1 to 1000000, not '" + value + "'");
      }
    } else if (name == "--max-connections-per-address") {
      if (!ReadNumber(value, 0, 1000000, options.max_per_address)) {
        return fail("--max-connections-per-address takes a number from 0 to 1000000, not '" + value + "'");
      }
    } else {
      unsigned seconds = 0;
      if (!ReadNumber(value, 1, 3600, seconds)) {
        return fail("--head-timeout takes a number of seconds from 1 to 3600, not '" + value + "'");
      }
      options.head_timeout = std::chrono::seconds(seconds);
    }
  }
  if (options.metrics_from.empty())
    options.metrics_from = {*ParseAddressRange("127.0.0.0/8"), *ParseAddressRange("::1")};
  if (options.help || options.version) return options;
  if (options.database.empty()) return fail("--database FILE is needed");
  if (options.api_key_file.empty()) return fail("--api-key-file FILE is needed");
  return options;
}

}  // namespace quillwave::geo
