// The system's requests to end the launcher while a StopRequests lives: the
// cancellation is raised, the first request is the one remembered, a signal
// ignored before (as under nohup) stays ignored, and Finish puts back the
// handling from before.
#include <gtest/gtest.h>

#include <csignal>

#include "platform/cancellation.h"

namespace quillwave::platform {
namespace {

#ifndef _WIN32
TEST(StopRequestsTest, RaiseTheCancellationAndKeepTheFirstRequest) {
  struct sigaction plain {
  }, ignored{}, before[3]{};
  plain.sa_handler = SIG_DFL;
  ignored.sa_handler = SIG_IGN;
  ::sigaction(SIGHUP, &ignored, &before[0]);
  ::sigaction(SIGINT, &plain, &before[1]);  // a shell may start a test with SIGINT ignored
  ::sigaction(SIGTERM, &plain, &before[2]);
  Cancellation cancel;
  {
    StopRequests requests(cancel);
    ::raise(SIGHUP);
    EXPECT_FALSE(cancel.raised());
    ::raise(SIGINT);
    ::raise(SIGTERM);
    EXPECT_TRUE(cancel.raised());
    EXPECT_EQ(requests.Finish(), SIGINT);
  }
  struct sigaction now {};
  ::sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  ::sigaction(SIGHUP, &before[0], nullptr);
  ::sigaction(SIGINT, &before[1], nullptr);
  ::sigaction(SIGTERM, &before[2], nullptr);
}
#endif

}  // namespace
}  // namespace quillwave::platform
