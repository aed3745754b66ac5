#include "tool/persona_probe.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "base/json_readers.h"
#include "discovery/country_locale.h"
#include "discovery/curl_probe.h"
#include "launcher/discovery_launch.h"
#include "persona/persona_config.h"
#include "platform/system.h"
#include "report/error_codes.h"
#include "tool/endpoint_list.h"

namespace quillwave {
namespace {

constexpr double kNoticeableKm = 500;

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// "de" of "de-DE" or of "de-DE,de;q=0.9".
std::string PrimaryLanguage(std::string_view tag) { return LowerAscii(tag.substr(0, tag.find_first_of("-_,;"))); }

std::string Offset(long seconds) {
  char text[32];
  const long minutes = std::labs(seconds) / 60;
  std::snprintf(text, sizeof text, "UTC%c%02ld:%02ld", seconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}

class Comparison {
 public:
  Comparison(std::string_view text, const ProbeOutcome& egress, std::vector<Finding>& findings)
      : text_(text), positions_(text), egress_(egress), findings_(findings) {}

  void Run() {
    WebrtcAddress();
    TimeZone();
    Language("lang");
    Language("accept-language");
    Coordinates();
  }

 private:
  void Add(const char* severity, std::string_view key, std::size_t at, std::string message) {
    const auto [line, column] = positions_.At(at);
    findings_.push_back(Finding{severity, std::string(key), line, column, std::move(message)});
  }

  void WebrtcAddress() {
    const KeyedValue given = FindStringField(text_, "webrtc-fake-public-ip");
    if (given.value.empty() || given.value == egress_.ip) return;
    Add(kSeverityError, "webrtc-fake-public-ip", given.key_at,
        "WebRTC shows " + given.value + " while connections come from " + egress_.ip + ": the page sees two addresses");
  }

  void TimeZone() {
    const KeyedValue given = FindStringField(text_, "timezone-override");
    if (given.value.empty() || egress_.timezone.empty() || given.value == egress_.timezone) return;
    std::string message = "names " + given.value + " while the egress is in " + egress_.timezone;
    const std::optional<long> own = platform::UtcOffsetNow(given.value);
    const std::optional<long> egress = platform::UtcOffsetNow(egress_.timezone);
    if (own && egress) {
      message += *own == *egress ? "; both are at " + Offset(*own) + " today"
                                 : "; today that is " + Offset(*own) + " against " + Offset(*egress);
    } else {
      message += "; this system has no zone data to compare their UTC offsets";
    }
    Add(kSeverityWarning, "timezone-override", given.key_at, message);
  }

  void Language(std::string_view key) {
    const KeyedValue given = FindStringField(text_, key);
    if (given.value.empty() || egress_.country_code.empty()) return;
    const CountryLocale derived = LookupCountryLocale(egress_.country_code);
    if (PrimaryLanguage(given.value) == PrimaryLanguage(derived.lang)) return;
    Add(kSeverityWarning, key, given.key_at,
        "\"" + given.value + "\" while the launcher derives " + std::string(derived.lang) + " for the egress country " +
            egress_.country_code);
  }

  void Coordinates() {
    const KeyedValue lat = FindScalarField(text_, "geo-lat");
    const KeyedValue lng = FindScalarField(text_, "geo-lng");
    if (!IsCoordinate(lat.value, 90) || !IsCoordinate(lng.value, 180)) return;
    if (egress_.latitude.empty() || egress_.longitude.empty()) return;
    const double km = DistanceKm(std::atof(lat.value.c_str()), std::atof(lng.value.c_str()),
                                 std::atof(egress_.latitude.c_str()), std::atof(egress_.longitude.c_str()));
    if (km <= kNoticeableKm) return;
    Add(kSeverityWarning, "geo-lat", lat.key_at,
        "the coordinates " + lat.value + ", " + lng.value + " lie " + std::to_string(static_cast<long>(km)) +
            " km from the egress location " + egress_.latitude + ", " + egress_.longitude);
  }

  std::string_view text_;
  TextPositions positions_;
  const ProbeOutcome& egress_;
  std::vector<Finding>& findings_;
};

// The reply codes a SOCKS5 proxy gives for a connection it could not make.
std::string SocksReplyText(std::string_view curl_error) {
  static constexpr const char* kReplies[] = {"",
                                             "general failure",
                                             "not allowed by the proxy's rules",
                                             "network unreachable",
                                             "host unreachable",
                                             "connection refused",
                                             "TTL expired",
                                             "command not supported",
                                             "address type not supported"};
  // curl writes "Can't complete SOCKS5 connection to HOST. (CODE)".
  if (curl_error.size() < 3 || curl_error.back() != ')') return {};
  const std::size_t open = curl_error.rfind('(');
  if (open == std::string_view::npos || open + 3 != curl_error.size()) return {};
  const char code = curl_error[open + 1];
  if (code < '1' || code > '8') return {};
  return kReplies[code - '0'];
}

}  // namespace

FailurePlace WhereItFailed(const ProbeOutcome& outcome, bool through_proxy) {
  if (outcome.error_code.empty()) return {};
  if (outcome.error_code == kDiscoveryHttpError) {
    return {kFailedAtEndpoint, "the endpoint answered without a usable address"};
  }
  const std::string& said = outcome.curl_error;
  switch (outcome.curl_exit_code) {
    case 6:  // with socks5h:// only the proxy's own name is resolved here
      return through_proxy ? FailurePlace{kFailedAtProxy, "the proxy's host name cannot be resolved"}
                           : FailurePlace{kFailedAtEndpoint, "the endpoint's host name cannot be resolved"};
    case 7:
      return through_proxy ? FailurePlace{kFailedAtProxy, "the proxy cannot be reached"}
                           : FailurePlace{kFailedAtEndpoint, "the endpoint cannot be reached"};
    case 22:
      return {kFailedAtEndpoint, "the endpoint answered with an error status"};
    case 97:
      // curl only exits with 97 once the proxy has answered.
      if (said.starts_with("Can't complete SOCKS5 connection")) {
        const std::string reply = SocksReplyText(said);
        return {kFailedAtEndpoint,
                "the proxy answered but could not reach the endpoint" + (reply.empty() ? "" : ": " + reply)};
      }
      if (outcome.error_code == kProxyAuthFailed) return {kFailedAtProxy, "the proxy refused the login"};
      return {kFailedAtProxy, "the proxy answered, but not as a SOCKS5 proxy"};
    default:
      return {};
  }
}

double DistanceKm(double lat1, double lng1, double lat2, double lng2) {
  constexpr double kEarthRadiusKm = 6371.0;
  constexpr double kRadians = 3.14159265358979323846 / 180.0;
  const double dlat = (lat2 - lat1) * kRadians;
  const double dlng = (lng2 - lng1) * kRadians;
  const double a = std::sin(dlat / 2) * std::sin(dlat / 2) +
                   std::cos(lat1 * kRadians) * std::cos(lat2 * kRadians) * std::sin(dlng / 2) * std::sin(dlng / 2);
  return 2 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(a)));
}

ProbeReport ProbePersona(std::string_view text, const ProbeFunction& probe) {
  ProbeReport report;
  LaunchSession session;
  ResetProgressSteps(session.steps);
  const DiscoveryContext context =
      session.Context([&](const std::string& proxy, const std::string& url, const platform::Cancellation& cancel) {
        ProbeOutcome outcome = probe(proxy, url, cancel);
        report.asked.push_back({url, outcome, !proxy.empty()});
        return outcome;
      });
  // No record path: a probe leaves nothing behind.
  RunDiscovery(std::make_unique<DiscoveryRequest>(DiscoveryRequest{ParsePersonaConfig(text), L""}), context);
  if (report.asked.empty()) return report;
  report.answer = report.asked.back().outcome;
  report.provider = session.result.provider;
  report.succeeded = report.answer.error_code.empty();
  if (!report.succeeded) {
    report.findings.push_back(Finding{kSeverityError, "proxy-server", 0, 0,
                                      "discovery failed: " + report.answer.error_code + ": " + report.answer.message});
    return report;
  }
  report.findings = EgressFindings(text, report.answer);
  return report;
}

std::vector<Finding> EgressFindings(std::string_view text, const ProbeOutcome& egress) {
  std::vector<Finding> findings;
  Comparison(text, egress, findings).Run();
  return findings;
}

void AddProbeReportMembers(JsonWriter& json, const ProbeReport& report) {
  json.BeginArray("asked");
  for (const AskedEndpoint& asked : report.asked) {
    const KnownEndpoint endpoint = EndpointOfUrl(asked.url);
    json.BeginObject().String("url", asked.url).Integer("elapsed_ms", asked.outcome.elapsed_ms);
    json.String("error_code", asked.outcome.error_code).String("message", asked.outcome.message);
    json.String("endpoint", endpoint.role).String("name", endpoint.name);
    json.String("failed_at", WhereItFailed(asked.outcome, asked.through_proxy).at);
    json.String("curl_error", asked.outcome.curl_error).EndObject();
  }
  json.EndArray();
  const ProbeOutcome& answer = report.answer;
  const bool ok = report.succeeded;
  json.String("ip", ok ? answer.ip : "").String("provider", ok ? report.provider : "");
  json.String("country", ok ? answer.country_code : "").String("timezone", ok ? answer.timezone : "");
  json.String("lat", ok ? answer.latitude : "").String("lng", ok ? answer.longitude : "");
  AddFindingsMember(json, report.findings);
}

std::string ProbeReportText(const ProbeReport& report) {
  std::string text;
  for (const AskedEndpoint& asked : report.asked) {
    const KnownEndpoint endpoint = EndpointOfUrl(asked.url);
    text += "asked " + (endpoint.role.empty() ? "" : endpoint.role + " " + TerminalText(endpoint.name) + " at ") +
            TerminalText(asked.url) + ": " +
            (asked.outcome.error_code.empty() ? std::string("answered") : TerminalText(asked.outcome.error_code)) +
            " in " + std::to_string(asked.outcome.elapsed_ms) + " ms\n";
    // Which machine to look at, then curl's own words.
    const std::string explanation = WhereItFailed(asked.outcome, asked.through_proxy).explanation;
    const std::string said = asked.outcome.curl_error.empty() ? "" : "curl: " + TerminalText(asked.outcome.curl_error);
    if (!explanation.empty()) {
      text += "  " + explanation + (said.empty() ? "" : " (" + said + ")") + "\n";
    } else if (!said.empty()) {
      text += "  " + said + "\n";
    }
  }
  if (report.succeeded) {
    const ProbeOutcome& answer = report.answer;
    const auto line = [&](const char* label, const std::string& value) {
      text += std::string(label) + (value.empty() ? "(not in the answer)" : TerminalText(value)) + "\n";
    };
    line("egress ip:   ", answer.ip);
    line("provider:    ", report.provider);
    line("country:     ", answer.country_code);
    line("time zone:   ", answer.timezone);
    line("coordinates: ",
         answer.latitude.empty() || answer.longitude.empty() ? "" : answer.latitude + ", " + answer.longitude);
  }
  return text + (report.findings.empty() ? "no findings\n" : FindingsText(report.findings));
}

}  // namespace quillwave
