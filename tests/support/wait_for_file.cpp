#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

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

std::string ReadFileOnceReadable(const std::filesystem::path& path, std::chrono::milliseconds limit) {
  // Under Wine a file just renamed into place can refuse to open for a moment.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::ostringstream content;
      content << in.rdbuf();
      return content.str();
    }
    if (std::chrono::steady_clock::now() >= deadline) return ReadTextFile(path);  // throws, naming the file
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace quillwave::test
