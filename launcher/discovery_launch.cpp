#include "launcher/discovery_launch.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/cancellation.h"

namespace quillwave {

struct BackgroundThread::State {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
};

BackgroundThread::BackgroundThread(std::function<void()> body) {
  auto state = std::make_shared<State>();
  try {
    std::thread([body = std::move(body), state] {
      body();
      std::lock_guard<std::mutex> hold(state->lock);
      state->done = true;
      state->ended.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return;
  }
  state_ = std::move(state);
}

bool BackgroundThread::WaitFor(std::chrono::milliseconds limit) {
  if (!state_) return true;
  std::unique_lock<std::mutex> hold(state_->lock);
  return state_->ended.wait_for(hold, limit, [this] { return state_->done; });
}

struct PendingWindow::State {
  enum class Fate { kUnknown, kOpened, kNone };

  explicit State(std::chrono::steady_clock::time_point at) : deadline(at) {}

  // Under `lock`; a late fate is settled by whoever sees the deadline pass.
  void DecideNone(std::string why) {
    fate = Fate::kNone;
    reason = std::move(why);
    held_steps.clear();
    decided.Raise();
  }

  const std::chrono::steady_clock::time_point deadline;
  mutable std::mutex lock;
  // Raised once the fate is known, so a pause can wait for it and a cancel at once.
  platform::Cancellation decided;
  Fate fate = Fate::kUnknown;
  std::string reason;     // once none
  ProgressPoster window;  // once opened
  // What the lookup posted while the fate was unknown: each step once, in
  // the order first posted, and whether it asked the window to close.
  std::vector<std::size_t> held_steps;
  bool held_close = false;
};

PendingWindow::PendingWindow(std::chrono::steady_clock::time_point deadline)
    : state_(std::make_shared<State>(deadline)) {}

ProgressPoster PendingWindow::Poster() const {
  return [state = state_](ProgressMessage message, std::size_t step) {
    std::lock_guard<std::mutex> hold(state->lock);
    switch (state->fate) {
      case State::Fate::kOpened:
        state->window(message, step);
        return;
      case State::Fate::kNone:
        return;
      case State::Fate::kUnknown:
        break;
    }
    if (message == ProgressMessage::kClose) {
      state->held_close = true;
    } else if (std::find(state->held_steps.begin(), state->held_steps.end(), step) == state->held_steps.end()) {
      // A paint shows a step as it is then, so one post per step is enough.
      state->held_steps.push_back(step);
    }
  };
}

PauseFunction PendingWindow::Pauses(PauseFunction pause) const {
  return [state = state_, pause = std::move(pause)](std::chrono::milliseconds duration,
                                                    const platform::Cancellation& cancel) {
    const auto start = std::chrono::steady_clock::now();
    const auto until_deadline = std::chrono::ceil<std::chrono::milliseconds>(state->deadline - start);
    if (!state->decided.raised()) platform::WaitForAny({&state->decided, &cancel}, until_deadline);
    if (cancel.raised()) return;
    {
      std::lock_guard<std::mutex> hold(state->lock);
      if (state->fate == State::Fate::kUnknown) state->DecideNone(kWindowLate);
      if (state->fate == State::Fate::kNone) return;
    }
    // The time waited counts, in whole milliseconds, so that a fate known
    // at once leaves the pause as it was.
    const auto left = duration -
                      std::chrono::floor<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (pause && left > std::chrono::milliseconds::zero()) pause(left, cancel);
  };
}

bool PendingWindow::Opened(ProgressPoster window_poster) {
  std::lock_guard<std::mutex> hold(state_->lock);
  if (state_->fate == State::Fate::kUnknown && std::chrono::steady_clock::now() >= state_->deadline) {
    state_->DecideNone(kWindowLate);
  }
  if (state_->fate == State::Fate::kNone) {
    window_poster(ProgressMessage::kClose, 0);
    return false;
  }
  state_->window = std::move(window_poster);
  state_->fate = State::Fate::kOpened;
  for (const std::size_t step : state_->held_steps) state_->window(ProgressMessage::kStep, step);
  const bool closed = state_->held_close;
  if (closed) state_->window(ProgressMessage::kClose, 0);
  state_->held_steps.clear();
  state_->decided.Raise();
  return !closed;
}

void PendingWindow::NoWindow(std::string reason) {
  std::lock_guard<std::mutex> hold(state_->lock);
  if (state_->fate == State::Fate::kUnknown) state_->DecideNone(std::move(reason));
}

bool PendingWindow::Decided() const { return state_->decided.raised(); }

std::string PendingWindow::Failure() {
  std::lock_guard<std::mutex> hold(state_->lock);
  if (state_->fate == State::Fate::kUnknown) state_->DecideNone(kWindowLate);
  return state_->fate == State::Fate::kOpened ? std::string() : state_->reason;
}

}  // namespace quillwave
