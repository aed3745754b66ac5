// One owner for every system resource the project's programs hold (handles,
// file descriptors, GDI objects, the service's sockets): closed exactly
// once, movable, not copyable.
// `Traits` gives the resource's type, its invalid value and how to close it:
//   struct Traits {
//     using Value = ...;
//     static Value Invalid();
//     static bool Close(Value value);  // true when the system reported no error
//   };
#pragma once

#include <utility>

namespace quillwave {

template <typename Traits>
class UniqueOwner {
 public:
  using Value = typename Traits::Value;

  UniqueOwner() = default;
  explicit UniqueOwner(Value value) : value_(value) {}
  UniqueOwner(UniqueOwner&& other) noexcept : value_(other.Release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  ~UniqueOwner() { Reset(); }

  Value get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }

  // Gives the resource up without closing it.
  Value Release() { return std::exchange(value_, Traits::Invalid()); }

  // Closes the current resource, if any, and takes `value`; false when
  // closing reported an error.
  bool Reset(Value value = Traits::Invalid()) {
    bool closed = true;
    if (valid()) closed = Traits::Close(value_);
    value_ = value;
    return closed;
  }

 private:
  Value value_ = Traits::Invalid();
};

}  // namespace quillwave
