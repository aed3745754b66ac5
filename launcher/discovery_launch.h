// Running the discovery worker beside the progress window's message loop.
#pragma once

#include <chrono>
#include <memory>

#include "discovery/discovery_worker.h"

namespace quillwave {

// The worker thread as the main thread sees it: started, then waited for
// at most a while. The thread is detached; what it shares with the main
// thread outlives both.
class DiscoveryThread {
 public:
  // Starts RunDiscovery on its own thread; `started()` is false when the
  // system gave no thread.
  DiscoveryThread(std::unique_ptr<DiscoveryRequest> request, DiscoveryContext context);
  DiscoveryThread(const DiscoveryThread&) = delete;
  DiscoveryThread& operator=(const DiscoveryThread&) = delete;

  bool started() const { return state_ != nullptr; }
  // True when the worker has ended within the limit.
  bool WaitFor(std::chrono::milliseconds limit);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace quillwave
