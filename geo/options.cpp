#include "geo/options.h"

#include <charconv>

namespace quillwave::geo {

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
    if (name == "--help" || name == "--version" || name == "--log-clients") {
      if (has_value) return fail(name + " takes no value");
      (name == "--help" ? options.help : name == "--version" ? options.version : options.log_clients) = true;
      continue;
    }
    if (name != "--database" && name != "--api-key-file" && name != "--listen" && name != "--trusted-proxy" &&
        name != "--max-connections") {
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
    } else if (name == "--trusted-proxy") {
      const std::optional<AddressRange> range = ParseAddressRange(value);
      if (!range) return fail("--trusted-proxy takes an address or a CIDR range (10.0.0.0/8), not '" + value + "'");
      options.trusted_proxies.push_back(*range);
    } else {
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), options.max_connections);
      if (error != std::errc() || end != value.data() + value.size() || options.max_connections == 0 ||
          options.max_connections > 1000000) {
        return fail("--max-connections takes a number from 1 to 1000000, not '" + value + "'");
      }
    }
  }
  if (options.help || options.version) return options;
  if (options.database.empty()) return fail("--database FILE is needed");
  if (options.api_key_file.empty()) return fail("--api-key-file FILE is needed");
  return options;
}

}  // namespace quillwave::geo
