#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

#include "platform/encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace quillwave::test {

ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                     const ChildOptions& options) {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : options.environment) {
    if (value.empty()) {
      environment.erase(platform::WideToBytes(name));
    } else {
      environment[platform::WideToBytes(name)] = platform::WideToBytes(value);
    }
  }
  std::vector<std::string> env_storage;
  for (const auto& [name, value] : environment) env_storage.push_back(name + "=" + value);
  std::vector<std::string> arg_storage{program.string()};
  for (const auto& argument : arguments) arg_storage.push_back(platform::WideToBytes(argument));
  std::vector<char*> argv, envp;
  for (auto& a : arg_storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env_storage) envp.push_back(e.data());
  envp.push_back(nullptr);

  ScopedTempDir scratch;
  const std::string output_path = (scratch.path() / "output").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error(std::string("cannot start child: ") + std::strerror(error));

  ChildResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.output = ReadTextFile(output_path);
  return result;
}

// CommandLineToArgvW's rules: the program name ends at the first blank or
// tab unless quoted (quotes only group it, backslashes are literal); then
// 2N backslashes + quote -> N backslashes and a quote toggles quoting,
// 2N+1 backslashes + quote -> N backslashes and a literal quote, other
// backslashes are literal, and inside quotes "" yields a literal quote and
// ends the quoted section.
std::vector<std::wstring> SplitWindowsCommandLine(const std::wstring& command_line) {
  std::vector<std::wstring> result;
  std::size_t i = 0;
  const std::size_t n = command_line.size();
  std::wstring program;
  if (i < n && command_line[i] == L'"') {
    ++i;
    while (i < n && command_line[i] != L'"') program += command_line[i++];
    if (i < n) ++i;
  } else {
    while (i < n && command_line[i] != L' ' && command_line[i] != L'\t') program += command_line[i++];
  }
  result.push_back(program);
  for (;;) {
    while (i < n && (command_line[i] == L' ' || command_line[i] == L'\t')) ++i;
    if (i >= n) break;
    std::wstring argument;
    bool quoted = false;
    while (i < n) {
      const wchar_t c = command_line[i];
      if (!quoted && (c == L' ' || c == L'\t')) break;
      if (c == L'\\') {
        std::size_t count = 0;
        while (i < n && command_line[i] == L'\\') ++count, ++i;
        if (i < n && command_line[i] == L'"') {
          argument.append(count / 2, L'\\');
          if (count % 2 == 1) {
            argument += L'"';
            ++i;
          }
        } else {
          argument.append(count, L'\\');
        }
        continue;
      }
      if (c == L'"') {
        if (quoted && i + 1 < n && command_line[i + 1] == L'"') {
          argument += L'"';
          quoted = false;
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      argument += c;
      ++i;
    }
    result.push_back(argument);
  }
  return result;
}

}  // namespace quillwave::test
