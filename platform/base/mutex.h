#pragma once

// File: a mutex that clang's thread-safety analysis understands. Members that a mutex guards are
// declared GUARDED_BY(it); functions that must be called with it held say REQUIRES(it), those
// that take it themselves EXCLUDES(it). A clang build with -Wthread-safety (scripts/test runs
// one) then refuses code that touches guarded state without the lock. Other compilers see plain
// declarations.
//
// Example:
//   class Counter {
//    public:
//     void Add() EXCLUDES(mutex) {
//       const platform::MutexLock lock(mutex);
//       ++count;
//     }
//    private:
//     platform::Mutex mutex;
//     int count GUARDED_BY(mutex) = 0;
//   };

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define QUILMAREND_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUILMAREND_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) QUILMAREND_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY QUILMAREND_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) QUILMAREND_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) QUILMAREND_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) QUILMAREND_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) QUILMAREND_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) QUILMAREND_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QUILMAREND_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) QUILMAREND_THREAD_ANNOTATION(assert_capability(x))

namespace platform {

// Mutex is std::mutex with the analysis's annotations. It is also BasicLockable (lock, unlock),
// so that a std::condition_variable_any can wait on it while a MutexLock holds it.
class CAPABILITY("mutex") Mutex {
 public:
  void Lock() ACQUIRE() { mutex.lock(); }
  void Unlock() RELEASE() { mutex.unlock(); }
  void lock() ACQUIRE() { mutex.lock(); }
  void unlock() RELEASE() { mutex.unlock(); }
  // AssertHeld tells the analysis that this mutex is held where it cannot see it: the same mutex
  // reached through another path than the one that locked it.
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

 private:
  std::mutex mutex;
};

// MutexLock holds `mutex` for its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& held) ACQUIRE(held) : mutex(held) { mutex.Lock(); }
  ~MutexLock() RELEASE() { mutex.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex;
};

// CondVar waits for a change of state that a Mutex guards. Wait and WaitFor are called with the
// mutex held (a MutexLock in scope); they release it while they sleep and hold it again when
// they return, as std::condition_variable does with its lock.
class CondVar {
 public:
  template <class Predicate>
  void Wait(Mutex& mutex, Predicate ready) REQUIRES(mutex) {
    condition.wait(mutex, ready);
  }
  // WaitFor returns `ready()` as it is when the wait ends, at the latest after `limit`.
  template <class Predicate>
  bool WaitFor(Mutex& mutex, std::chrono::steady_clock::duration limit, Predicate ready)
      REQUIRES(mutex) {
    return condition.wait_for(mutex, limit, ready);
  }
  void NotifyAll() { condition.notify_all(); }
  void NotifyOne() { condition.notify_one(); }

 private:
  std::condition_variable_any condition;
};

}  // namespace platform
