// Stopping a lookup from outside: a switch that, once raised, ends a child
// run and a pause at once, and the system's requests to end the launcher
// turned into raising it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "base/unique_owner.h"

namespace quillwave::platform {

// The system's object behind a Cancellation: an event handle on Windows
// (spelled void* here, <windows.h> stays in the system's own files), an
// eventfd on POSIX. Each system's file closes it.
struct WaitableTraits {
#ifdef _WIN32
  using Value = void*;
  static Value Invalid() { return nullptr; }
#else
  using Value = int;
  static Value Invalid() { return -1; }
#endif
  static bool Close(Value value);
};

// Raised once, never lowered. Waits that watch it (RunCapturingOutput,
// WaitFor, WaitForAny) return as soon as it is raised, from whichever thread.
// It also serves as a one-time event between threads ("the window's fate is
// known"), so that a wait can watch that and a cancel at once.
class Cancellation {
 public:
  Cancellation();
  Cancellation(const Cancellation&) = delete;
  Cancellation& operator=(const Cancellation&) = delete;

  // Any thread; on POSIX a signal handler too. Raising again changes nothing.
  void Raise() noexcept;
  bool raised() const noexcept { return raised_.load(); }
  // Returns when raised, or after `limit`; true when raised.
  bool WaitFor(std::chrono::milliseconds limit) const;
  // What a wait of the platform layer watches: an eventfd on POSIX, an
  // event on Windows; -1 when the system gave none (a wait then looks at the
  // flag every few milliseconds).
  std::intptr_t waitable() const noexcept;

 private:
  std::atomic<bool> raised_{false};
  UniqueOwner<WaitableTraits> waitable_;
};

// Returns as soon as one of `events` is raised, or after `limit`; true when
// one is.
bool WaitForAny(std::initializer_list<const Cancellation*> events, std::chrono::milliseconds limit);

// One wait of the system of at most `limit_ms` on the events' waitables (a
// short sleep when one has none); it may return early for any reason. The
// loop of WaitForAny is the only caller.
void WaitOnceOnAny(std::initializer_list<const Cancellation*> events, std::int64_t limit_ms);

// While one lives, the system's requests to end the process (POSIX:
// SIGTERM, SIGINT and SIGHUP, each unless it was ignored when this began)
// raise `cancel` and are remembered instead of ending it at once, so that
// the lookup can end its curl first. On Windows a GUI program gets no such
// request, and this does nothing. One at a time per process.
class StopRequests {
 public:
  explicit StopRequests(Cancellation& cancel);
  ~StopRequests();  // Finish(), unless done
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Puts the handling from before back and returns the first request
  // received until then, 0 when none. A request that comes later ends the
  // process as it would have before.
  int Finish();

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// Ends the process as `request` (a value of StopRequests::Finish) ends a
// process that does not handle it, so that whoever started the launcher
// sees how it ended.
[[noreturn]] void EndAsRequested(int request);

}  // namespace quillwave::platform
