#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "platform/cancellation.h"

namespace quillwave::platform {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A signal handler can reach nothing but static storage: the cancellation
// that requests raise while a StopRequests lives, and the first request.
std::atomic<Cancellation*> g_stop_target{nullptr};
std::atomic<int> g_stop_received{0};

void OnStopRequest(int signal) {
  const int saved_errno = errno;
  int none = 0;
  g_stop_received.compare_exchange_strong(none, signal);
  if (Cancellation* cancel = g_stop_target.load()) cancel->Raise();
  errno = saved_errno;
}

}  // namespace

bool WaitableTraits::Close(int descriptor) { return ::close(descriptor) == 0; }

Cancellation::Cancellation() : waitable_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

std::intptr_t Cancellation::waitable() const noexcept { return waitable_.get(); }

void Cancellation::Raise() noexcept {
  if (raised_.exchange(true) || !waitable_.valid()) return;
  // Never read back: the descriptor stays readable for every wait on it.
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t put = ::write(waitable_.get(), &one, sizeof one);
}

void WaitOnceOnAny(std::initializer_list<const Cancellation*> events, std::int64_t limit_ms) {
  std::vector<pollfd> watched;
  watched.reserve(events.size());
  bool blind = false;  // an event without a descriptor is only seen by looking again
  for (const Cancellation* event : events) {
    blind = blind || event->waitable() < 0;
    watched.push_back({static_cast<int>(event->waitable()), POLLIN, 0});
  }
  const std::int64_t wait_ms = blind ? std::min<std::int64_t>(limit_ms, 10) : limit_ms;
  // poll() skips an entry whose descriptor is negative.
  ::poll(watched.data(), watched.size(), static_cast<int>(std::min<std::int64_t>(wait_ms, 1 << 30)));
}

struct StopRequests::Saved {
  struct sigaction previous[std::size(kStopSignals)] = {};
  bool caught[std::size(kStopSignals)] = {};
};

StopRequests::StopRequests(Cancellation& cancel) : saved_(std::make_unique<Saved>()) {
  g_stop_received.store(0);
  g_stop_target.store(&cancel);
  struct sigaction handling {};
  handling.sa_handler = OnStopRequest;
  handling.sa_flags = SA_RESTART;
  sigemptyset(&handling.sa_mask);
  for (const int signal : kStopSignals) sigaddset(&handling.sa_mask, signal);
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    // An ignored request stays ignored: whoever started the launcher chose so
    // (nohup, a background job).
    if (::sigaction(kStopSignals[i], nullptr, &saved_->previous[i]) != 0) continue;
    if (saved_->previous[i].sa_handler == SIG_IGN) continue;
    saved_->caught[i] = ::sigaction(kStopSignals[i], &handling, nullptr) == 0;
  }
}

StopRequests::~StopRequests() { Finish(); }

int StopRequests::Finish() {
  if (saved_ == nullptr) return g_stop_received.load();
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (saved_->caught[i]) ::sigaction(kStopSignals[i], &saved_->previous[i], nullptr);
  }
  saved_.reset();
  g_stop_target.store(nullptr);
  return g_stop_received.load();
}

void EndAsRequested(int request) {
  std::fflush(nullptr);
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  ::sigaction(request, &plain, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, request);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(request);
  std::_Exit(128 + request);  // only if the signal did not end the process
}

}  // namespace quillwave::platform
