// An engine for the server tests: answers at once, or holds each picture until the test lets it go.
#pragma once

#include "service/engine.h"
#include "service/worker_pool.h"

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
  void Pass() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    --waiting_;
    ++passed_;
  }
  // Waits until `count` recognitions are held at the gate.
  void AwaitWaiting(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_ >= count; });
  }
  int Passed() {
    std::lock_guard lock(mutex_);
    return passed_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_;
  int waiting_ = 0;
  int passed_ = 0;
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
