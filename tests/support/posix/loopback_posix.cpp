#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "tests/support/loopback.h"

extern char** environ;

namespace quillwave::test {
namespace {

using platform::UniqueFd;

bool WaitReadable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, timeout_ms) == 1;
}

// False when the client has gone.
bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

UniqueFd BoundLoopbackSocket(int& port) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = LoopbackAddress(port);
  socklen_t length = sizeof address;
  const int reuse = 1;  // a fixed port may still linger in TIME_WAIT from an earlier test
  if (socket.valid() && port != 0) ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  if (!socket.valid() || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error(std::string("cannot bind a loopback socket: ") + std::strerror(errno));
  }
  port = ntohs(address.sin_port);
  return socket;
}

LoopbackPort::LoopbackPort(bool listening, int port) : port_(port) {
  socket_ = BoundLoopbackSocket(port_);
  if (listening && ::listen(socket_.get(), 16) != 0) throw std::runtime_error("cannot listen on a loopback socket");
}

SilentDisplay StartSilentDisplay() {
  for (int number = 60; number < 100; ++number) {
    try {
      return {std::make_unique<LoopbackPort>(/*listening=*/true, 6000 + number), "127.0.0.1:" + std::to_string(number)};
    } catch (const std::runtime_error&) {
      // taken: the next display number
    }
  }
  throw std::runtime_error("no free X display port on loopback");
}

SilentUnixSocket::SilentUnixSocket(const std::filesystem::path& path)
    : socket_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = path.string();
  if (name.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long: " + name);
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  if (!socket_.valid() || ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket_.get(), 16) != 0) {
    throw std::runtime_error("cannot listen on " + name + ": " + std::strerror(errno));
  }
}

int UnusedLoopbackPort() {
  int port = 0;
  BoundLoopbackSocket(port);
  return port;
}

LoopbackHttpServer::LoopbackHttpServer(int status, std::string body, int port)
    : LoopbackHttpServer(ServedAnswer{status, std::move(body)}, port) {}

LoopbackHttpServer::LoopbackHttpServer(ServedAnswer answer, int port) : answer_(std::move(answer)), port_(port) {
  listener_ = BoundLoopbackSocket(port_);
  int wake[2];
  if (::listen(listener_.get(), 16) != 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot start the loopback HTTP server");
  }
  wake_read_.Reset(wake[0]);
  wake_write_.Reset(wake[1]);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  [[maybe_unused]] const auto written = ::write(wake_write_.get(), "x", 1);
  thread_.join();
}

std::vector<std::string> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::Serve() {
  for (;;) {
    pollfd entries[2] = {{listener_.get(), POLLIN, 0}, {wake_read_.get(), POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0 && errno != EINTR) return;
    if (entries[1].revents != 0) return;
    if (entries[0].revents == 0) continue;
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) continue;
    // A client gets five seconds to send its head, and at most 64 KiB of it.
    std::string head;
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 && WaitReadable(client.get(), 5000)) {
      const ssize_t got = ::read(client.get(), chunk, sizeof chunk);
      if (got <= 0) break;
      head.append(chunk, static_cast<std::size_t>(got));
    }
    {
      std::lock_guard lock(mutex_);
      const std::size_t end = head.find("\r\n\r\n");
      requests_.push_back(end == std::string::npos ? head : head.substr(0, end + 2));
    }
    if (answer_.before_answer) answer_.before_answer();
    const std::uint64_t length = answer_.piece.size() * answer_.repeat;
    const std::string reply_head = "HTTP/1.1 " + std::to_string(answer_.status) +
                                   " Scripted\r\nContent-Type: text/plain\r\nContent-Length: " +
                                   std::to_string(length) + "\r\nConnection: close\r\n\r\n";
    if (!SendAll(client.get(), reply_head)) continue;
    for (std::uint64_t left = std::min(length, answer_.cut_after); left > 0;) {
      const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(left, answer_.piece.size()));
      if (!SendAll(client.get(), std::string_view(answer_.piece).substr(0, part))) break;
      left -= part;
    }
  }
}

BackgroundProcess::BackgroundProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> storage{program.string()};
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + program.string() + ": " + std::strerror(error));
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

bool BackgroundProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
  pid_ = -1;  // reaped
  return false;
}

bool WaitForLoopbackPort(int port, std::chrono::milliseconds limit, BackgroundProcess& server) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = LoopbackAddress(port);
    const bool connected = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    // Someone else may hold the port: the answer counts only while the server runs.
    if (!server.running()) return false;
    if (connected) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::unique_ptr<BackgroundProcess> StartSocksProxy(int& port) {
  // A port found free can be taken before microsocks binds it: try again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port = UnusedLoopbackPort();
    auto proxy = std::make_unique<BackgroundProcess>(
        "/usr/bin/microsocks", std::vector<std::string>{"-i", "127.0.0.1", "-p", std::to_string(port)});
    if (WaitForLoopbackPort(port, std::chrono::seconds(5), *proxy)) return proxy;
  }
  port = 0;
  return nullptr;
}

}  // namespace quillwave::test
