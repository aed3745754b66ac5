#include <thread>

#include "tests/support/child_process.h"

namespace quillwave::test {

// The engine is detached from the launcher, so its output can only be awaited.
bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::error_code ignored;
  while (!std::filesystem::exists(path, ignored)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace quillwave::test
