#include "discovery/curl_probe.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/json_readers.h"
#include "discovery/endpoints.h"
#include "persona/persona_config.h"
#include "platform/child_output.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace quillwave {
namespace {

constexpr std::string_view kAcceptedScheme = "socks5://";
constexpr std::string_view kCurlScheme = "socks5h://";
using endpoints::kApiKey;
constexpr std::size_t kShortestIp = 7;
constexpr std::size_t kLongestIp = 45;
constexpr std::size_t kMessageHead = 80;
constexpr std::int32_t kCurlTimeoutExit = 28;

// U+2026 and U+2014 written as their UTF-8 bytes.
constexpr char kSchemeMessage[] =
    "proxy-server is not socks5://\xE2\x80\xA6 \xE2\x80\x94 launcher does not handle other schemes";
constexpr char kNoIpMessage[] = "curl exit 0 but no usable IP in response \xE2\x80\x94 got ";

// The primary endpoint is known by its port and path in the URL.
bool IsPrimaryUrl(const std::string& url) {
  return url.find(":" + std::to_string(endpoints::kPrimaryPort) + "/geo") != std::string::npos;
}

ProbeOutcome Failed(const char* code, std::string message) {
  ProbeOutcome outcome;
  outcome.error_code = code;
  outcome.message = std::move(message);
  return outcome;
}

// Four decimal parts of 0 to 255, without leading zeros (which some readers
// take as octal).
bool IsIpv4Literal(std::string_view text) {
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    const std::size_t start = i;
    int value = 0;
    while (i < text.size() && IsAsciiDigit(text[i]) && i - start < 3) value = value * 10 + (text[i++] - '0');
    const std::size_t length = i - start;
    if (length == 0 || value > 255 || (length > 1 && text[start] == '0')) return false;
    if (++parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  return i == text.size();
}

// Groups of one to four hex digits, at most one "::", optionally ending in a
// dotted IPv4 part; no zone index (a public address has none).
bool IsIpv6Literal(std::string_view text) {
  int groups = 0;
  bool compressed = false;
  std::size_t i = 0;
  if (text.starts_with("::")) {
    compressed = true;
    i = 2;
  }
  while (i < text.size()) {
    const std::size_t colon = text.find(':', i);
    const std::string_view group = text.substr(i, colon - i);  // to the end when no colon follows
    if (colon == std::string_view::npos && group.find('.') != std::string_view::npos) {
      if (!IsIpv4Literal(group)) return false;
      groups += 2;
      break;
    }
    if (group.empty() || group.size() > 4) return false;
    for (char c : group) {
      if (!IsAsciiHexDigit(c)) return false;
    }
    ++groups;
    if (colon == std::string_view::npos) break;
    if (colon + 1 < text.size() && text[colon + 1] == ':') {
      if (compressed) return false;
      compressed = true;
      i = colon + 2;
    } else {
      i = colon + 1;
      if (i == text.size()) return false;  // a single trailing colon
    }
  }
  return compressed ? groups <= 7 : groups == 8;
}

}  // namespace

bool IsUsableIp(std::string_view text) {
  if (text.size() < kShortestIp || text.size() > kLongestIp) return false;
  return IsIpv4Literal(text) || IsIpv6Literal(text);
}

// Names like "Europe/Berlin", "America/Argentina/Buenos_Aires", "Etc/GMT+3".
bool IsTimeZoneName(std::string_view text) {
  if (text.empty() || text.size() > 64 || text.front() == '/') return false;
  for (char c : text) {
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '/' && c != '_' && c != '-' && c != '+') return false;
  }
  return true;
}

// A plain decimal number ("-33.8688", "151", "0.5") no larger than `limit`
// in size; no exponent, no sign but '-', at most 32 bytes.
bool IsCoordinate(std::string_view text, int limit) {
  if (text.empty() || text.size() > 32) return false;
  std::size_t i = text.front() == '-' ? 1 : 0;
  const std::size_t whole_start = i;
  while (i < text.size() && IsAsciiDigit(text[i])) ++i;
  const std::string_view whole = text.substr(whole_start, i - whole_start);
  std::string_view fraction;
  if (i < text.size() && text[i] == '.') {
    fraction = text.substr(i + 1);
    if (fraction.empty()) return false;
    for (char c : fraction) {
      if (!IsAsciiDigit(c)) return false;
    }
    i = text.size();
  }
  if (whole.empty() || i != text.size()) return false;
  const std::size_t significant = std::min(whole.find_first_not_of('0'), whole.size());
  int value = 0;
  for (char c : whole.substr(significant)) {
    value = value * 10 + (c - '0');
    if (value > limit) return false;
  }
  return value < limit || fraction.find_first_not_of('0') == std::string_view::npos;
}

namespace {

bool IsJsonAnswer(std::string_view output) {
  const std::size_t first = output.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && output[first] == '{';
}

// The first non-empty line, with every blank and tab taken out.
std::string PlainAnswer(std::string_view output) {
  std::string collected;
  for (char c : output) {
    if (c == ' ' || c == '\t') continue;
    if (c == '\r' || c == '\n') {
      if (!collected.empty()) break;
      continue;
    }
    collected += c;
  }
  return collected;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view lower_needle) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t start = 0; start + lower_needle.size() <= text.size(); ++start) {
    std::size_t k = 0;
    while (k < lower_needle.size() && lower(text[start + k]) == lower_needle[k]) ++k;
    if (k == lower_needle.size()) return true;
  }
  return false;
}

const char* ErrorCodeForExit(std::int32_t exit_code, std::string_view output) {
  switch (exit_code) {
    case 7:
      return kProxyUnreachable;
    case kCurlTimeoutExit:
      return kProxyTimeout;
    case 56:
    case 67:
      return kProxyAuthFailed;
    case 97:
      // Since curl 7.73 every SOCKS handshake failure exits with 97; only its
      // text tells a refused login from a proxy that cannot reach the target.
      if (ContainsIgnoringCase(output, "user was rejected") ||
          ContainsIgnoringCase(output, "no authentication method was acceptable")) {
        return kProxyAuthFailed;
      }
      return kProxyUnreachable;
    default:
      return kInternal;
  }
}

// The key header and the proxy (with its password) go where other users
// cannot read them.
CurlRequest RequestFor(const std::string& curl_proxy, const std::string& url) {
  if (platform::CommandLinesArePrivate()) return {CurlArguments(curl_proxy, url), {}};
  return CurlRequestOutOfSight(curl_proxy, url);
}

ProbeOutcome RunCurl(const std::wstring& curl_path, const std::string& curl_proxy, const std::string& proxy,
                     const std::string& url, std::chrono::seconds stop_after, const platform::Cancellation* cancel) {
  if (!platform::PathExists(curl_path)) return Failed(kCurlNotFound, platform::CurlMissingMessage(curl_path));
  const CurlRequest request = RequestFor(curl_proxy, url);
  platform::CapturedRun captured = platform::RunCapturingOutput(CurlLaunch(curl_path, request.arguments),
                                                                request.config, kMaxCurlOutput, stop_after, cancel);
  if (captured.status == platform::CaptureStatus::kCancelled) {
    ProbeOutcome outcome = Failed(kInternal, kProbeCancelled);
    outcome.elapsed_ms = captured.elapsed_ms;
    return outcome;
  }
  if (captured.status == platform::CaptureStatus::kPipeFailed) return Failed(kInternal, "CreatePipe failed");
  if (captured.status == platform::CaptureStatus::kStartFailed) {
    return Failed(kInternal, "CreateProcess(curl.exe) failed");
  }
  if (captured.status == platform::CaptureStatus::kStopped) {
    // Reported as curl reports its own time-out, whatever the system made of the forced end.
    ProbeOutcome outcome = Failed(kProxyTimeout, "curl stopped after " + std::to_string(stop_after.count()) +
                                                     " s against " + url + " via " + MaskProxyPassword(proxy));
    outcome.curl_exit_code = kCurlTimeoutExit;
    outcome.elapsed_ms = captured.elapsed_ms;
    return outcome;
  }
  CurlRun run;
  run.exit_code = captured.exit_code;
  run.output = std::move(captured.output);
  run.total_bytes = captured.total_bytes;
  run.elapsed_ms = captured.elapsed_ms;
  return ClassifyCurlRun(run, proxy, url);
}

}  // namespace

std::optional<std::string> CurlProxy(const std::string& proxy) {
  if (proxy.empty()) return std::string();
  if (!proxy.starts_with(kAcceptedScheme)) return std::nullopt;
  return std::string(kCurlScheme) + proxy.substr(kAcceptedScheme.size());
}

// -q only counts as curl's first argument: no configuration file of the
// user is read, which could send the request around the proxy.
std::vector<std::string> CurlArguments(const std::string& curl_proxy, const std::string& url) {
  std::vector<std::string> arguments{"-q", "--max-time", "10", "-sS"};
  if (IsPrimaryUrl(url)) {
    arguments.insert(arguments.end(), {"--fail", "-H", std::string("X-API-Key: ") + kApiKey});
  }
  // An empty list of hosts reached directly overrides NO_PROXY and no_proxy.
  if (!curl_proxy.empty()) arguments.insert(arguments.end(), {"-x", curl_proxy, "--noproxy", ""});
  arguments.push_back(url);
  return arguments;
}

CurlRequest CurlRequestOutOfSight(const std::string& curl_proxy, const std::string& url) {
  CurlRequest request;
  request.arguments = {"-q", "--max-time", "10", "-sS"};
  if (IsPrimaryUrl(url)) {
    request.arguments.push_back("--fail");
    request.config += CurlConfigLine("header", std::string("X-API-Key: ") + kApiKey);
  }
  if (!curl_proxy.empty()) request.config += CurlConfigLine("proxy", curl_proxy) + CurlConfigLine("noproxy", "");
  if (!request.config.empty()) request.arguments.insert(request.arguments.end(), {"--config", "-"});
  request.arguments.push_back(url);
  return request;
}

std::string CurlConfigLine(std::string_view name, std::string_view value) {
  value = value.substr(0, value.find('\0'));
  std::string line(name);
  line += " = \"";
  for (const char c : value) {
    switch (c) {
      case '\\':
        line += "\\\\";
        break;
      case '"':
        line += "\\\"";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      case '\t':
        line += "\\t";
        break;
      default:
        line += c;
    }
  }
  line += "\"\n";
  return line;
}

platform::ProcessLaunch CurlLaunch(const std::wstring& curl_path, const std::vector<std::string>& arguments) {
  platform::ProcessLaunch launch;
  launch.program = curl_path;
  for (const auto& argument : arguments) launch.arguments.push_back({Widen(argument)});
  return launch;
}

std::string CurlErrorText(std::string_view output) {
  constexpr std::string_view kPrefix = "curl: (";
  constexpr std::size_t kLongest = 200;
  std::size_t at = output.rfind(kPrefix);
  while (at != std::string_view::npos && at != 0 && output[at - 1] != '\n') at = output.rfind(kPrefix, at - 1);
  if (at == std::string_view::npos) return {};
  const std::size_t close = output.find(") ", at + kPrefix.size());
  const std::size_t end = output.find_first_of("\r\n", at);
  if (close == std::string_view::npos || close > end) return {};
  return std::string(output.substr(close + 2, std::min(end, output.size()) - close - 2).substr(0, kLongest));
}

ProbeOutcome ClassifyCurlRun(const CurlRun& run, const std::string& proxy, const std::string& url) {
  ProbeOutcome outcome;
  outcome.curl_exit_code = run.exit_code;
  outcome.elapsed_ms = run.elapsed_ms;
  if (run.exit_code != 0) {
    outcome.error_code = ErrorCodeForExit(run.exit_code, run.output);
    outcome.message = "curl exit " + std::to_string(run.exit_code) + " against " + url + " via " +
                      MaskProxyPassword(proxy) + " after " + std::to_string(run.elapsed_ms) + " ms";
    outcome.curl_error = CurlErrorText(run.output);
    return outcome;
  }

  // The primary endpoint is plain HTTP behind a third-party proxy, so any of
  // this may be forged: only values of the expected form reach the engine.
  std::string candidate;
  if (IsJsonAnswer(run.output)) {
    candidate = ReadStringField(run.output, "ip");
    const bool primary = IsPrimaryUrl(url);
    outcome.country_code = ReadStringField(run.output, primary ? "country" : "country_code");
    if (std::string timezone = ReadStringField(run.output, "timezone"); IsTimeZoneName(timezone)) {
      outcome.timezone = std::move(timezone);
    }
    if (std::string latitude = ReadScalarField(run.output, "latitude"); IsCoordinate(latitude, 90)) {
      outcome.latitude = std::move(latitude);
    }
    if (std::string longitude = ReadScalarField(run.output, "longitude"); IsCoordinate(longitude, 180)) {
      outcome.longitude = std::move(longitude);
    }
  } else {
    candidate = PlainAnswer(run.output);
  }
  if (IsUsableIp(candidate)) {
    outcome.ip = std::move(candidate);
    return outcome;
  }
  outcome.error_code = kDiscoveryHttpError;
  outcome.message = kNoIpMessage + std::to_string(run.total_bytes) + " bytes, head: \"" +
                    run.output.substr(0, kMessageHead) + "\"";
  return outcome;
}

ProbeOutcome ProbeEgressWith(const std::wstring& curl_path, const std::string& proxy, const std::string& url,
                             std::chrono::seconds stop_after, const platform::Cancellation* cancel) {
  const std::optional<std::string> curl_proxy = CurlProxy(proxy);
  if (!curl_proxy) return Failed(kInternal, kSchemeMessage);
  return RunCurl(curl_path, *curl_proxy, proxy, url, stop_after, cancel);
}

ProbeOutcome probe_egress(const std::string& proxy, const std::string& url, const platform::Cancellation* cancel) {
  const std::optional<std::string> curl_proxy = CurlProxy(proxy);
  if (!curl_proxy) return Failed(kInternal, kSchemeMessage);
  const platform::SystemCurl curl = platform::FindSystemCurl();
  if (curl.path.empty()) return Failed(kInternal, curl.failure);
  return RunCurl(curl.path, *curl_proxy, proxy, url, kCurlStopAfter, cancel);
}

}  // namespace quillwave
