// The configuration curl reads on its standard input, written for a proxy
// text of any bytes: exactly the expected options, one per line, each value
// reading back as the input. The reader here is written apart from the code
// under test on purpose.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "discovery/curl_probe.h"
#include "discovery/endpoints.h"
#include "fuzz/fuzz_check.h"

namespace {

using Option = std::pair<std::string, std::string>;

// Lines as curl's -K reader takes them: the name, blanks and '=' or ':',
// then a value in double quotes in which a backslash gives t, n, r and v
// their control character and any other character itself. Stricter than
// curl: every line ends with a line feed, the quotes close at its end, and
// neither a NUL (where curl's reader would stop) nor a carriage return
// (which other readers take for a line end) appears.
std::optional<std::vector<Option>> ReadConfig(std::string_view text) {
  std::vector<Option> options;
  if (text.find_first_of(std::string_view("\0\r", 2)) != std::string_view::npos) return std::nullopt;
  for (std::size_t end; !text.empty(); text.remove_prefix(end + 1)) {
    end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    const std::size_t name_end = line.find_first_of(" \t=:");
    const std::size_t open = line.find_first_not_of(" \t=:", name_end);
    if (end == std::string_view::npos || name_end == 0 || open >= line.size() - 1 || line[open] != '"' ||
        line.back() != '"') {
      return std::nullopt;
    }
    Option option{std::string(line.substr(0, name_end)), {}};
    for (std::size_t i = open + 1; i + 1 < line.size(); ++i) {
      char c = line[i];
      if (c == '"') return std::nullopt;  // the value ended before the line did
      if (c == '\\') {
        if (++i == line.size() - 1) return std::nullopt;  // the closing quote was escaped
        c = line[i];
        c = c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 'v' ? '\v' : c;
      }
      option.second += c;
    }
    options.push_back(std::move(option));
  }
  return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillwave;
  using fuzz::Check;
  if (size == 0) return 0;
  // The first byte picks the endpoint: only the primary one gets the key.
  const bool primary = (data[0] & 1) != 0;
  const std::string url = primary ? "http://192.0.2.10:" + std::to_string(endpoints::kPrimaryPort) + "/geo"
                                  : std::string("https://x.example/");
  const std::string proxy(reinterpret_cast<const char*>(data) + 1, size - 1);
  const CurlRequest request = CurlRequestOutOfSight(proxy, url);

  std::vector<Option> expected;
  if (primary) expected.emplace_back("header", "X-API-Key: 7c3e91f04ab25d68e0b7f1a9c4d2e8356b0a9f1e");
  if (!proxy.empty()) {
    expected.emplace_back("proxy", proxy.substr(0, proxy.find('\0')));
    expected.emplace_back("noproxy", "");
  }
  Check(ReadConfig(request.config) == expected,
        "the configuration does not read back as the header, the proxy and its empty noproxy");

  std::vector<std::string> arguments{"-q", "--max-time", "10", "-sS"};
  if (primary) arguments.push_back("--fail");
  if (!expected.empty()) arguments.insert(arguments.end(), {"--config", "-"});
  arguments.push_back(url);
  Check(request.arguments == arguments, "the arguments carry more than the fixed options and the address");
  return 0;
}
