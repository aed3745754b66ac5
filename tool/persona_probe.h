// The real discovery for a persona, run for a person: which endpoints were
// asked, what the egress is, and what a site could notice when the
// persona's own values do not fit it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "discovery/discovery_worker.h"
#include "tool/findings.h"

namespace quillwave {

struct AskedEndpoint {
  std::string url;
  ProbeOutcome outcome;
  bool through_proxy = false;
};

// Which machine a failed request lies with, as far as curl's exit code and
// words tell: kFailedAtProxy when the proxy could not be reached, resolved
// or used; kFailedAtEndpoint when the proxy answered but could not reach
// the endpoint, or the endpoint (reached directly or through the proxy)
// gave no usable answer; empty when that cannot be told.
inline constexpr char kFailedAtProxy[] = "proxy";
inline constexpr char kFailedAtEndpoint[] = "endpoint";
struct FailurePlace {
  std::string at;
  std::string explanation;  // for a person; empty when `at` is
};
FailurePlace WhereItFailed(const ProbeOutcome& outcome, bool through_proxy);

struct ProbeReport {
  std::vector<AskedEndpoint> asked;  // in the order asked
  bool succeeded = false;
  ProbeOutcome answer;  // the last outcome: the answer when it succeeded
  std::string provider;
  std::vector<Finding> findings;
};

// Runs the launcher's discovery (its cascade, with `probe` for each
// endpoint) for the persona in `text`; no record is written.
ProbeReport ProbePersona(std::string_view text, const ProbeFunction& probe);

// What a site could notice where the persona's own values in `text` do not
// fit the egress.
std::vector<Finding> EgressFindings(std::string_view text, const ProbeOutcome& egress);

// Great-circle distance in kilometres.
double DistanceKm(double lat1, double lng1, double lat2, double lng2);

// The report as members of the object open in `json`: "asked", the egress
// ("ip", "provider", "country", "timezone", "lat", "lng"; empty without an
// answer) and "findings".
void AddProbeReportMembers(JsonWriter& json, const ProbeReport& report);
std::string ProbeReportText(const ProbeReport& report);

}  // namespace quillwave
