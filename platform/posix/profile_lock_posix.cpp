#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/encoding.h"
#include "platform/profile_lock.h"

namespace quillwave::platform {

bool EngineRunsOn(const std::wstring& user_data_dir) {
  if (user_data_dir.empty()) return false;
  const std::string lock = WideToBytes(user_data_dir) + "/SingletonLock";
  char target[PATH_MAX];
  const ssize_t length = ::readlink(lock.c_str(), target, sizeof target - 1);
  if (length <= 0) return false;  // no lock, or not a link: nobody holds the profile
  const std::string owner(target, static_cast<std::size_t>(length));
  const std::size_t dash = owner.rfind('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == owner.size()) return false;
  const std::string host = owner.substr(0, dash);
  long pid = 0;
  for (std::size_t i = dash + 1; i < owner.size(); ++i) {
    if (owner[i] < '0' || owner[i] > '9' || pid > INT_MAX / 10) return false;
    pid = pid * 10 + (owner[i] - '0');
  }
  if (pid <= 0 || pid > INT_MAX) return false;

  char this_host[256] = {};
  if (::gethostname(this_host, sizeof this_host - 1) != 0) return true;  // cannot tell: keep the profile
  // Another machine's engine on a shared folder cannot be checked from here.
  if (host != this_host) return true;
  // A process of this machine that is gone left a stale lock.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace quillwave::platform
