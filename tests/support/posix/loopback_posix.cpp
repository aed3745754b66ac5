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
#include <stdexcept>

#include "tests/support/loopback.h"

extern char** environ;

namespace quillwave::test {
namespace {

using platform::UniqueFd;

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A TCP socket bound to 127.0.0.1 on the given port, or on one the system
// picks when it is 0.
UniqueFd BoundSocket(int& port) {
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

bool WaitReadable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, timeout_ms) == 1;
}

}  // namespace

LoopbackPort::LoopbackPort(bool listening, int port) : port_(port) {
  socket_ = BoundSocket(port_);
  if (listening && ::listen(socket_.get(), 16) != 0) throw std::runtime_error("cannot listen on a loopback socket");
}

int UnusedLoopbackPort() {
  int port = 0;
  BoundSocket(port);
  return port;
}

LoopbackHttpServer::LoopbackHttpServer(int status, std::string body, int port)
    : status_(status), body_(std::move(body)), port_(port) {
  listener_ = BoundSocket(port_);
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
    const std::string answer = "HTTP/1.1 " + std::to_string(status_) + " Scripted\r\nContent-Type: text/plain\r\n" +
                               "Content-Length: " + std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" +
                               body_;
    [[maybe_unused]] const auto sent = ::send(client.get(), answer.data(), answer.size(), MSG_NOSIGNAL);
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

}  // namespace quillwave::test
