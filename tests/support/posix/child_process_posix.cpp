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

namespace {

// The environment and arguments of a child, alive as long as the object.
class ChildStrings {
 public:
  ChildStrings(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
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
    for (const auto& [name, value] : environment) env_storage_.push_back(name + "=" + value);
    arg_storage_.push_back(program.string());
    for (const auto& argument : arguments) arg_storage_.push_back(platform::WideToBytes(argument));
    for (auto& a : arg_storage_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    for (auto& e : env_storage_) envp_.push_back(e.data());
    envp_.push_back(nullptr);
  }
  char* const* argv() const { return argv_.data(); }
  char* const* envp() const { return envp_.data(); }

 private:
  std::vector<std::string> env_storage_, arg_storage_;
  std::vector<char*> argv_, envp_;
};

// Standard input empty, standard output and error both into `output`. With
// `plain_signals` every signal has its default handling, as a shell gives
// its commands, also where the test runs with some ignored (a background
// job ignores SIGINT).
pid_t Spawn(const ChildStrings& strings, const std::string& output, bool plain_signals = false) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (plain_signals) {
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  pid_t pid = 0;
  const int error = posix_spawn(&pid, strings.argv()[0], &actions, &attributes, strings.argv(), strings.envp());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error(std::string("cannot start child: ") + std::strerror(error));
  return pid;
}

}  // namespace

ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                     const ChildOptions& options) {
  const ChildStrings strings(program, arguments, options);
  ScopedTempDir scratch;
  const std::string output_path = (scratch.path() / "output").string();
  const pid_t pid = Spawn(strings, output_path);

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
RunningChild::RunningChild(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                           const ChildOptions& options)
    : pid_(Spawn(ChildStrings(program, arguments, options), "/dev/null", /*plain_signals=*/true)) {}

RunningChild::~RunningChild() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
}

void RunningChild::Signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

std::optional<RunningChild::End> RunningChild::WaitFor(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  pid_ = -1;  // reaped
  End end;
  if (WIFEXITED(status)) end.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
  return end;
}

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
