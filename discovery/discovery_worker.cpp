#include "discovery/discovery_worker.h"

#include <cstdint>
#include <utility>

#include "discovery/country_locale.h"
#include "discovery/endpoints.h"
#include "platform/atomic_file.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "report/error_record.h"
#include "report/record_files.h"

namespace quillwave {
namespace {

using std::chrono::milliseconds;

void Post(const DiscoveryContext& context, ProgressMessage message, std::size_t step) {
  if (context.post) context.post(message, step);
}

void Pause(const DiscoveryContext& context, milliseconds duration) {
  if (context.pause) context.pause(duration, *context.cancel);
}

// A step change the window has to hear about at once.
void Narrate(const DiscoveryContext& context, std::size_t step, const std::wstring& detail, StepState state) {
  SetProgressStep(*context.steps, step, detail, state);
  Post(context, ProgressMessage::kStep, step);
}

bool Aborted(const DiscoveryContext& context) { return context.result->aborted.load(); }
bool Blocked(const DiscoveryContext& context) { return context.result->blocked.load(); }
bool Stopped(const DiscoveryContext& context) { return Aborted(context) || context.cancel->raised(); }

// An early end. After a person's close the window is already going; after
// the system's request to end the launcher it is still there and has to go.
void Stop(const DiscoveryContext& context) {
  if (!Aborted(context)) Post(context, ProgressMessage::kClose, 0);
}

// Only the tertiary answer lacks country, zone and coordinates, so it is no use
// to a persona that wants any of them derived.
bool WantsDerivedLocale(const PersonaConfig& persona) {
  return persona.autoGeo || persona.autoLang || persona.autoTimezone;
}

// "ip=… tz=… lang=… lat=… lng=…" without the empty ones; accept_language
// follows lang and would only crowd the line.
std::wstring OverrideSummary(const DiscoveryResult& result) {
  const std::pair<const wchar_t*, const std::wstring*> pairs[] = {{L"ip", &result.webrtc_public_ip},
                                                                  {L"tz", &result.timezone_override},
                                                                  {L"lang", &result.lang},
                                                                  {L"lat", &result.geo_lat},
                                                                  {L"lng", &result.geo_lng}};
  std::wstring summary;
  for (const auto& [key, value] : pairs) {
    if (value->empty()) continue;
    if (!summary.empty()) summary += L' ';
    summary += key;
    summary += L'=';
    summary += *value;
  }
  return summary;
}

void WriteErrorRecord(const DiscoveryRequest& request, const ProbeOutcome& outcome, const std::string& url,
                      std::int64_t elapsed_ms) {
  if (request.error_record_path.empty()) return;
  ErrorReport report;
  report.step = "discover_proxy_ip";
  report.error_code = outcome.error_code;
  report.message = outcome.message;
  report.proxy = MaskProxyPassword(request.persona.proxyServer);
  report.discovery_url = url;
  report.curl_exit_code = outcome.curl_exit_code;
  report.elapsed_ms = elapsed_ms;
  platform::WriteFileAtomic(request.error_record_path, FormatErrorRecord(report, UtcTimestamp()));  // best effort
}

}  // namespace

std::string PrimaryUrl() {
  return std::string("http://") + endpoints::kPrimaryIp + ":" + std::to_string(endpoints::kPrimaryPort) + "/geo";
}
std::string SecondaryUrl() { return std::string("https://") + endpoints::kSecondaryHost + "/geoip?format=json"; }
std::string TertiaryUrl() { return std::string("https://") + endpoints::kTertiaryHost + "/myip"; }

std::string provider_for_url(const std::string& url) {
  if (url == PrimaryUrl()) return endpoints::kPrimaryHost;
  if (url == TertiaryUrl()) return endpoints::kTertiaryHost;
  return endpoints::kSecondaryLabel;
}

void DeriveOverrides(const PersonaConfig& persona, const ProbeOutcome& outcome, DiscoveryResult& result) {
  if (persona.webrtcNoLeak && !persona.webrtcFakePublicIpGiven) result.webrtc_public_ip = Widen(outcome.ip);
  if (persona.autoGeo && !outcome.latitude.empty() && !outcome.longitude.empty()) {
    if (!persona.hasGeoLat) result.geo_lat = Widen(outcome.latitude);
    if (!persona.hasGeoLng) result.geo_lng = Widen(outcome.longitude);
  }
  if (persona.autoLang && !outcome.country_code.empty()) {
    const CountryLocale locale = LookupCountryLocale(outcome.country_code);
    if (!persona.hasLang) result.lang = Widen(locale.lang);
    if (!persona.hasAcceptLanguage) result.accept_language = Widen(locale.accept_language);
  }
  if (persona.autoTimezone && !outcome.timezone.empty() && !persona.hasTimezoneOverride) {
    result.timezone_override = Widen(outcome.timezone);
  }
}

void RunDiscovery(std::unique_ptr<DiscoveryRequest> request, const DiscoveryContext& context) {
  const PersonaConfig& persona = request->persona;
  DiscoveryResult& result = *context.result;

  // A launch stopped before the lookup began leaves the profile as it was.
  if (Stopped(context)) return Stop(context);
  // A record on disk must belong to the latest run that ran discovery.
  if (!request->error_record_path.empty()) platform::DeleteFileOnly(request->error_record_path);

  Narrate(context, kPersonaStep, Widen(MaskProxyPassword(persona.proxyServer)), StepState::kDone);
  Pause(context, milliseconds(120));
  if (Stopped(context)) return Stop(context);

  // The cascade: each failure moves on; the last outcome tried is the one reported.
  const platform::Cancellation& cancel = *context.cancel;
  const std::wstring primary = Widen(endpoints::kPrimaryHost);
  Narrate(context, kEgressStep, L"contacting " + primary + L" via SOCKS5\u2026", StepState::kPending);
  std::string last_url = PrimaryUrl();
  ProbeOutcome outcome = context.probe(persona.proxyServer, last_url, cancel);
  std::int64_t elapsed_ms = outcome.elapsed_ms;
  const auto try_next = [&](const std::wstring& status, std::string url) {
    Narrate(context, kEgressStep, status, StepState::kPending);
    last_url = std::move(url);
    outcome = context.probe(persona.proxyServer, last_url, cancel);
    elapsed_ms += outcome.elapsed_ms;
  };
  if (!outcome.error_code.empty() && !Stopped(context)) {
    try_next(primary + L" failed \u2014 trying " + Widen(endpoints::kSecondaryHost) + L"\u2026", SecondaryUrl());
  }
  if (!outcome.error_code.empty() && !Stopped(context) && !WantsDerivedLocale(persona)) {
    try_next(
        Widen(endpoints::kSecondaryLabel) + L" failed \u2014 trying " + Widen(endpoints::kTertiaryHost) + L"\u2026",
        TertiaryUrl());
  }

  const bool succeeded = outcome.error_code.empty();
  // A failure that a cancel caused is none of the proxy's: no record of it.
  if (!succeeded && Stopped(context)) return Stop(context);
  if (!succeeded) WriteErrorRecord(*request, outcome, last_url, elapsed_ms);
  result.egress_ip = outcome.ip;
  result.country_code = outcome.country_code;
  result.timezone = outcome.timezone;
  result.provider = provider_for_url(last_url);
  result.elapsed_ms = elapsed_ms;
  if (succeeded) {
    SetProgressStep(*context.steps, kEgressStep, Widen(outcome.ip), StepState::kDone);
    DeriveOverrides(persona, outcome, result);
  } else {
    // The engine, if it starts, gets no discovered values at all.
    const bool block = persona.onProxyFail == "block";
    const std::wstring code = Widen(outcome.error_code);
    SetProgressStep(*context.steps, kEgressStep,
                    block ? L"BLOCKED: " + code : L"WARN: " + code + L" \u2014 chrome will fall back",
                    StepState::kFailed);
    if (block) result.blocked.exchange(true);
  }
  Post(context, ProgressMessage::kStep, kEgressStep);

  if (Stopped(context)) return Stop(context);
  // A blocked launch lingers so the user can read why.
  Pause(context, milliseconds(Blocked(context) ? 2500 : 180));

  if (Blocked(context)) {
    Narrate(context, kOverridesStep, L"skipped \u2014 engine launch blocked", StepState::kFailed);
  } else {
    const std::wstring summary = OverrideSummary(result);
    Narrate(context, kOverridesStep, summary.empty() ? L"none (passthrough)" : summary, StepState::kDone);
  }
  Pause(context, milliseconds(120));

  // After a user's close the window is already going; it needs no close.
  if (Stopped(context)) return Stop(context);
  const bool blocked = Blocked(context);
  Narrate(context, kLaunchStep, blocked ? L"aborted (exit 42)" : L"", blocked ? StepState::kFailed : StepState::kDone);
  Pause(context, milliseconds(80));
  Post(context, ProgressMessage::kClose, 0);
}

ProbeOutcome ProbeWithCurl(const std::string& proxy, const std::string& url, const platform::Cancellation& cancel) {
  return probe_egress(proxy, url, &cancel);
}

void PauseUnlessCancelled(milliseconds duration, const platform::Cancellation& cancel) { cancel.WaitFor(duration); }

}  // namespace quillwave
