// A fixed set of worker threads, each with its own recognition engine, fed from a bounded queue.
#pragma once

#include "service/cancellation.h"
#include "service/engine.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillore::service {

class WorkerPool {
public:
  // Makes one engine; called once on each worker thread. Returns nothing and fills the error when
  // the engine cannot start.
  using EngineFactory = std::function<std::unique_ptr<Engine>(std::string& error)>;
  // Runs on a worker with its engine, or with nullptr when the pool stops before the task ran.
  using Task = std::function<void(Engine* engine)>;

  WorkerPool() = default;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  // Starts `workers` threads and waits until every engine is loaded. On failure no thread is left
  // running and `error` says why.
  bool Start(const EngineFactory& factory, int workers, int queueLength, std::string& error);

  // Hands a task to a free worker or queues it. False when every worker is busy and the queue is
  // full, or the pool is stopping; the task is then dropped without running. A task whose
  // `cancellation` is set before a worker takes it is dropped without running; while it runs, it is
  // what Abandoned() reads on its worker.
  bool Submit(Task task, std::shared_ptr<const Cancellation> cancellation = nullptr);

  // Takes no more tasks and calls the queued ones with nullptr; running ones go on.
  void StopTaking();

  // Lets running tasks finish, calls the queued ones with nullptr, and joins the threads.
  void Stop();

  // Drops the queued tasks that were cancelled, so they hold no place in the queue.
  void Prune();

  // The pool's state at one moment.
  struct Load {
    int workers = 0;
    int idle = 0;
    int busy = 0;
    int queued = 0;
    int queueLength = 0;
    bool stopping = false;
  };
  Load CurrentLoad() const;

  int Workers() const { return workers_; }
  int Busy() const;
  int Queued() const;

private:
  struct Pending {
    Task task;
    std::shared_ptr<const Cancellation> cancellation;
    bool Cancelled() const { return cancellation && cancellation->Cancelled(); }
  };

  void Run(Engine* engine);
  void PruneLocked();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;
  std::vector<std::thread> threads_;
  std::size_t queueLength_ = 0;
  int workers_ = 0;
  int idle_ = 0;
  int busy_ = 0;
  bool stopping_ = false;
};

} // namespace quillore::service
