// The discovery answer as curl printed it, after a run that exited with 0.
// The answer may be forged, so whatever the outcome carries must have the
// form the engine's switches expect.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/curl_probe.h"
#include "discovery/endpoints.h"
#include "fuzz/fuzz_check.h"

namespace {

bool OnlyOf(std::string_view text, std::string_view allowed) {
  return text.find_first_not_of(allowed) == std::string_view::npos;
}

bool IsAddress(const std::string& text) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, text.c_str(), buffer) == 1 || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillwave;
  using fuzz::Check;
  if (size == 0) return 0;
  // The first byte picks the endpoint: the primary reads "country", the others "country_code".
  const std::string url = (data[0] & 1) ? "http://192.0.2.10:" + std::to_string(endpoints::kPrimaryPort) + "/geo"
                                        : std::string("https://x.example/");
  CurlRun run;
  run.exit_code = 0;
  run.output.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  run.total_bytes = run.output.size();
  const ProbeOutcome outcome = ClassifyCurlRun(run, "socks5://127.0.0.1:1080", url);

  Check(outcome.curl_exit_code == 0, "the exit code is not carried over");
  Check(outcome.ip.empty() != outcome.error_code.empty(), "an outcome needs an address or an error, not both");
  if (!outcome.ip.empty()) Check(IsAddress(outcome.ip), "the address is not an IPv4 or IPv6 literal");
  Check(OnlyOf(outcome.timezone, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/_+-"),
        "the time zone holds a character a zone name never has");
  Check(OnlyOf(outcome.latitude, "0123456789.-") && OnlyOf(outcome.longitude, "0123456789.-"),
        "a coordinate holds a character a number never has");
  return 0;
}
