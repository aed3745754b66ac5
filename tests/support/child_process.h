// Runs a program for a test: bounded in time, always reaped, killed on timeout.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
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

#ifndef _WIN32
// A program that runs on while the test acts on it (POSIX): signalled,
// waited for with a deadline, and killed and reaped by the destructor when
// it still runs. It starts with every signal's default handling, as from a
// shell. Its output is discarded; the options' timeout is not used.
class RunningChild {
 public:
  RunningChild(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
               const ChildOptions& options = {});
  ~RunningChild();
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;

  int pid() const { return pid_; }
  void Signal(int signal) const;

  struct End {
    int exit_code = -1;  // when it exited
    int signal = 0;      // when a signal ended it
  };
  // How it ended, once it has within `limit`; nothing while it still runs.
  std::optional<End> WaitFor(std::chrono::milliseconds limit);

 private:
  int pid_ = -1;
};
#endif

// Splits a Windows command line the way CommandLineToArgvW does (the system's
// own function on Windows, a reference of its rules elsewhere).
std::vector<std::wstring> SplitWindowsCommandLine(const std::wstring& command_line);

// Waits until the file exists (a detached process writes it), up to the limit.
bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds limit);

// The whole content of a file that exists, read as soon as it can be opened
// within the limit.
std::string ReadFileOnceReadable(const std::filesystem::path& path, std::chrono::milliseconds limit);

}  // namespace quillwave::test
