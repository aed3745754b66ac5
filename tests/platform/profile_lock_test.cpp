#include "platform/profile_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/profile_holder.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quillwave::platform {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
TEST(EngineRunsOn, OnlyWhileLockfileIsHeldWithoutSharing) {
  test::ScopedTempDir dir;
  EXPECT_FALSE(EngineRunsOn(dir.wpath()));  // no lockfile
  {
    test::ProfileHolder engine(dir.path());
    EXPECT_TRUE(EngineRunsOn(dir.wpath()));
  }
  EXPECT_FALSE(EngineRunsOn(dir.wpath()));  // left behind by an engine that ended
  EXPECT_TRUE(fs::exists(dir.path() / "lockfile")) << "the check must never delete the lock";
}
#else
std::string ThisHost() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return host;
}

// The pid of a process that has ended and been reaped.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST(EngineRunsOn, ReadsTheSingletonLockAsTheEngineDoes) {
  struct Case {
    const char* name;
    std::string target;  // empty: a plain file instead of a link
    bool in_use;
  };
  const Case cases[] = {
      {"live process of this host", ThisHost() + "-" + std::to_string(::getpid()), true},
      {"ended process of this host", ThisHost() + "-" + std::to_string(EndedProcess()), false},
      {"another host", "elsewhere.example-12345", true},
      {"a plain file", "", false},
      {"a link to no host and pid", "nothing", false},
  };
  for (const Case& c : cases) {
    test::ScopedTempDir dir;
    if (c.target.empty()) {
      test::WriteTextFile(dir.path() / "SingletonLock", "x");
    } else {
      fs::create_symlink(c.target, dir.path() / "SingletonLock");
    }
    EXPECT_EQ(EngineRunsOn(dir.wpath()), c.in_use) << c.name;
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir.path() / "SingletonLock"))) << c.name;
  }
  test::ScopedTempDir empty;
  EXPECT_FALSE(EngineRunsOn(empty.wpath()));
  EXPECT_FALSE(EngineRunsOn(L""));
}
#endif

}  // namespace
}  // namespace quillwave::platform
