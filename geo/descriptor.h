// A file descriptor or socket of the service, closed with its owner unless
// handed on: the project's owner type with the POSIX close.
#pragma once

#include <unistd.h>

#include "base/unique_owner.h"

namespace quillwave::geo {

struct DescriptorTraits {
  using Value = int;
  static int Invalid() { return -1; }
  static bool Close(int fd) { return ::close(fd) == 0; }
};

using Descriptor = UniqueOwner<DescriptorTraits>;

}  // namespace quillwave::geo
