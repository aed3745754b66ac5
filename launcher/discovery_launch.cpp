#include "launcher/discovery_launch.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

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

}  // namespace quillwave
