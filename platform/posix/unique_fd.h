// Owner of a POSIX file descriptor.
#pragma once

#include <unistd.h>

#include "base/unique_owner.h"

namespace quillwave::platform {

struct FdTraits {
  using Value = int;
  static int Invalid() { return -1; }
  static bool Close(int fd) { return ::close(fd) == 0; }
};

using UniqueFd = UniqueOwner<FdTraits>;

}  // namespace quillwave::platform
