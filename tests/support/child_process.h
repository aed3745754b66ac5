// Runs a program for a test: bounded in time, always reaped, killed on timeout.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quillwave::test {

struct ChildOptions {
  // Variables set (or, with an empty value, removed) in the child's environment only.
  std::vector<std::pair<std::wstring, std::wstring>> environment;
  std::chrono::milliseconds timeout{60000};
};

struct ChildResult {
  int exit_code = -1;
  bool timed_out = false;
  std::string output;  // standard output and standard error (POSIX only)
};

// Starts `program` with `arguments` (each one argument; quoted as Windows
// requires) and waits for it.
ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                     const ChildOptions& options = {});

// Splits a Windows command line the way CommandLineToArgvW does (the system's
// own function on Windows, a reference of its rules elsewhere).
std::vector<std::wstring> SplitWindowsCommandLine(const std::wstring& command_line);

// Waits until the file exists (a detached process writes it), up to the limit.
bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds limit);

// The whole content of a file that exists, read as soon as it can be opened
// within the limit.
std::string ReadFileOnceReadable(const std::filesystem::path& path, std::chrono::milliseconds limit);

}  // namespace quillwave::test
