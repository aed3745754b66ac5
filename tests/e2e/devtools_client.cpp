#include "tests/e2e/devtools_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <random>

#include "base/json_readers.h"
#include "base/json_writer.h"
#include "platform/encoding.h"
#include "tests/support/loopback.h"

namespace quillwave::test {
namespace {

using platform::UniqueFd;
using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
    if (ready == 1) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// A non-blocking TCP connection to 127.0.0.1:port.
UniqueFd Connect(int port, Clock::time_point deadline) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket.valid()) return {};
  const sockaddr_in address = LoopbackAddress(port);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS || !WaitFor(socket.get(), POLLOUT, deadline)) return {};
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return {};
  }
  return socket;
}

bool SendAll(int fd, const std::string& data, Clock::time_point deadline) {
  for (std::size_t sent = 0; sent < data.size();) {
    if (!WaitFor(fd, POLLOUT, deadline)) return false;
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (n > 0) sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Appends what is there to `buffer`; false at the end of the stream, on an
// error or at the deadline.
bool ReadSome(int fd, std::string& buffer, Clock::time_point deadline) {
  char chunk[16384];
  for (;;) {
    if (!WaitFor(fd, POLLIN, deadline)) return false;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) return false;
  }
}

// "ws://127.0.0.1:PORT/PATH" -> port and path.
bool SplitSocketUrl(const std::string& url, int& port, std::string& path) {
  const std::string prefix = "ws://127.0.0.1:";
  if (url.rfind(prefix, 0) != 0) return false;
  const std::size_t slash = url.find('/', prefix.size());
  if (slash == std::string::npos) return false;
  port = std::atoi(url.substr(prefix.size(), slash - prefix.size()).c_str());
  path = url.substr(slash);
  return port > 0;
}

}  // namespace

HttpAnswer LoopbackGet(int port, const std::string& path, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  UniqueFd socket = Connect(port, deadline);
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nConnection: close\r\n\r\n";
  if (!socket.valid() || !SendAll(socket.get(), request, deadline)) return {};
  // The engine keeps the connection open after its answer: the body ends
  // where Content-Length says.
  std::string answer;
  std::size_t head_end = std::string::npos;
  std::size_t total = std::string::npos;
  while (answer.size() < total && ReadSome(socket.get(), answer, deadline)) {
    if (head_end == std::string::npos && (head_end = answer.find("\r\n\r\n")) != std::string::npos) {
      std::string head = answer.substr(0, head_end);
      for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const std::size_t length = head.find("\r\ncontent-length:");
      if (length != std::string::npos) total = head_end + 4 + std::strtoul(head.c_str() + length + 17, nullptr, 10);
    }
  }
  if (answer.rfind("HTTP/1.1 ", 0) != 0 || head_end == std::string::npos) return {};
  return {std::atoi(answer.c_str() + 9), answer.substr(head_end + 4)};
}

std::vector<DevToolsTarget> ListTargets(int port) {
  const HttpAnswer answer = LoopbackGet(port, "/json/list", std::chrono::seconds(10));
  std::vector<DevToolsTarget> targets;
  if (answer.status != 200) return targets;
  const std::string_view body = answer.body;
  // A flat array of flat objects.
  for (std::size_t open = body.find('{'); open != std::string::npos;) {
    const std::size_t close = FindBlockEnd(body, open);
    if (close == std::string::npos) break;
    const std::string_view entry = body.substr(open, close - open + 1);
    targets.push_back({ReadStringField(entry, "type"), ReadStringField(entry, "url"),
                       ReadStringField(entry, "webSocketDebuggerUrl")});
    open = body.find('{', close);
  }
  return targets;
}

std::vector<std::string> PageUrls(int port) {
  std::vector<std::string> urls;
  for (const auto& target : ListTargets(port)) {
    if (target.type == "page") urls.push_back(target.url);
  }
  return urls;
}

std::optional<DevToolsSocket> DevToolsSocket::Open(const std::string& socket_url) {
  int port = 0;
  std::string path;
  if (!SplitSocketUrl(socket_url, port, path)) return std::nullopt;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  UniqueFd socket = Connect(port, deadline);
  // No Origin header: the engine accepts such clients without an allow-list.
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: cXVpbGx3YXZlLWUyZS1rZXk=\r\nSec-WebSocket-Version: 13\r\n\r\n";
  if (!socket.valid() || !SendAll(socket.get(), request, deadline)) return std::nullopt;
  std::string received;
  while (received.find("\r\n\r\n") == std::string::npos) {
    if (!ReadSome(socket.get(), received, deadline)) return std::nullopt;
  }
  if (received.rfind("HTTP/1.1 101", 0) != 0) return std::nullopt;
  DevToolsSocket result(std::move(socket));
  result.buffer_ = received.substr(received.find("\r\n\r\n") + 4);  // frames may follow at once
  return result;
}

bool DevToolsSocket::SendText(const std::string& text) {
  std::string frame(1, static_cast<char>(0x81));  // FIN, text
  const std::uint64_t size = text.size();
  if (size < 126) {
    frame += static_cast<char>(0x80 | size);
  } else if (size <= 0xFFFF) {
    frame += static_cast<char>(0x80 | 126);
    for (int shift = 8; shift >= 0; shift -= 8) frame += static_cast<char>((size >> shift) & 0xFF);
  } else {
    frame += static_cast<char>(0x80 | 127);
    for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((size >> shift) & 0xFF);
  }
  static std::mt19937 random{std::random_device{}()};
  char mask[4];
  for (char& byte : mask) byte = static_cast<char>(random() & 0xFF);
  frame.append(mask, 4);
  for (std::size_t i = 0; i < text.size(); ++i) frame += static_cast<char>(text[i] ^ mask[i % 4]);
  return SendAll(socket_.get(), frame, Clock::now() + std::chrono::seconds(10));
}

bool DevToolsSocket::Fill(std::size_t count, Clock::time_point deadline) {
  while (buffer_.size() < count) {
    if (!ReadSome(socket_.get(), buffer_, deadline)) return false;
  }
  return true;
}

// One whole message (continuation frames joined); answers pings on the way.
// "" when the connection ends, closes or the deadline passes.
std::string DevToolsSocket::ReadMessage(Clock::time_point deadline) {
  std::string message;
  for (;;) {
    if (!Fill(2, deadline)) return {};
    const auto byte0 = static_cast<unsigned char>(buffer_[0]);
    const auto byte1 = static_cast<unsigned char>(buffer_[1]);
    std::size_t header = 2;
    std::uint64_t size = byte1 & 0x7F;
    const int extra = size == 126 ? 2 : size == 127 ? 8 : 0;
    if (!Fill(header + extra, deadline)) return {};
    if (extra > 0) {
      size = 0;
      for (int i = 0; i < extra; ++i) size = (size << 8) | static_cast<unsigned char>(buffer_[header + i]);
      header += extra;
    }
    const bool masked = (byte1 & 0x80) != 0;
    if (masked) header += 4;
    if (size > (64u << 20) || !Fill(header + size, deadline)) return {};
    std::string payload = buffer_.substr(header, size);
    if (masked) {
      for (std::size_t i = 0; i < payload.size(); ++i) payload[i] ^= buffer_[header - 4 + i % 4];
    }
    buffer_.erase(0, header + size);
    const int opcode = byte0 & 0x0F;
    if (opcode == 0x8) return {};  // close
    if (opcode == 0x9) {           // ping: answer with the same payload
      std::string pong(1, static_cast<char>(0x8A));
      pong += static_cast<char>(0x80 | payload.size());
      pong.append(4, '\0');  // a zero mask leaves the payload as it is
      pong += payload;
      SendAll(socket_.get(), pong, deadline);
      continue;
    }
    if (opcode == 0xA) continue;  // pong
    message += payload;
    if ((byte0 & 0x80) != 0) return message;
  }
}

bool DevToolsSocket::Send(const std::string& method, const std::string& params_json) {
  return SendText("{\"id\":" + std::to_string(next_id_++) + ",\"method\":\"" + method + "\",\"params\":" + params_json +
                  "}");
}

std::string DevToolsSocket::Call(const std::string& method, const std::string& params_json,
                                 std::chrono::milliseconds limit) {
  const std::string prefix = "{\"id\":" + std::to_string(next_id_) + ",";
  if (!Send(method, params_json)) return {};
  const auto deadline = Clock::now() + limit;
  for (;;) {
    std::string message = ReadMessage(deadline);
    if (message.empty() || message.rfind(prefix, 0) == 0) return message;
  }
}

std::string DevToolsSocket::Evaluate(const std::string& expression) {
  const std::string response = Call("Runtime.evaluate", "{\"expression\":\"" + EscapeJsonString(expression) +
                                                            "\",\"awaitPromise\":true,\"returnByValue\":true}");
  const std::size_t result = response.find("\"result\":{\"result\":{\"type\":\"string\",");
  if (result == std::string::npos || response.find("\"exceptionDetails\"") != std::string::npos) return response;
  return ReadStringField(std::string_view(response).substr(result), "value");
}

std::optional<DevToolsSocket> OpenBrowser(int port) {
  const HttpAnswer version = LoopbackGet(port, "/json/version", std::chrono::seconds(10));
  if (version.status != 200) return std::nullopt;
  return DevToolsSocket::Open(ReadStringField(version.body, "webSocketDebuggerUrl"));
}

std::optional<DevToolsSocket> OpenPage(int port, const std::string& url) {
  for (const auto& target : ListTargets(port)) {
    if (target.type == "page" && target.url == url) return DevToolsSocket::Open(target.socket_url);
  }
  return std::nullopt;
}

}  // namespace quillwave::test
