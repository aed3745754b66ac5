#include "geo/options.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <optional>

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
  enum : int {
    kDatabase = 256,
    kApiKeyFile,
    kListen,
    kTrustedProxy,
    kMetricsFrom,
    kMaxConnections,
    kMaxPerAddress,
    kHeadTimeout,
    kAccessLog,
    kLogClients,
    kHelp,
    kVersion,
  };
  static constexpr option kOptions[] = {{"database", required_argument, nullptr, kDatabase},
                                        {"api-key-file", required_argument, nullptr, kApiKeyFile},
                                        {"listen", required_argument, nullptr, kListen},
                                        {"trusted-proxy", required_argument, nullptr, kTrustedProxy},
                                        {"metrics-from", required_argument, nullptr, kMetricsFrom},
                                        {"max-connections", required_argument, nullptr, kMaxConnections},
                                        {"max-connections-per-address", required_argument, nullptr, kMaxPerAddress},
                                        {"head-timeout", required_argument, nullptr, kHeadTimeout},
                                        {"access-log", no_argument, nullptr, kAccessLog},
                                        {"log-clients", no_argument, nullptr, kLogClients},
                                        {"help", no_argument, nullptr, kHelp},
                                        {"version", no_argument, nullptr, kVersion},
                                        {nullptr, 0, nullptr, 0}};
  GeoOptions options;
  const auto fail = [&options](std::string text) {
    options.error = std::move(text);
    return options;
  };
  std::vector<std::string> words = {"quillwave-geo"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());
  // The option as written, without its value.
  const auto written = [&argv](int at) {
    const std::string word = argv[at];
    return word.substr(0, word.find('='));
  };
  // The words end at the first that is no option ("+"), a missing value is
  // told from an unknown option (":"), and the messages are the service's own.
  optind = 0;
  opterr = 0;
  for (;;) {
    // Without reordering the option found is the word getopt_long starts at.
    const int at = std::max(optind, 1);
    int index = -1;
    const int found = getopt_long(argc, argv.data(), "+:", kOptions, &index);
    if (found == -1) break;
    // getopt_long takes an unambiguous abbreviation; the service takes whole names only.
    if (index >= 0 && written(at) != std::string("--") + kOptions[index].name) {
      return fail("unknown argument '" + written(at) + "'");
    }
    const std::string value = optarg != nullptr ? optarg : "";
    switch (found) {
      case kDatabase:
        options.database = value;
        break;
      case kApiKeyFile:
        options.api_key_file = value;
        break;
      case kListen:
        options.listen = value;
        break;
      case kTrustedProxy:
      case kMetricsFrom: {
        const std::optional<AddressRange> range = ParseAddressRange(value);
        const std::string name = found == kTrustedProxy ? "--trusted-proxy" : "--metrics-from";
        if (!range) return fail(name + " takes an address or a CIDR range (10.0.0.0/8), not '" + value + "'");
        (found == kTrustedProxy ? options.trusted_proxies : options.metrics_from).push_back(*range);
        break;
      }
      case kMaxConnections:
        if (!ReadNumber(value, 1, 1000000, options.max_connections)) {
          return fail("--max-connections takes a number from 1 to 1000000, not '" + value + "'");
        }
        break;
      case kMaxPerAddress:
        if (!ReadNumber(value, 0, 1000000, options.max_per_address)) {
          return fail("--max-connections-per-address takes a number from 0 to 1000000, not '" + value + "'");
        }
        break;
      case kHeadTimeout: {
        unsigned seconds = 0;
        if (!ReadNumber(value, 1, 3600, seconds)) {
          return fail("--head-timeout takes a number of seconds from 1 to 3600, not '" + value + "'");
        }
        options.head_timeout = std::chrono::seconds(seconds);
        break;
      }
      case kAccessLog:
        options.access_log = true;
        break;
      case kLogClients:
        options.log_clients = true;
        break;
      case kHelp:
        options.help = true;
        break;
      case kVersion:
        options.version = true;
        break;
      case ':':
        return fail(written(at) + " needs a value");
      default:  // '?': unknown, or a value given to a long option that takes none
        return fail(optopt >= kDatabase ? written(at) + " takes no value" : "unknown argument '" + written(at) + "'");
    }
  }
  if (optind < argc) return fail("unknown argument '" + std::string(argv[optind]) + "'");
  if (options.metrics_from.empty())
    options.metrics_from = {*ParseAddressRange("127.0.0.0/8"), *ParseAddressRange("::1")};
  if (options.help || options.version) return options;
  if (options.database.empty()) return fail("--database FILE is needed");
  if (options.api_key_file.empty()) return fail("--api-key-file FILE is needed");
  return options;
}

}  // namespace quillwave::geo
