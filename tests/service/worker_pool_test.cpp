#include "fake_engine.h"
#include "service/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace quillore::service {
namespace {

using testing::FakeEngines;
using testing::Gate;

TEST(WorkerPool, RunsEveryTaskWithAnEngine) {
  WorkerPool pool;
  std::string error;
  ASSERT_TRUE(pool.Start(FakeEngines(std::make_shared<Gate>()), 2, 20, error)) << error;
  EXPECT_EQ(pool.Workers(), 2);
  std::atomic<int> withEngine{0}, done{0};
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(pool.Submit([&](Engine* engine) {
      withEngine += engine != nullptr;
      ++done;
    }));
  }
  for (int i = 0; i < 500 && done.load() < 20; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(withEngine.load(), 20);
  pool.Stop();
}

TEST(WorkerPool, RefusesWhenEveryWorkerIsBusyAndTheQueueIsFull) {
  auto gate = std::make_shared<Gate>(false);
  WorkerPool pool;
  std::string error;
  ASSERT_TRUE(pool.Start(FakeEngines(gate), 1, 2, error)) << error;
  std::atomic<int> ran{0};
  const auto task = [&](Engine* engine) {
    if (engine != nullptr) {
      gate->Pass();
      ++ran;
    }
  };
  ASSERT_TRUE(pool.Submit(task));
  gate->AwaitWaiting(1); // the one worker holds the first task
  EXPECT_EQ(pool.Busy(), 1);
  EXPECT_TRUE(pool.Submit(task));
  EXPECT_TRUE(pool.Submit(task));
  EXPECT_EQ(pool.Queued(), 2);
  EXPECT_FALSE(pool.Submit(task)); // worker busy, queue of two full
  gate->Open();
  for (int i = 0; i < 500 && ran.load() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ran.load(), 3); // the refused task never ran
  pool.Stop();
}

TEST(WorkerPool, StopCancelsQueuedTasksAndLetsTheRunningOneFinish) {
  auto gate = std::make_shared<Gate>(false);
  WorkerPool pool;
  std::string error;
  ASSERT_TRUE(pool.Start(FakeEngines(gate), 1, 4, error)) << error;
  std::atomic<int> finished{0}, cancelled{0};
  const auto task = [&](Engine* engine) {
    if (engine == nullptr) {
      ++cancelled;
      return;
    }
    gate->Pass();
    ++finished;
  };
  ASSERT_TRUE(pool.Submit(task));
  gate->AwaitWaiting(1);
  ASSERT_TRUE(pool.Submit(task));
  ASSERT_TRUE(pool.Submit(task));
  std::thread stopper([&] { pool.Stop(); });
  for (int i = 0; i < 500 && cancelled.load() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(cancelled.load(), 2); // cancelled while the first task still runs
  gate->Open();
  stopper.join();
  EXPECT_EQ(finished.load(), 1);
  EXPECT_FALSE(pool.Submit(task)); // a stopped pool takes nothing
}

TEST(WorkerPool, StartFailsWhenAnEngineCannotLoad) {
  std::atomic<int> made{0};
  WorkerPool pool;
  std::string error;
  const bool started = pool.Start(
      [&](std::string& engineError) -> std::unique_ptr<Engine> {
        if (made++ == 1) {
          engineError = "no language data";
          return nullptr;
        }
        return std::make_unique<testing::FakeEngine>(std::make_shared<Gate>());
      },
      3, 4, error);
  EXPECT_FALSE(started);
  EXPECT_EQ(error, "no language data");
  EXPECT_FALSE(pool.Submit([](Engine*) {}));
}

} // namespace
} // namespace quillore::service
