// Makes a user-data folder look like a running engine holds it, the way the
// engine marks it: on Linux a "SingletonLock" link to this host and process,
// on Windows "lockfile" held open without write or delete sharing.
#pragma once

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <string>
#endif

namespace quillwave::test {

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
