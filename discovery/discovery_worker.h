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
#include "persona/persona_config.h"
#include "ui/progress_steps.h"

namespace quillwave {

struct DiscoveryRequest {
  PersonaConfig persona;
  std::wstring error_record_path;  // may be empty
};

// Everything the worker touches outside its request. The launcher passes the
// shared objects, the real probe and real pauses; tests pass their own.
struct DiscoveryContext {
  std::function<ProbeOutcome(const std::string& proxy, const std::string& url)> probe;
  std::function<void(std::chrono::milliseconds)> pause;
  ProgressPoster post;
  ProgressSteps* steps = nullptr;
  DiscoveryResult* result = nullptr;
};

// The three endpoint URLs, built from the deployment constants.
std::string PrimaryUrl();
std::string SecondaryUrl();
std::string TertiaryUrl();

// The name recorded as `provider` for the URL that produced an outcome.
std::string provider_for_url(const std::string& url);

// Runs the whole worker on the calling thread; the request is consumed.
void RunDiscovery(std::unique_ptr<DiscoveryRequest> request, const DiscoveryContext& context);

// The context of a real run: probe_egress, real pauses, the shared objects
// and the given poster.
DiscoveryContext LiveDiscoveryContext(ProgressPoster post);

}  // namespace quillwave
