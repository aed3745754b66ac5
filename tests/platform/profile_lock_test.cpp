#include "platform/profile_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/profile_holder.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/posix/unprivileged.h"
#endif

namespace quillwave::platform {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
TEST(EngineRunsOn, OnlyWhileLockfileIsHeldWithoutSharing) {
  test::ScopedTempDir dir;
  EXPECT_FALSE(EngineRunsOn(dir.wpath(), L""));  // no lockfile
  {
    test::ProfileHolder engine(dir.path());
    EXPECT_TRUE(EngineRunsOn(dir.wpath(), L""));
  }
  EXPECT_FALSE(EngineRunsOn(dir.wpath(), L""));  // left behind by an engine that ended
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
    const char* engine;  // its content; null: a link to this test program
    bool in_use;
  };
  const std::string this_process = ThisHost() + "-" + std::to_string(::getpid());
  const Case cases[] = {
      {"live engine of this host", this_process, nullptr, true},
      // A crashed engine's number, now taken by another program.
      {"live process of this host that is not the engine", this_process, "another program", false},
      {"live process of this host, the engine a script", this_process, "#!/bin/sh\n", true},
      {"ended process of this host", ThisHost() + "-" + std::to_string(EndedProcess()), nullptr, false},
      {"another host", "elsewhere.example-12345", "another program", true},
      {"a plain file", "", nullptr, false},
      {"a link to no host and pid", "nothing", nullptr, false},
  };
  for (const Case& c : cases) {
    test::ScopedTempDir dir;
    if (c.target.empty()) {
      test::WriteTextFile(dir.path() / "SingletonLock", "x");
    } else {
      fs::create_symlink(c.target, dir.path() / "SingletonLock");
    }
    const fs::path engine = dir.path() / "quillwave-engine";
    if (c.engine == nullptr) {
      test::PlaceEngineOfThisProcess(engine);
    } else {
      test::WriteTextFile(engine, c.engine);
    }
    EXPECT_EQ(EngineRunsOn(dir.wpath(), engine.wstring()), c.in_use) << c.name;
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir.path() / "SingletonLock"))) << c.name;
  }
  test::ScopedTempDir empty;
  EXPECT_FALSE(EngineRunsOn(empty.wpath(), L""));
  EXPECT_FALSE(EngineRunsOn(L"", L""));
}

// An upgrade replaces the engine's program while it runs: the running engine
// still holds the profile, although its program is no longer the file there.
TEST(EngineRunsOn, AnEngineWhoseProgramWasReplacedStillCounts) {
  test::ScopedTempDir dir;
  const fs::path engine = dir.path() / "quillwave-engine";
  fs::copy_file("/bin/sleep", engine);
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  UniqueFd read_end(ends[0]), write_end(ends[1]);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(engine.c_str(), "quillwave-engine", "60", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  test::ForkedChild child(pid);
  write_end.Reset();
  char ignored;
  ASSERT_EQ(::read(read_end.get(), &ignored, 1), 0);  // the pipe closes once the program runs
  fs::remove(engine);
  fs::copy_file("/bin/sleep", engine);
  fs::create_symlink(ThisHost() + "-" + std::to_string(pid), dir.path() / "SingletonLock");
  EXPECT_TRUE(EngineRunsOn(dir.wpath(), engine.wstring()));
}
#endif

}  // namespace
}  // namespace quillwave::platform
