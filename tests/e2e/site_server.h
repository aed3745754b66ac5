// A tiny web site on 127.0.0.1 for the engine to visit: fixed pages by
// path, served on its own thread to any number of connections at once
// (the engine opens spare connections it may never use).
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace quillwave::test {

struct SitePage {
  std::string content_type;
  std::string body;
};

class SiteServer {
 public:
  // Pages by path without the query ("/", "/sw.js"); others get 404.
  explicit SiteServer(std::map<std::string, SitePage> pages);
  ~SiteServer();
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path_and_query) const;
  // The request lines received so far ("GET /?a=1 HTTP/1.1").
  std::vector<std::string> request_lines() const;

 private:
  void Serve();
  std::string Answer(const std::string& request_line);

  std::map<std::string, SitePage> pages_;
  platform::UniqueFd listener_, wake_read_, wake_write_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> request_lines_;
  std::thread thread_;
};

}  // namespace quillwave::test
