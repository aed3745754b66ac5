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
  // Until the worker has ended (at once when none started).
  void Wait();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// The progress window as the worker sees it while the main thread is still
// making it. The worker starts first, since making a window can take a while
// (on Linux the toolkit's start); until the window's fate is known its posts
// are held, and a pause does not end before the fate is known, the time
// waited counting toward the pause. So the first pause covers the making of
// the window, and curl never runs while the main thread cannot yet answer a
// request to end the launcher. Once the window exists the held posts go to
// it and the narration goes on as usual; once no window is to come, posts
// are dropped and every pause, the one under way included, ends at once,
// since nobody reads the narration.
class PendingWindow {
 public:
  PendingWindow();

  // The worker's poster and pauses; both may outlive this object. Without
  // `pause` a pause only waits for the fate.
  ProgressPoster Poster() const;
  PauseFunction Pauses(PauseFunction pause) const;

  // The window exists: the steps posted so far are posted to it once each,
  // in order, then the worker's close if it came; later posts go straight
  // to it. False when the close came already, so the window need not be
  // shown.
  bool Opened(ProgressPoster window_poster);
  // No window is to come.
  void NoWindow();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace quillwave
