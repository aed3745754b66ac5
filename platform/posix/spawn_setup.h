// Pieces of a child start on POSIX: the posix_spawn attribute and
// file-action objects with their owner and a clean signal state (the
// engine's start), and the argument list in the system's form (every start).
#pragma once

#include <signal.h>
#include <spawn.h>

#include <string>
#include <vector>

#include "platform/encoding.h"

namespace quillwave::platform {

class SpawnSetup {
 public:
  SpawnSetup() {
    attributes_ok_ = ::posix_spawnattr_init(&attributes_) == 0;
    actions_ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnSetup() {
    if (attributes_ok_) ::posix_spawnattr_destroy(&attributes_);
    if (actions_ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool ok() const { return attributes_ok_ && actions_ok_; }
  posix_spawnattr_t* attributes() { return &attributes_; }
  posix_spawn_file_actions_t* actions() { return &actions_; }

  // Default signal dispositions and an empty mask, whatever the caller had;
  // `extra_flags` adds e.g. POSIX_SPAWN_SETSID.
  void ResetSignals(short extra_flags) {
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setsigdefault(&attributes_, &all);
    ::posix_spawnattr_setflags(&attributes_,
                               static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | extra_flags));
  }

 private:
  posix_spawnattr_t attributes_{};
  posix_spawn_file_actions_t actions_{};
  bool attributes_ok_ = false;
  bool actions_ok_ = false;
};

// A null-terminated argv whose strings live as long as the object.
class NativeArgv {
 public:
  explicit NativeArgv(const std::vector<std::wstring>& arguments) {
    storage_.reserve(arguments.size());
    for (const auto& argument : arguments) storage_.push_back(WideToBytes(argument));
    for (auto& argument : storage_) pointers_.push_back(argument.data());
    pointers_.push_back(nullptr);
  }
  char* const* get() const { return pointers_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
};

}  // namespace quillwave::platform
