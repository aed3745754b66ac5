// One request to one discovery endpoint through the persona's SOCKS5 proxy,
// made by curl as a hidden child process, and its classification.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cancellation.h"
#include "platform/command_line.h"
#include "report/error_codes.h"

namespace quillwave {

struct ProbeOutcome {
  std::string ip;
  std::int32_t curl_exit_code = -1;
  std::int64_t elapsed_ms = 0;
  std::string error_code;  // empty means success
  std::string message;
  std::string country_code;
  std::string timezone;
  std::string latitude;
  std::string longitude;
  // curl's own words on a run that failed ("Failed to connect to ..."); not
  // recorded, but they tell which machine a failure lies with.
  std::string curl_error;
};

// curl ends itself after 10 s (--max-time 10); one that is still running 5 s
// later is ended by the probe and reported as a time-out.
inline constexpr std::chrono::seconds kCurlStopAfter{15};

// Probes `url` through `proxy` (the persona's value as configured; empty
// means a direct connection) with the system's curl. When `cancel` is
// raised, curl is ended at once and the probe fails (INTERNAL, with the
// message kProbeCancelled).
ProbeOutcome probe_egress(const std::string& proxy, const std::string& url,
                          const platform::Cancellation* cancel = nullptr);

// The same with curl at an explicit path and a limit of the caller's (tests
// use a stand-in and a shorter limit).
ProbeOutcome ProbeEgressWith(const std::wstring& curl_path, const std::string& proxy, const std::string& url,
                             std::chrono::seconds stop_after = kCurlStopAfter,
                             const platform::Cancellation* cancel = nullptr);

// The message of a probe whose curl was ended by a cancellation; such an
// outcome is never reported, since the launch that cancelled it stops.
inline constexpr char kProbeCancelled[] = "curl ended: the lookup was cancelled";

// The steps of a probe that need no process.

// The proxy as curl gets it: "socks5://" becomes "socks5h://" so that the
// proxy resolves host names, and empty stays empty (a direct connection).
// Nothing when the value does not begin with exactly "socks5://".
std::optional<std::string> CurlProxy(const std::string& proxy);

// curl's arguments after its own name, one piece each: -q first, so that
// no curl configuration of the user is read, and with a proxy -x and
// --noproxy "", so that NO_PROXY cannot send the request around it; an
// empty proxy passes neither.
std::vector<std::string> CurlArguments(const std::string& curl_proxy, const std::string& url);

// The same request for a system where every local user can read a
// process's arguments: the key header and the proxy (with its noproxy) go
// into curl's configuration, which curl reads on its standard input
// (`--config -` stands where they stood). With neither, the arguments are
// CurlArguments' and there is no configuration.
struct CurlRequest {
  std::vector<std::string> arguments;
  std::string config;  // what curl reads on its standard input; empty: nothing
};
CurlRequest CurlRequestOutOfSight(const std::string& curl_proxy, const std::string& url);

// One line of curl's configuration, `name = "value"` and a line feed. The
// value is quoted with every backslash, double quote, line feed, carriage
// return and tab escaped, so that curl reads back exactly `value` and
// nothing in it can end the quotes or start another line. It is cut at its
// first NUL, which curl's line reader cannot hold (as an argument on POSIX
// ends there too).
std::string CurlConfigLine(std::string_view name, std::string_view value);

// The checks an answer's values pass before they can reach the engine, for
// tools that take an answer from a person too.
bool IsUsableIp(std::string_view text);
// Names like "Europe/Berlin", "America/Argentina/Buenos_Aires", "Etc/GMT+3".
bool IsTimeZoneName(std::string_view text);
// A plain decimal number ("-33.8688", "151") no larger than `limit` in size.
bool IsCoordinate(std::string_view text, int limit);

// curl at `curl_path` with those arguments, as the process layer starts it.
platform::ProcessLaunch CurlLaunch(const std::wstring& curl_path, const std::vector<std::string>& arguments);

// At most this much of curl's output is kept; the endpoints answer with a
// few hundred bytes.
inline constexpr std::size_t kMaxCurlOutput = 1024 * 1024;

// How a curl run ended.
struct CurlRun {
  std::int32_t exit_code = 1;
  std::string output;  // standard output and error, cut at kMaxCurlOutput
  std::uint64_t total_bytes = 0;
  std::int64_t elapsed_ms = 0;
};

// What curl said of its failure: the text of its last "curl: (N) TEXT"
// line in `output`, at most 200 bytes; empty when there is none.
std::string CurlErrorText(std::string_view output);

// The outcome of a finished run: the exit code's classification and, after
// exit 0, what the answer says. `proxy` is the value as configured.
ProbeOutcome ClassifyCurlRun(const CurlRun& run, const std::string& proxy, const std::string& url);

}  // namespace quillwave
