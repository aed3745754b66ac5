// Loopback-only network helpers for the tests that run real curl through a
// real SOCKS5 proxy (POSIX only). Everything binds to 127.0.0.1 and is
// stopped, closed and reaped by its destructor.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace quillwave::test {

// 127.0.0.1:port.
sockaddr_in LoopbackAddress(int port);

// A TCP socket bound to 127.0.0.1 on `port`, or on one the system picks when
// it is 0 (written back to `port`); throws when it cannot be had.
platform::UniqueFd BoundLoopbackSocket(int& port);

// A TCP port on 127.0.0.1 held for the object's life. Not listening:
// connections are refused at once. Listening: the system completes them,
// but nothing ever reads or answers.
class LoopbackPort {
 public:
  explicit LoopbackPort(bool listening, int port = 0);
  int port() const { return port_; }

 private:
  platform::UniqueFd socket_;
  int port_ = 0;
};

// An X display on loopback that accepts connections and never answers, as
// a frozen or unreachable remote X server behind a live tunnel does: its
// name for DISPLAY is "127.0.0.1:N" (TCP port 6000 + N).
struct SilentDisplay {
  std::unique_ptr<LoopbackPort> port;
  std::string name;
};
SilentDisplay StartSilentDisplay();

// A Unix socket at `path` that accepts connections and never answers, as a
// hung session bus does.
class SilentUnixSocket {
 public:
  explicit SilentUnixSocket(const std::filesystem::path& path);

 private:
  platform::UniqueFd socket_;
};

// An answer the server streams: `piece` sent `repeat` times under one
// Content-Length (so a huge body costs no memory), and with `cut_after`
// the connection closes after that many body bytes, mid-answer.
// `before_answer` runs on the server's thread once a request's head is in,
// while the client waits for the answer.
struct ServedAnswer {
  int status = 200;
  std::string piece;
  std::uint64_t repeat = 1;
  std::uint64_t cut_after = UINT64_MAX;
  std::function<void()> before_answer = nullptr;
};

// An HTTP server on 127.0.0.1 that gives every request the same answer,
// one connection at a time, on its own thread.
class LoopbackHttpServer {
 public:
  // On `port`, or on one the system picks when it is 0.
  LoopbackHttpServer(int status, std::string body, int port = 0);
  explicit LoopbackHttpServer(ServedAnswer answer, int port = 0);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  int port() const { return port_; }
  // The heads of the requests served so far: the request line and each
  // header, every one ending in CR LF.
  std::vector<std::string> requests() const;

 private:
  void Serve();

  ServedAnswer answer_;
  platform::UniqueFd listener_;
  platform::UniqueFd wake_read_, wake_write_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A program running in the background with its output discarded; killed and
// reaped when the object goes.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  bool running();

 private:
  pid_t pid_ = -1;
};

// A port on 127.0.0.1 that nobody listens on right now.
int UnusedLoopbackPort();

// Whether `server` accepts connections on 127.0.0.1:port before the limit
// (false at once when it has ended).
bool WaitForLoopbackPort(int port, std::chrono::milliseconds limit, BackgroundProcess& server);

// microsocks (a real SOCKS5 proxy) on a free port of 127.0.0.1, which goes
// to `port`; null when it would not start.
std::unique_ptr<BackgroundProcess> StartSocksProxy(int& port);

}  // namespace quillwave::test
