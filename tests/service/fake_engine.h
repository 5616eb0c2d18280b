// An engine for the server tests: answers at once, or holds each picture until the test lets it go
// or nobody waits for it any more.
#pragma once

#include "service/cancellation.h"
#include "service/engine.h"
#include "service/worker_pool.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace quillore::service::testing {

// Shared by the engines of one pool: while closed, every recognition waits for Open().
class Gate {
public:
  explicit Gate(bool open = true) : open_(open) {}
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void Close() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  // Returns when the gate opens, or at once when the recognition was abandoned (then false), as a
  // real engine leaves at its next checkpoint.
  bool Pass() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    ++entered_;
    changed_.notify_all();
    while (!open_ && !Abandoned()) {
      changed_.wait_for(lock, std::chrono::milliseconds(10));
    }
    --waiting_;
    const bool passed = open_ && !Abandoned();
    ++(passed ? passed_ : abandoned_);
    changed_.notify_all();
    return passed;
  }
  // Waits until `count` recognitions are held at the gate.
  void AwaitWaiting(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_ >= count; });
  }
  // Waits until `count` recognitions left the gate abandoned; false after `limit`.
  bool AwaitAbandoned(int count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return abandoned_ >= count; });
  }
  int Passed() {
    std::lock_guard lock(mutex_);
    return passed_;
  }
  // Recognitions that reached the engine, whatever became of them.
  int Entered() {
    std::lock_guard lock(mutex_);
    return entered_;
  }
  int AbandonedCount() {
    std::lock_guard lock(mutex_);
    return abandoned_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_;
  int waiting_ = 0;
  int passed_ = 0;
  int entered_ = 0;
  int abandoned_ = 0;
};

// Recognises one line, "picture WxH", boxed around the whole picture.
class FakeEngine : public Engine {
public:
  explicit FakeEngine(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
  std::vector<RecognizedLine> Recognize(const PictureView& picture) override;

private:
  std::shared_ptr<Gate> gate_;
};

WorkerPool::EngineFactory FakeEngines(std::shared_ptr<Gate> gate);

} // namespace quillore::service::testing
