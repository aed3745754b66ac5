// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillwave::test {

class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path as the launcher's wide strings hold it.
  std::wstring wpath() const { return path_.wstring(); }

 private:
  std::filesystem::path path_;
};

// Small file helpers for arranging and inspecting test trees.
void WriteTextFile(const std::filesystem::path& path, std::string_view content);
std::string ReadTextFile(const std::filesystem::path& path);

}  // namespace quillwave::test
