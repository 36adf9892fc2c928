#include "api/check_pool.h"

#include <algorithm>
#include <deque>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/base/mutex.h"

namespace api {

// Shared is what the pool's threads use; each holds it, so it outlives a thread left running.
struct CheckPool::Shared {
  platform::Mutex lock;
  platform::CondVar changed;
  std::deque<PoolTask> line GUARDED_BY(lock);
  bool stopping GUARDED_BY(lock) = false;
  int busy GUARDED_BY(lock) = 0;
  int alive GUARDED_BY(lock) = 0;  // threads not yet ended
  std::vector<std::thread> threads GUARDED_BY(lock);

  void Run() EXCLUDES(lock) {
    while (true) {
      PoolTask task;
      {
        const platform::MutexLock guard(lock);
        changed.Wait(lock, [this]() REQUIRES(lock) { return stopping || !line.empty(); });
        if (line.empty()) {  // stopping
          --alive;
          changed.NotifyAll();
          return;
        }
        task = std::move(line.front());
        line.pop_front();
        ++busy;
      }
      task.run();
      task = {};  // what the task held goes before the pool hears of its end
      const platform::MutexLock guard(lock);
      --busy;
    }
  }
};

CheckPool::CheckPool(int workerCount, size_t waitingLimit)
    : workers(workerCount), maxWaiting(waitingLimit), shared(std::make_shared<Shared>()) {}

CheckPoolStart CheckPool::Start(int workers, size_t maxWaiting) {
  std::unique_ptr<CheckPool> pool(new CheckPool(std::max(workers, 1), maxWaiting));
  Shared& shared = *pool->shared;
  for (int i = 0; i < pool->workers; ++i) {
    try {
      const platform::MutexLock guard(shared.lock);
      shared.threads.emplace_back([state = pool->shared] { state->Run(); });
      ++shared.alive;
    } catch (const std::system_error& error) {
      return std::string("thread: ") + error.what();
    }
  }
  return pool;
}

CheckPool::~CheckPool() { Stop(std::chrono::milliseconds(0)); }

bool CheckPool::Submit(PoolTask& task) {
  {
    const platform::MutexLock guard(shared->lock);
    // Tasks about to be taken by a free thread do not count as waiting.
    if (shared->stopping || shared->line.size() + static_cast<size_t>(shared->busy) >=
                                maxWaiting + static_cast<size_t>(workers)) {
      return false;
    }
    shared->line.push_back(std::move(task));
  }
  shared->changed.NotifyOne();
  return true;
}

int CheckPool::Stop(std::chrono::milliseconds allowance) {
  if (stuck >= 0) return stuck;
  std::deque<PoolTask> dropped;
  {
    const platform::MutexLock guard(shared->lock);
    shared->stopping = true;
    dropped.swap(shared->line);
  }
  shared->changed.NotifyAll();
  for (PoolTask& task : dropped) task.drop();
  std::vector<std::thread> threads;
  bool allEnded = false;
  Shared& state = *shared;
  {
    const platform::MutexLock guard(state.lock);
    allEnded = state.changed.WaitFor(state.lock, allowance,
                                     [&state]() REQUIRES(state.lock) { return state.alive == 0; });
    stuck = state.busy;
    threads = std::move(state.threads);
  }
  for (std::thread& thread : threads) {
    if (allEnded) {
      thread.join();
    } else {
      thread.detach();  // it holds what it uses
    }
  }
  return stuck;
}

int CheckPool::Busy() const {
  const platform::MutexLock guard(shared->lock);
  return shared->busy;
}

size_t CheckPool::Waiting() const {
  const platform::MutexLock guard(shared->lock);
  return shared->line.size();
}

}  // namespace api
