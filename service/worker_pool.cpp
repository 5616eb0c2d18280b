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

bool WorkerPool::Submit(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || threads_.empty()) {
      return false;
    }
    // A task may wait only when the queue has room beyond what idle workers take at once.
    const std::size_t waiting = queue_.size();
    if (waiting >= static_cast<std::size_t>(idle_) + queueLength_) {
      return false;
    }
    queue_.push_back(std::move(task));
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
    Task task = std::move(queue_.front());
    queue_.pop_front();
    --idle_;
    ++busy_;
    lock.unlock();
    task(engine); // taken before a stop: it runs to its end
    lock.lock();
    --busy_;
    ++idle_;
  }
  --idle_;
}

void WorkerPool::Stop() {
  std::deque<Task> cancelled;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    cancelled.swap(queue_);
  }
  wake_.notify_all();
  for (Task& task : cancelled) {
    task(nullptr);
  }
  for (std::thread& thread : threads_) {
    if (thread.joinable()) {
      thread.join();
    }
  }
  threads_.clear();
}

int WorkerPool::Busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

int WorkerPool::Queued() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size());
}

} // namespace quillore::service
