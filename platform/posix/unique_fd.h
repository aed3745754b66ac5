// Owner of a POSIX file descriptor: closed exactly once, movable, not copyable.
#pragma once

#include <unistd.h>

#include <utility>

namespace quillwave::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  // Closes the current descriptor; returns false when close() reported an error.
  bool Reset(int fd = -1) {
    bool ok = true;
    if (fd_ >= 0) ok = ::close(fd_) == 0;
    fd_ = fd;
    return ok;
  }

 private:
  int fd_ = -1;
};

}  // namespace quillwave::platform
