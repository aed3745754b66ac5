// The discovery worker: asks the endpoints in turn through the persona's
// proxy, narrates the steps, derives the overrides and leaves them in the
// shared discovery result.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "discovery/curl_probe.h"
#include "discovery/discovery_result.h"
#include "discovery/progress_steps.h"
#include "persona/persona_config.h"

namespace quillwave {

struct DiscoveryRequest {
  PersonaConfig persona;
  std::wstring error_record_path;  // may be empty
};

using ProbeFunction = std::function<ProbeOutcome(const std::string& proxy, const std::string& url)>;
using PauseFunction = std::function<void(std::chrono::milliseconds)>;

// Everything the worker touches outside its request. The launcher passes its
// session, the real probe and real pauses; tests pass their own.
struct DiscoveryContext {
  ProbeFunction probe;
  PauseFunction pause;
  ProgressPoster post;
  std::shared_ptr<LaunchSession> session;
};

// The three endpoint URLs, built from the deployment constants.
std::string PrimaryUrl();
std::string SecondaryUrl();
std::string TertiaryUrl();

// The name recorded as `provider` for the URL that produced an outcome.
std::string provider_for_url(const std::string& url);

// Runs the whole worker on the calling thread; the request is consumed.
void RunDiscovery(std::unique_ptr<DiscoveryRequest> request, const DiscoveryContext& context);

// A pause that really sleeps.
void SleepFor(std::chrono::milliseconds duration);

}  // namespace quillwave
