// The lookup and the window on threads of their own, as the launcher runs
// them: one narrates, the other paints; built with ThreadSanitizer in CI.
#include "launcher/discovery_launch.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace quillwave {
namespace {

using namespace std::chrono_literals;

// The main thread's message queue, as the window's loop would see it.
struct Mailbox {
  std::mutex lock;
  std::condition_variable arrived;
  std::deque<std::pair<ProgressMessage, std::size_t>> messages;

  void Post(ProgressMessage message, std::size_t step) {
    std::lock_guard<std::mutex> hold(lock);
    messages.emplace_back(message, step);
    arrived.notify_one();
  }
  std::pair<ProgressMessage, std::size_t> Take() {
    std::unique_lock<std::mutex> hold(lock);
    arrived.wait_for(hold, 10s, [this] { return !messages.empty(); });
    if (messages.empty()) return {ProgressMessage::kClose, 99};
    auto message = messages.front();
    messages.pop_front();
    return message;
  }
};

struct Shared {
  std::shared_ptr<LaunchSession> session = std::make_shared<LaunchSession>();
  ProgressSteps& steps = session->steps;
  DiscoveryResult& result = session->result;
  Mailbox mailbox;
};

DiscoveryContext ContextFor(Shared& shared, std::function<ProbeOutcome()> probe) {
  DiscoveryContext context = shared.session->Context(
      [probe](const std::string&, const std::string&, const platform::Cancellation&) { return probe(); });
  context.pause = [](std::chrono::milliseconds, const platform::Cancellation&) {};
  context.post = [&shared](ProgressMessage message, std::size_t step) { shared.mailbox.Post(message, step); };
  return context;
}

std::unique_ptr<DiscoveryRequest> Request() {
  auto request = std::make_unique<DiscoveryRequest>();
  request->persona.autoTimezone = true;
  request->persona.webrtcNoLeak = true;
  return request;
}

// Started as a background thread, the lookup plays the side the window's
// thread plays in a launch: the two meet only in the steps and the posts.
BackgroundThread Lookup(Shared& shared, std::function<ProbeOutcome()> probe) {
  std::shared_ptr<DiscoveryRequest> request = Request();
  return BackgroundThread([request, context = ContextFor(shared, std::move(probe))] {
    RunDiscovery(std::make_unique<DiscoveryRequest>(*request), context);
  });
}

TEST(BackgroundThread, ResultsWrittenBeforeTheCloseAreSeenAfterIt) {
  Shared shared;
  ResetProgressSteps(shared.steps);
  BackgroundThread worker = Lookup(shared, [] {
    ProbeOutcome outcome;
    outcome.ip = "203.0.113.9";
    outcome.timezone = "Europe/Berlin";
    outcome.elapsed_ms = 42;
    return outcome;
  });
  ASSERT_TRUE(worker.started());
  int repaints = 0;
  for (auto message = shared.mailbox.Take(); message.first != ProgressMessage::kClose;
       message = shared.mailbox.Take()) {
    SnapshotProgressSteps(shared.steps);  // a paint pass while the worker goes on
    ++repaints;
  }
  EXPECT_TRUE(worker.WaitFor(5s));
  EXPECT_GE(repaints, 4);
  EXPECT_FALSE(shared.result.aborted.load());
  EXPECT_EQ(shared.result.egress_ip, "203.0.113.9");
  EXPECT_EQ(shared.result.webrtc_public_ip, L"203.0.113.9");
  EXPECT_EQ(shared.result.timezone_override, L"Europe/Berlin");
  EXPECT_EQ(shared.result.elapsed_ms, 42);
  EXPECT_EQ(SnapshotProgressSteps(shared.steps)[1].detail, L"203.0.113.9");
}

TEST(BackgroundThread, ACancelDuringTheProbeLeavesTheThreadRunningAndTheWaitBounded) {
  Shared shared;
  std::mutex gate_lock;
  std::condition_variable gate;
  bool inside = false, open = false;
  BackgroundThread worker = Lookup(shared, [&] {
    std::unique_lock<std::mutex> hold(gate_lock);
    inside = true;
    gate.notify_all();
    gate.wait(hold, [&] { return open; });
    return ProbeOutcome{};
  });
  {
    std::unique_lock<std::mutex> hold(gate_lock);
    ASSERT_TRUE(gate.wait_for(hold, 10s, [&] { return inside; }));
  }
  shared.result.aborted.exchange(true);  // the person closes the window
  EXPECT_FALSE(worker.WaitFor(50ms));    // the worker is still inside the probe
  {
    std::lock_guard<std::mutex> hold(gate_lock);
    open = true;
  }
  gate.notify_all();
  EXPECT_TRUE(worker.WaitFor(5s));
  std::lock_guard<std::mutex> hold(shared.mailbox.lock);
  for (const auto& message : shared.mailbox.messages) EXPECT_EQ(message.first, ProgressMessage::kStep);
}

const auto kLater = std::chrono::steady_clock::now() + 1h;

// The lookup starts before its window exists.
TEST(PendingWindow, HoldsPostsUntilTheWindowOpensAndDropsThemWithoutOne) {
  using Posts = std::vector<std::pair<ProgressMessage, std::size_t>>;
  Posts got;
  const ProgressPoster window = [&got](ProgressMessage message, std::size_t step) { got.emplace_back(message, step); };
  PendingWindow pending(kLater);
  const ProgressPoster post = pending.Poster();
  for (const std::size_t step : {0, 1, 1, 0}) post(ProgressMessage::kStep, step);
  EXPECT_TRUE(got.empty());
  EXPECT_TRUE(pending.Opened(window));
  post(ProgressMessage::kStep, 2);
  EXPECT_EQ(got, (Posts{{ProgressMessage::kStep, 0}, {ProgressMessage::kStep, 1}, {ProgressMessage::kStep, 2}}));

  got.clear();
  PendingWindow ended(kLater);
  ended.Poster()(ProgressMessage::kStep, 3);
  ended.Poster()(ProgressMessage::kClose, 0);
  EXPECT_FALSE(ended.Opened(window)) << "the worker's close came first: nothing to show";
  EXPECT_EQ(got, (Posts{{ProgressMessage::kStep, 3}, {ProgressMessage::kClose, 0}}));

  got.clear();
  PendingWindow none(kLater);
  none.Poster()(ProgressMessage::kStep, 0);
  none.NoWindow("no display");
  none.Poster()(ProgressMessage::kClose, 0);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(none.Failure(), "no display");

  // Shown after its deadline, a window is told to go at once and counts as none.
  PendingWindow late(std::chrono::steady_clock::now());
  late.Poster()(ProgressMessage::kStep, 1);
  EXPECT_FALSE(late.Opened(window));
  EXPECT_EQ(got, (Posts{{ProgressMessage::kClose, 0}}));
  EXPECT_EQ(late.Failure(), kWindowLate);
}

TEST(PendingWindow, APauseLastsUntilTheWindowIsThereAndEndsAtOnceWithoutOne) {
  std::vector<std::chrono::milliseconds> paused;  // read after the pausing thread is joined
  const PauseFunction pause = [&paused](std::chrono::milliseconds duration, const platform::Cancellation&) {
    paused.push_back(duration);
  };
  platform::Cancellation cancel;

  PendingWindow opened(kLater);
  opened.Opened([](ProgressMessage, std::size_t) {});
  opened.Pauses(pause)(120ms, cancel);
  ASSERT_EQ(paused, std::vector<std::chrono::milliseconds>{120ms}) << "a window already there pauses in full";

  // Begun before the fate is known, it ends no earlier: with a window the rest
  // of the pause follows, without one nothing.
  for (const bool window_comes : {true, false}) {
    SCOPED_TRACE(window_comes ? "the window comes" : "no window comes");
    paused.clear();
    PendingWindow pending(kLater);
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] { pending.Pauses(pause)(10s, cancel); });
    if (window_comes) {
      pending.Opened([](ProgressMessage, std::size_t) {});
    } else {
      pending.NoWindow("no display");
    }
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    if (window_comes) {
      ASSERT_EQ(paused.size(), 1u);
      EXPECT_GT(paused[0], 5s);
      EXPECT_LE(paused[0], 10s);
    } else {
      EXPECT_TRUE(paused.empty());
    }
  }

  // A window that never comes is waited for until the deadline, a cancel
  // ends the wait at once; neither pauses further.
  paused.clear();
  PendingWindow silent(std::chrono::steady_clock::now() + 50ms);
  silent.Pauses(pause)(10s, cancel);
  EXPECT_EQ(silent.Failure(), kWindowLate);
  PendingWindow stuck(kLater);
  platform::Cancellation stop;
  std::thread worker([&] { stuck.Pauses(pause)(10s, stop); });
  stop.Raise();
  worker.join();
  EXPECT_FALSE(stuck.Decided());
  EXPECT_TRUE(paused.empty());
}

}  // namespace
}  // namespace quillwave
