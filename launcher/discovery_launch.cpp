#include "launcher/discovery_launch.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quillwave {

struct DiscoveryThread::State {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
};

DiscoveryThread::DiscoveryThread(std::unique_ptr<DiscoveryRequest> request, DiscoveryContext context) {
  auto state = std::make_shared<State>();
  try {
    // The thread owns the request and its context, so neither dies under it
    // when the main thread gives up waiting and leaves.
    std::thread([request = std::move(request), context = std::move(context), state]() mutable {
      RunDiscovery(std::move(request), context);
      std::lock_guard<std::mutex> hold(state->lock);
      state->done = true;
      state->ended.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return;  // no worker: the window waits for the person to close it
  }
  state_ = std::move(state);
}

bool DiscoveryThread::WaitFor(std::chrono::milliseconds limit) {
  if (!state_) return true;
  std::unique_lock<std::mutex> hold(state_->lock);
  return state_->ended.wait_for(hold, limit, [this] { return state_->done; });
}

void DiscoveryThread::Wait() {
  if (!state_) return;
  std::unique_lock<std::mutex> hold(state_->lock);
  state_->ended.wait(hold, [this] { return state_->done; });
}

struct PendingWindow::State {
  enum class Fate { kUnknown, kOpened, kNone };

  std::mutex lock;
  std::condition_variable decided;
  Fate fate = Fate::kUnknown;
  ProgressPoster window;  // once opened
  // What the worker posted while the fate was unknown: each step once, in
  // the order first posted, and whether it asked the window to close.
  std::vector<std::size_t> held_steps;
  bool held_close = false;
};

PendingWindow::PendingWindow() : state_(std::make_shared<State>()) {}

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
    std::chrono::milliseconds left = duration;
    {
      std::unique_lock<std::mutex> hold(state->lock);
      if (state->fate == State::Fate::kUnknown) {
        const auto start = std::chrono::steady_clock::now();
        state->decided.wait(hold, [&] { return state->fate != State::Fate::kUnknown; });
        // The time waited counts, in whole milliseconds, so that a fate known
        // at once leaves the pause as it was.
        left -= std::chrono::floor<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      }
      if (state->fate == State::Fate::kNone) return;
    }
    if (pause && left > std::chrono::milliseconds::zero()) pause(left, cancel);
  };
}

bool PendingWindow::Opened(ProgressPoster window_poster) {
  std::lock_guard<std::mutex> hold(state_->lock);
  state_->window = std::move(window_poster);
  state_->fate = State::Fate::kOpened;
  for (const std::size_t step : state_->held_steps) state_->window(ProgressMessage::kStep, step);
  const bool closed = state_->held_close;
  if (closed) state_->window(ProgressMessage::kClose, 0);
  state_->held_steps.clear();
  state_->decided.notify_all();
  return !closed;
}

void PendingWindow::NoWindow() {
  std::lock_guard<std::mutex> hold(state_->lock);
  state_->fate = State::Fate::kNone;
  state_->held_steps.clear();
  state_->decided.notify_all();
}

}  // namespace quillwave
