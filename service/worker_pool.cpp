#include "service/worker_pool.h"

#include <future>

namespace quillore::service {

WorkerPool::~WorkerPool() {
  Stop();
}

bool WorkerPool::Start(const EngineFactory& factory, int workers, int queueLength, std::string& error) {
  if (workers < 1 || queueLength < 0) {
    error = "the pool needs at least one worker";
    return false;
  }
  queueLength_ = static_cast<std::size_t>(queueLength);
  workers_ = workers;
  std::vector<std::future<std::string>> started;
  for (int i = 0; i < workers; ++i) {
    auto ready = std::make_shared<std::promise<std::string>>();
    started.push_back(ready->get_future());
    // Engines are made on their own thread: loading the models takes a while and runs in parallel.
    threads_.emplace_back([this, factory, ready] {
      std::string engineError;
      std::unique_ptr<Engine> engine = factory(engineError);
      if (!engine) {
        ready->set_value(engineError.empty() ? "the engine did not start" : engineError);
        return;
      }
      ready->set_value({});
      Run(engine.get());
    });
  }
  for (auto& one : started) {
    std::string message = one.get();
    if (!message.empty() && error.empty()) {
      error = message;
    }
  }
  if (!error.empty()) {
    Stop();
    return false;
  }
  return true;
}

bool WorkerPool::Submit(Task task, std::shared_ptr<const Cancellation> cancellation) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || threads_.empty()) {
      return false;
    }
    PruneLocked();
    // A task may wait only when the queue has room beyond what idle workers take at once.
    const std::size_t waiting = queue_.size();
    if (waiting >= static_cast<std::size_t>(idle_) + queueLength_) {
      return false;
    }
    queue_.push_back({std::move(task), std::move(cancellation)});
  }
  wake_.notify_one();
  return true;
}

void WorkerPool::Run(Engine* engine) {
  std::unique_lock lock(mutex_);
  ++idle_;
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) {
      break; // stopping and nothing left
    }
    Pending next = std::move(queue_.front());
    queue_.pop_front();
    if (next.Cancelled()) {
      continue; // nobody waits for it: the engine never sees it
    }
    --idle_;
    ++busy_;
    lock.unlock();
    {
      // Taken before a stop: it runs to its end, or to the first checkpoint after a cancellation.
      const CurrentCancellation current(next.cancellation.get());
      next.task(engine);
    }
    next = {};
    lock.lock();
    --busy_;
    ++idle_;
  }
  --idle_;
}

void WorkerPool::StopTaking() {
  std::deque<Pending> cancelled;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    cancelled.swap(queue_);
  }
  wake_.notify_all();
  for (Pending& one : cancelled) {
    one.task(nullptr);
  }
}

void WorkerPool::Stop() {
  StopTaking();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) {
      thread.join();
    }
  }
  threads_.clear();
}

void WorkerPool::Prune() {
  std::lock_guard lock(mutex_);
  PruneLocked();
}

void WorkerPool::PruneLocked() {
  std::erase_if(queue_, [](const Pending& one) { return one.Cancelled(); });
}

int WorkerPool::Busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

WorkerPool::Load WorkerPool::CurrentLoad() const {
  std::lock_guard lock(mutex_);
  return {workers_, idle_, busy_, static_cast<int>(queue_.size()), static_cast<int>(queueLength_), stopping_};
}

int WorkerPool::Queued() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size());
}

} // namespace quillore::service
