#include "tests/geo/geo_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/encoding.h"
#include "tests/support/child_process.h"

extern char** environ;

namespace quillwave::test {

bool WriteTestDatabase(const std::filesystem::path& path, const std::string& variant, std::string& error) {
  const ChildResult run =
      RunChild("/usr/bin/perl", {Widen(QUILLWAVE_TEST_DATABASE_WRITER), path.wstring(), Widen(variant)});
  if (run.exit_code == 0 && std::filesystem::exists(path)) return true;
  error = "the test database was not written (scripts/install-deps.sh installs libmaxmind-db-writer-perl): " +
          run.output;
  return false;
}

GeoServerProcess::GeoServerProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return;
  platform::UniqueFd read_end(pipe_ends[0]), write_end(pipe_ends[1]);
  fcntl(read_end.get(), F_SETFL, O_NONBLOCK);
  std::vector<std::string> texts{program.string()};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDERR_FILENO);
  if (posix_spawn(&pid_, texts[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ > 0) errors_ = std::move(read_end);
}

// Stopped as an operator stops it, so that it ends through its own shutdown
// (and a coverage build's counters are written); killed when that hangs.
GeoServerProcess::~GeoServerProcess() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (WaitForExit(std::chrono::seconds(10)) != -1) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool GeoServerProcess::ReadSome(std::chrono::steady_clock::time_point deadline) {
  if (!errors_.valid()) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd polled{errors_.get(), POLLIN, 0};
  if (poll(&polled, 1, static_cast<int>(left.count())) <= 0) return false;
  char buffer[4096];
  const ssize_t got = read(errors_.get(), buffer, sizeof buffer);
  if (got <= 0) {
    if (got == 0) errors_.Reset();  // the program closed it: nothing more will come
    return got < 0 && errno == EAGAIN;
  }
  output_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

std::string GeoServerProcess::WaitForLine(std::string_view text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    for (std::size_t end; (end = output_.find('\n', consumed_)) != std::string::npos;) {
      std::string line = output_.substr(consumed_, end - consumed_);
      consumed_ = end + 1;
      if (line.find(text) != std::string::npos) return line;
    }
    if (!ReadSome(deadline)) return {};
  }
}

void GeoServerProcess::Signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

int GeoServerProcess::WaitForExit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (pid_ > 0) {
    int status = 0;
    const pid_t ended = waitpid(pid_, &status, WNOHANG);
    if (ended == pid_) {
      pid_ = -1;
      while (ReadSome(std::chrono::steady_clock::now() + std::chrono::milliseconds(100))) {
      }
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

int ListeningPort(const std::string& line) {
  const std::size_t at = line.find("listening on ");
  if (at == std::string::npos) return 0;
  const std::size_t colon = line.find(';', at);
  const std::size_t port_start = line.rfind(':', colon) + 1;
  return std::atoi(line.substr(port_start, colon - port_start).c_str());
}

platform::UniqueFd ConnectTo(const std::string& address, int port, const std::string& from) {
  const auto fill = [](const std::string& text, int port_number, sockaddr_storage& storage) -> socklen_t {
    storage = {};
    if (text.find(':') == std::string::npos) {
      auto& in = reinterpret_cast<sockaddr_in&>(storage);
      in.sin_family = AF_INET;
      in.sin_port = htons(static_cast<std::uint16_t>(port_number));
      inet_pton(AF_INET, text.c_str(), &in.sin_addr);
      return sizeof in;
    }
    auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(static_cast<std::uint16_t>(port_number));
    inet_pton(AF_INET6, text.c_str(), &in6.sin6_addr);
    return sizeof in6;
  };
  sockaddr_storage storage{}, source{};
  const socklen_t size = fill(address, port, storage);
  platform::UniqueFd socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const timeval limit{10, 0};
  if (!socket.valid() || setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
      setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
      (!from.empty() && bind(socket.get(), reinterpret_cast<const sockaddr*>(&source), fill(from, 0, source)) != 0) ||
      connect(socket.get(), reinterpret_cast<const sockaddr*>(&storage), size) != 0) {
    return {};
  }
  return socket;
}

std::string HttpExchange(const std::string& address, int port, std::string_view request, const std::string& from) {
  const platform::UniqueFd socket = ConnectTo(address, port, from);
  if (!socket.valid()) return {};
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t wrote = send(socket.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (wrote <= 0) break;  // the server may answer and close before it has read everything
    sent += static_cast<std::size_t>(wrote);
  }
  std::string response;
  char buffer[4096];
  for (ssize_t got; (got = recv(socket.get(), buffer, sizeof buffer, 0)) > 0;) {
    response.append(buffer, static_cast<std::size_t>(got));
  }
  return response;
}

HttpAnswer ParseHttpAnswer(const std::string& response) {
  HttpAnswer answer;
  const std::size_t head_end = response.find("\r\n\r\n");
  if (!response.starts_with("HTTP/1.1 ") || head_end == std::string::npos) return answer;
  answer.status = std::atoi(response.substr(9, 3).c_str());
  answer.head = response.substr(0, head_end + 2);
  answer.body = response.substr(head_end + 4);
  return answer;
}

}  // namespace quillwave::test
