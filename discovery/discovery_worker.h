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
#include "platform/cancellation.h"
#include "progress/progress_steps.h"

namespace quillwave {

struct DiscoveryRequest {
  PersonaConfig persona;
  std::wstring error_record_path;  // may be empty
};

// A probe ends early when `cancel` is raised; so does a pause.
using ProbeFunction =
    std::function<ProbeOutcome(const std::string& proxy, const std::string& url, const platform::Cancellation& cancel)>;
using PauseFunction = std::function<void(std::chrono::milliseconds duration, const platform::Cancellation& cancel)>;

// Everything the lookup touches outside its request. The launcher passes the
// real probe and real pauses (none without a window: nobody reads the
// narration then) and its launch's steps, result and cancel; tests pass
// their own. The three are the caller's and outlive the call.
struct DiscoveryContext {
  ProbeFunction probe;
  PauseFunction pause;
  ProgressPoster post;
  ProgressSteps* steps = nullptr;
  DiscoveryResult* result = nullptr;
  const platform::Cancellation* cancel = nullptr;
};

// The three endpoint URLs, built from the deployment constants.
std::string PrimaryUrl();
std::string SecondaryUrl();
std::string TertiaryUrl();

// The name recorded as `provider` for the URL that produced an outcome.
std::string provider_for_url(const std::string& url);

// The overrides a successful lookup gives this persona; its own values
// always win over discovered ones.
void DeriveOverrides(const PersonaConfig& persona, const ProbeOutcome& outcome, DiscoveryResult& result);

// Runs the whole worker on the calling thread; the request is consumed.
// It stops early once the session's cancel is raised or `aborted` is set:
// before it deletes anything, between the endpoints, before it writes the
// error record and at the narration's checkpoints. Stopped by anything but
// the person's close, it asks the window to close.
void RunDiscovery(std::unique_ptr<DiscoveryRequest> request, const DiscoveryContext& context);

// The system's probe: curl, ended at once on a cancel.
ProbeOutcome ProbeWithCurl(const std::string& proxy, const std::string& url, const platform::Cancellation& cancel);

// A pause that really waits, and ends at once on a cancel.
void PauseUnlessCancelled(std::chrono::milliseconds duration, const platform::Cancellation& cancel);

}  // namespace quillwave
