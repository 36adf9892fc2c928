#pragma once

// UniqueFd owns a file descriptor and closes it in its destructor. Move-only; -1 means none.
//
// Example:
//   platform::UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
//   if (!fd) return false;

#include <utility>

namespace platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int owned) : fd(owned) {}
  UniqueFd(UniqueFd&& other) noexcept : fd(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd; }
  explicit operator bool() const { return fd >= 0; }
  // release gives up ownership and returns the descriptor.
  int release() { return std::exchange(fd, -1); }
  // reset closes the held descriptor, if any, and holds `next` instead.
  void reset(int next = -1);

 private:
  int fd = -1;
};

}  // namespace platform
