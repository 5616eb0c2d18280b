// Why a recognition should stop early, and the cheap checkpoint engines call between their stages.
#pragma once

#include <atomic>
#include <chrono>

namespace quillore::service {

// Shared by a request and the task that serves it: set when its client went away, its deadline
// passed or the service stops waiting for it. Nobody reads the answer of a cancelled task.
class Cancellation {
public:
  using Clock = std::chrono::steady_clock;

  Cancellation() = default;
  explicit Cancellation(Clock::time_point deadline) : deadline_(deadline) {}

  void Cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
  // True once cancelled or past the deadline.
  bool Cancelled() const noexcept {
    return cancelled_.load(std::memory_order_relaxed) || Clock::now() >= deadline_;
  }
  Clock::time_point Deadline() const noexcept { return deadline_; }

private:
  std::atomic<bool> cancelled_{false};
  Clock::time_point deadline_ = Clock::time_point::max();
};

namespace detail {
// The cancellation of the task this thread runs, set by the worker pool around each task, so engines
// need no extra parameter to look at it.
inline thread_local const Cancellation* currentCancellation = nullptr;
} // namespace detail

// The checkpoint: true when nobody waits for the task this thread runs any more. An engine that sees
// it may return what it has; the answer is thrown away. False outside a worker.
inline bool Abandoned() noexcept {
  return detail::currentCancellation != nullptr && detail::currentCancellation->Cancelled();
}

// The cancellation Abandoned() reads on this thread, for an engine that spreads a task over threads of
// its own: they look at it instead. Null outside a worker.
inline const Cancellation* ThisThreadsCancellation() noexcept {
  return detail::currentCancellation;
}

// Makes `cancellation` the one Abandoned() reads on this thread until the end of the scope.
class CurrentCancellation {
public:
  explicit CurrentCancellation(const Cancellation* cancellation) : previous_(detail::currentCancellation) {
    detail::currentCancellation = cancellation;
  }
  ~CurrentCancellation() { detail::currentCancellation = previous_; }
  CurrentCancellation(const CurrentCancellation&) = delete;
  CurrentCancellation& operator=(const CurrentCancellation&) = delete;

private:
  const Cancellation* previous_;
};

} // namespace quillore::service
