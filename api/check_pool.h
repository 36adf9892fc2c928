#pragma once

// CheckPool runs verifications on a fixed number of threads, with a bounded line of tasks
// waiting for one: a task that finds the line full is refused at once, so that a client learns
// to come back instead of waiting behind more work than the pool can do soon. The stop drops the
// waiting tasks (each is told) and waits a while for the running ones; a task still running then
// is left to end on its own, and everything it uses must live as long as it does.
//
// Example:
//   auto pool = CheckPool::Start(2, 100);
//   if (!pool->Submit({.run = [] { Verify(); }, .drop = [] { AnswerStopping(); }})) Busy();
//   const int stuck = pool->Stop(std::chrono::seconds(10));

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace api {

struct PoolTask {
  std::function<void()> run;   // on a pool thread
  std::function<void()> drop;  // when the stop takes it from the line
};

class CheckPool;
// CheckPoolStart is a running pool, or why it could not start.
using CheckPoolStart = std::variant<std::unique_ptr<CheckPool>, std::string>;

class CheckPool {
 public:
  // Start runs `workers` threads (at least one) taking tasks from a line of at most `maxWaiting`.
  static CheckPoolStart Start(int workers, size_t maxWaiting);
  // Stops, as Stop does with no allowance.
  ~CheckPool();
  CheckPool(const CheckPool&) = delete;
  CheckPool& operator=(const CheckPool&) = delete;

  // Submit queues `task`; false, and `task` untouched, when the line is full or the pool stops.
  bool Submit(PoolTask& task);
  // Stop refuses new tasks, drops the waiting ones, and waits at most `allowance` for the
  // running ones. Returns how many were still running then; their threads are left to end.
  int Stop(std::chrono::milliseconds allowance);

  int Workers() const { return workers; }
  size_t MaxWaiting() const { return maxWaiting; }
  // Busy and Waiting are the tasks running and waiting now.
  int Busy() const;
  size_t Waiting() const;

 private:
  struct Shared;
  CheckPool(int workerCount, size_t waitingLimit);

  const int workers;
  const size_t maxWaiting;
  std::shared_ptr<Shared> shared;
  int stuck = -1;  // -1 until stopped
};

}  // namespace api
