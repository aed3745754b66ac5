#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/encoding.h"
#include "platform/paths.h"

namespace quillwave::platform {
namespace {

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  return value;
}

}  // namespace

std::wstring LauncherDirectory() {
  char buffer[PATH_MAX + 1] = {};
  const ssize_t length = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return {};
  std::string path(buffer, static_cast<std::size_t>(length));
  const auto slash = path.rfind('/');
  path.resize(slash == 0 ? 1 : slash);
  return BytesToWide(path);
}

// XDG's data home is the Linux counterpart of the local application-data folder.
std::wstring LocalAppDataFolder() {
  std::string folder = AbsoluteEnv("XDG_DATA_HOME");
  if (folder.empty()) {
    const std::string home = AbsoluteEnv("HOME");
    if (home.empty()) return {};
    folder = home + (home.back() == '/' ? "" : "/") + ".local/share";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return BytesToWide(folder);
}

}  // namespace quillwave::platform
