// Makes a user-data folder look like a running engine holds it, the way the
// engine marks it: on Linux a "SingletonLock" link to this host and process,
// on Windows "lockfile" held open without write or delete sharing.
#pragma once

#include <filesystem>

#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <string>
#endif

namespace quillwave::test {

// Puts an engine at `engine` that a ProfileHolder's process runs: on Linux
// a link to this test program, as the lock must name a live engine there;
// on Windows, where only the held lockfile counts, any file.
inline void PlaceEngineOfThisProcess(const std::filesystem::path& engine) {
#ifdef _WIN32
  WriteTextFile(engine, "engine");
#else
  std::filesystem::create_symlink(std::filesystem::read_symlink("/proc/self/exe"), engine);
#endif
}

class ProfileHolder {
 public:
  explicit ProfileHolder(const std::filesystem::path& user_data_dir) {
#ifdef _WIN32
    lock_ = ::CreateFileW((user_data_dir / "lockfile").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::filesystem::create_symlink(std::string(host) + "-" + std::to_string(::getpid()),
                                    user_data_dir / "SingletonLock");
#endif
  }
  ProfileHolder(const ProfileHolder&) = delete;
  ProfileHolder& operator=(const ProfileHolder&) = delete;
#ifdef _WIN32
  ~ProfileHolder() { ::CloseHandle(lock_); }

 private:
  HANDLE lock_;
#endif
};

}  // namespace quillwave::test
