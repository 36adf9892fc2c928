#include "api/check_pool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace api {

// Shared is what the pool's threads use; each holds it, so it outlives a thread left running.
struct CheckPool::Shared {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<PoolTask> line;  // guarded by `lock`
  bool stopping = false;      // guarded by `lock`
  int busy = 0;               // guarded by `lock`
  int alive = 0;              // threads not yet ended; guarded by `lock`
  std::vector<std::thread> threads;

  void Run() {
    std::unique_lock guard(lock);
    while (true) {
      changed.wait(guard, [this] { return stopping || !line.empty(); });
      if (line.empty()) break;  // stopping
      PoolTask task = std::move(line.front());
      line.pop_front();
      ++busy;
      guard.unlock();
      task.run();
      task = {};  // what the task held goes before the pool hears of its end
      guard.lock();
      --busy;
    }
    --alive;
    changed.notify_all();
  }
};

CheckPool::CheckPool(int workerCount, size_t waitingLimit)
    : workers(workerCount), maxWaiting(waitingLimit), shared(std::make_shared<Shared>()) {}

CheckPoolStart CheckPool::Start(int workers, size_t maxWaiting) {
  std::unique_ptr<CheckPool> pool(new CheckPool(std::max(workers, 1), maxWaiting));
  Shared& shared = *pool->shared;
  for (int i = 0; i < pool->workers; ++i) {
    try {
      const std::lock_guard guard(shared.lock);
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
    const std::lock_guard guard(shared->lock);
    // Tasks about to be taken by a free thread do not count as waiting.
    if (shared->stopping || shared->line.size() + static_cast<size_t>(shared->busy) >=
                                maxWaiting + static_cast<size_t>(workers)) {
      return false;
    }
    shared->line.push_back(std::move(task));
  }
  shared->changed.notify_one();
  return true;
}

int CheckPool::Stop(std::chrono::milliseconds allowance) {
  if (stuck >= 0) return stuck;
  std::deque<PoolTask> dropped;
  std::unique_lock guard(shared->lock);
  shared->stopping = true;
  dropped.swap(shared->line);
  shared->changed.notify_all();
  guard.unlock();
  for (PoolTask& task : dropped) task.drop();
  guard.lock();
  shared->changed.wait_for(guard, allowance, [this] { return shared->alive == 0; });
  stuck = shared->busy;
  const bool allEnded = shared->alive == 0;
  std::vector<std::thread> threads = std::move(shared->threads);
  guard.unlock();
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
  const std::lock_guard guard(shared->lock);
  return shared->busy;
}

size_t CheckPool::Waiting() const {
  const std::lock_guard guard(shared->lock);
  return shared->line.size();
}

}  // namespace api
