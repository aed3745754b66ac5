#include "platform/profile_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
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

// The pid of a process that has ended but is not yet reaped: it is there,
// its program cannot be read. `child` reaps it.
pid_t ZombieProcess(std::optional<test::ForkedChild>& child) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  child.emplace(pid);
  siginfo_t ended{};
  ::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT);
  return pid;
}

TEST(EngineRunsOn, ReadsTheSingletonLockAsTheEngineDoes) {
  // Where the engine beside the launcher lies and what it is.
  enum class Engine { kLinkToThisProgram, kThisProgram, kSameNameElsewhere, kOtherProgram, kScript };
  struct Case {
    const char* name;
    std::string target;  // empty: a plain file instead of a link
    Engine engine;
    bool in_use;
  };
  const std::string host = ThisHost() + "-";
  const std::string this_process = host + std::to_string(::getpid());
  std::optional<test::ForkedChild> zombie;
  const fs::path this_program = fs::read_symlink("/proc/self/exe");
  const Case cases[] = {
      // The engine is a link to a program of another name, which runs as that name.
      {"live engine of this host", this_process, Engine::kLinkToThisProgram, true},
      {"live engine of this host, the engine itself", this_process, Engine::kThisProgram, true},
      // Another install's copy: the engine sees its running self and hands over.
      {"live engine of another install folder", this_process, Engine::kSameNameElsewhere, true},
      // A crashed engine's number, now taken by another program.
      {"live process of this host that is not the engine", this_process, Engine::kOtherProgram, false},
      {"live process of this host, the engine a script", this_process, Engine::kScript, true},
      {"pid 1", host + "1", Engine::kLinkToThisProgram, false},
      {"a process whose program cannot be read", host + std::to_string(ZombieProcess(zombie)),
       Engine::kLinkToThisProgram, false},
      {"ended process of this host", host + std::to_string(EndedProcess()), Engine::kLinkToThisProgram, false},
      {"another host", "elsewhere.example-12345", Engine::kOtherProgram, true},
      {"a plain file", "", Engine::kLinkToThisProgram, false},
      {"a link to no host and pid", "nothing", Engine::kLinkToThisProgram, false},
  };
  for (const Case& c : cases) {
    test::ScopedTempDir dir;
    if (c.target.empty()) {
      test::WriteTextFile(dir.path() / "SingletonLock", "x");
    } else {
      fs::create_symlink(c.target, dir.path() / "SingletonLock");
    }
    fs::path engine = dir.path() / "quillwave-engine";
    switch (c.engine) {
      case Engine::kLinkToThisProgram:
        test::PlaceEngineOfThisProcess(engine);
        break;
      case Engine::kThisProgram:
        engine = this_program;
        break;
      case Engine::kSameNameElsewhere:
        engine = dir.path() / "opt" / "1.2" / this_program.filename();
        fs::create_directories(engine.parent_path());
        fs::copy_file(this_program, engine);
        break;
      case Engine::kOtherProgram:
        test::WriteTextFile(engine, "another program");
        break;
      case Engine::kScript:
        test::WriteTextFile(engine, "#!/bin/sh\n");
        break;
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
