// What a stand-in program reports about the descriptors it inherited.
#pragma once

#include <dirent.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace quillwave::test {

// One line per open descriptor with what it refers to; the listing's own
// descriptor is left out.
inline std::string OpenDescriptors() {
  std::string lines;
  DIR* listing = ::opendir("/proc/self/fd");
  if (listing == nullptr) return lines;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || std::atoi(name.c_str()) == ::dirfd(listing)) continue;
    std::error_code ignored;
    lines += name + " " + std::filesystem::read_symlink("/proc/self/fd/" + name, ignored).string() + "\n";
  }
  ::closedir(listing);
  return lines;
}

}  // namespace quillwave::test
