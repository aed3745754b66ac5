#include "tests/e2e/site_server.h"

#include "tests/support/loopback.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace quillwave::test {

using platform::UniqueFd;

SiteServer::SiteServer(std::map<std::string, SitePage> pages) : pages_(std::move(pages)) {
  listener_ = BoundLoopbackSocket(port_);
  int wake[2];
  if (::listen(listener_.get(), 64) != 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot start the loopback site");
  }
  wake_read_.Reset(wake[0]);
  wake_write_.Reset(wake[1]);
  thread_ = std::thread([this] { Serve(); });
}

SiteServer::~SiteServer() {
  [[maybe_unused]] const auto written = ::write(wake_write_.get(), "x", 1);
  thread_.join();
}

std::string SiteServer::url(const std::string& path_and_query) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path_and_query;
}

std::vector<std::string> SiteServer::request_lines() const {
  std::lock_guard lock(mutex_);
  return request_lines_;
}

std::string SiteServer::Answer(const std::string& request_line) {
  {
    std::lock_guard lock(mutex_);
    request_lines_.push_back(request_line);
  }
  // "GET /path?query HTTP/1.1" -> "/path"
  const std::size_t start = request_line.find(' ') + 1;
  const std::size_t end = request_line.find_first_of(" ?", start);
  const auto page = pages_.find(request_line.substr(start, end - start));
  const bool found = page != pages_.end();
  const std::string body = found ? page->second.body : "not here";
  return std::string(found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
         "Content-Type: " + (found ? page->second.content_type : "text/plain") +
         "\r\nCache-Control: no-store\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

void SiteServer::Serve() {
  struct Client {
    UniqueFd socket;
    std::string head;
  };
  std::vector<Client> clients;
  for (;;) {
    std::vector<pollfd> entries{{wake_read_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
    for (const auto& client : clients) entries.push_back({client.socket.get(), POLLIN, 0});
    if (::poll(entries.data(), entries.size(), -1) < 0 && errno != EINTR) return;
    if (entries[0].revents != 0) return;
    for (std::size_t i = clients.size(); i-- > 0;) {
      if (entries[i + 2].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = ::read(clients[i].socket.get(), chunk, sizeof chunk);
      if (got > 0) clients[i].head.append(chunk, static_cast<std::size_t>(got));
      const bool complete = clients[i].head.find("\r\n\r\n") != std::string::npos;
      if (complete) {
        const std::string answer = Answer(clients[i].head.substr(0, clients[i].head.find("\r\n")));
        [[maybe_unused]] const auto sent = ::send(clients[i].socket.get(), answer.data(), answer.size(), MSG_NOSIGNAL);
      }
      if (complete || got <= 0 || clients[i].head.size() > 65536) clients.erase(clients.begin() + static_cast<long>(i));
    }
    if (entries[1].revents != 0) {
      UniqueFd socket(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (socket.valid()) clients.push_back({std::move(socket), {}});
    }
  }
}

}  // namespace quillwave::test
