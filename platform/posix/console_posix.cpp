#include <errno.h>
#include <unistd.h>

#include "platform/console.h"

namespace quillwave::platform {
namespace {

void WriteAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // a closed pipe: nobody reads any more
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void WriteStandardOutput(std::string_view utf8) { WriteAll(STDOUT_FILENO, utf8); }
void WriteStandardError(std::string_view utf8) { WriteAll(STDERR_FILENO, utf8); }

}  // namespace quillwave::platform
