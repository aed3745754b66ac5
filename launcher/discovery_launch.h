// The progress window beside the lookup: the window lives on a thread of
// its own, so that a toolkit that never answers (a display or session bus
// that accepts and stays silent) holds up nothing of the launch.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "discovery/discovery_result.h"
#include "discovery/discovery_worker.h"
#include "platform/cancellation.h"
#include "progress/progress_steps.h"

namespace quillwave {

// What one discovery launch shares between the lookup and the window's
// thread, under shared ownership: the window may outlive the launch's wait
// for it. `cancel` stops the lookup at once, curl and pauses included:
// raised by the person's close (after `aborted`) and by the system's request
// to end the launcher.
struct LaunchSession {
  ProgressSteps steps;
  DiscoveryResult result;
  platform::Cancellation cancel;

  // What the lookup works on.
  DiscoveryContext Context(ProbeFunction probe) {
    return DiscoveryContext{std::move(probe), nullptr, nullptr, &steps, &result, &cancel};
  }
};

// A thread the launch can wait for at most a while, then leave behind. It
// is detached: what it shares with the launch is owned by its callable, so
// it outlives the launch's wait safely; a process that ends leaves it too.
class BackgroundThread {
 public:
  // Starts `body`; `started()` is false when the system gave no thread.
  explicit BackgroundThread(std::function<void()> body);
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;

  bool started() const { return state_ != nullptr; }
  // True when the body has returned within the limit (at once when none started).
  bool WaitFor(std::chrono::milliseconds limit);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Why a window that never showed itself in time is not waited for.
inline constexpr char kWindowLate[] = "window did not appear within 2 s";

// The progress window as the lookup sees it while the window's thread is
// still making it (on Linux the toolkit's start, which can take a while or,
// with a silent display or bus, for ever). Until the window's fate is known
// the lookup's posts are held, and a pause does not end before the fate is
// known, the time waited counting toward the pause; so the narration goes at
// a person's pace once the window shows it. The fate is known when the
// window is shown (Opened), when it cannot be made (NoWindow), or at the
// deadline, whichever comes first: from then on a window that had not shown
// itself is no window. Without a window posts are dropped and every pause,
// the one under way included, ends at once, since nobody reads the
// narration. A cancel ends a wait for the fate at once.
class PendingWindow {
 public:
  explicit PendingWindow(std::chrono::steady_clock::time_point deadline);

  // The lookup's poster and pauses; both may outlive this object. Without
  // `pause` a pause only waits for the fate.
  ProgressPoster Poster() const;
  PauseFunction Pauses(PauseFunction pause) const;

  // The window is shown: the steps posted so far are posted to it once each,
  // in order, then the lookup's close if it came; later posts go straight
  // to it. False when the window is to go at once, because the lookup's
  // close came already or the launch went on without it; it is then asked to
  // close.
  bool Opened(ProgressPoster window_poster);
  // No window is to come, for the reason given (one short phrase).
  void NoWindow(std::string reason);
  // Whether the fate is known; a window made after that is not shown.
  bool Decided() const;
  // Once the lookup has ended: empty when the window was shown in time,
  // else why there was none. A fate still unknown becomes "too late".
  std::string Failure();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace quillwave
