#pragma once

// MemoryAllowance is how much memory a request may take for what it decodes (certificates,
// messages), counted against the memory of the connection that asked: a structure that would not
// fit is not decoded, and the request fails as for an unreadable input. MemoryTake counts one
// decoded structure for as long as it lives.
//
// Example:
//   MemoryTake take(allowance, DecodedSizeEstimate(der));
//   if (!take.Taken()) return Refused();
//   ... decode; take.Keep() when the result stays with the request ...

#include <cstddef>
#include <utility>

namespace platform {

class MemoryAllowance {
 public:
  virtual ~MemoryAllowance() = default;
  // Take counts `bytes` more; false, with nothing counted, when they do not fit.
  virtual bool Take(size_t bytes) = 0;
  // Give returns `bytes` that were taken.
  virtual void Give(size_t bytes) = 0;
};

// FixedAllowance lets at most `limit` bytes be taken at once.
class FixedAllowance final : public MemoryAllowance {
 public:
  explicit FixedAllowance(size_t limit) : room(limit) {}
  bool Take(size_t bytes) override {
    if (bytes > room - taken) return false;
    taken += bytes;
    return true;
  }
  void Give(size_t bytes) override { taken -= bytes; }
  size_t Taken() const { return taken; }

 private:
  const size_t room;
  size_t taken = 0;
};

// MemoryTake takes `bytes` from `allowance` (none: nothing is counted and every take succeeds)
// and gives them back when it goes, unless kept. Move-only.
class MemoryTake {
 public:
  MemoryTake(MemoryAllowance* allowance, size_t bytes)
      : from(allowance), count(bytes), taken(allowance == nullptr || allowance->Take(bytes)) {}
  MemoryTake(MemoryTake&& other) noexcept
      : from(std::exchange(other.from, nullptr)), count(other.count), taken(other.taken) {}
  MemoryTake& operator=(MemoryTake&&) = delete;
  MemoryTake(const MemoryTake&) = delete;
  ~MemoryTake() {
    if (from != nullptr && taken) from->Give(count);
  }

  // Taken is false when the bytes did not fit.
  bool Taken() const { return taken; }
  // Keep leaves the bytes counted for as long as the allowance lives.
  void Keep() { from = nullptr; }

 private:
  MemoryAllowance* from;
  size_t count;
  bool taken;
};

}  // namespace platform
