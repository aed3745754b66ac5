// A small client of the engine's remote-debugging (DevTools) endpoint on
// loopback: plain HTTP GET for the /json pages and a WebSocket (text frames,
// masked as a client must, no TLS) for protocol commands. Every wait is
// bounded; failures come back as empty values.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace quillwave::test {

struct HttpAnswer {
  int status = 0;  // 0: nobody answered
  std::string body;
};

// GET http://127.0.0.1:port/path, with the connection closed after one answer.
HttpAnswer LoopbackGet(int port, const std::string& path, std::chrono::milliseconds limit);

struct DevToolsTarget {
  std::string type;  // "page", "browser_ui", ...
  std::string url;
  std::string socket_url;  // ws://127.0.0.1:PORT/devtools/...
};

// The targets /json/list names (empty when the endpoint does not answer).
std::vector<DevToolsTarget> ListTargets(int port);
// The URLs of the page targets only.
std::vector<std::string> PageUrls(int port);

// One WebSocket to one DevTools target.
class DevToolsSocket {
 public:
  // Connects and completes the upgrade, or gives nothing.
  static std::optional<DevToolsSocket> Open(const std::string& socket_url);

  // Sends one command and gives its response message, or "" when none came
  // before the limit. Events that arrive meanwhile are skipped.
  std::string Call(const std::string& method, const std::string& params_json = "{}",
                   std::chrono::milliseconds limit = std::chrono::seconds(20));

  // Runtime.evaluate with awaitPromise and returnByValue: the string the
  // expression gave, or the whole response when it gave none, so that a
  // failed comparison shows why.
  std::string Evaluate(const std::string& expression);

  // Sends one command without waiting for an answer (Browser.close ends the
  // connection instead of answering).
  bool Send(const std::string& method, const std::string& params_json = "{}");

 private:
  explicit DevToolsSocket(platform::UniqueFd socket) : socket_(std::move(socket)) {}
  bool SendText(const std::string& text);
  std::string ReadMessage(std::chrono::steady_clock::time_point deadline);
  bool Fill(std::size_t count, std::chrono::steady_clock::time_point deadline);

  platform::UniqueFd socket_;
  std::string buffer_;  // bytes received and not yet consumed
  int next_id_ = 1;
};

// The browser-wide target's socket (from /json/version).
std::optional<DevToolsSocket> OpenBrowser(int port);
// The socket of the first page target whose URL is `url`.
std::optional<DevToolsSocket> OpenPage(int port, const std::string& url);

}  // namespace quillwave::test
