// Owners of Win32 handles: closed exactly once, movable, not copyable.
// Handles whose invalid value is null (processes, threads) and those whose
// invalid value is INVALID_HANDLE_VALUE (files from CreateFileW) get separate
// types so that neither can be checked against the wrong sentinel.
#pragma once

#include <windows.h>

#include <utility>

namespace quillwave::platform {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.h_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr; }
  void Reset(HANDLE h = nullptr) {
    if (h_ != nullptr) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// File handles from CreateFileW are invalid as INVALID_HANDLE_VALUE.
class UniqueFileHandle {
 public:
  UniqueFileHandle() = default;
  explicit UniqueFileHandle(HANDLE h) : h_(h) {}
  UniqueFileHandle(UniqueFileHandle&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
  UniqueFileHandle& operator=(UniqueFileHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.h_, INVALID_HANDLE_VALUE));
    return *this;
  }
  UniqueFileHandle(const UniqueFileHandle&) = delete;
  UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
  ~UniqueFileHandle() { Reset(); }

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    bool ok = true;
    if (h_ != INVALID_HANDLE_VALUE) ok = ::CloseHandle(h_) != 0;
    h_ = h;
    return ok;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace quillwave::platform
