#include "platform/dispatch/task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/dispatch/executor.h"

namespace corvenza::dispatch {
namespace {

using namespace std::chrono_literals;

TEST(TaskTest, CompletedAndFailedTasksAreFinishedAtOnce) {
  auto done = Task<int>::completed(7);
  ASSERT_TRUE(done.isCompleted());
  EXPECT_EQ(done.outcome()->value(), 7);

  auto failed = Task<int>::failed(Error("D", 3));
  ASSERT_TRUE(failed.isCompleted());
  EXPECT_EQ(failed.outcome()->error().code(), 3);
}

TEST(TaskTest, ContinuationRunsOnceWhenFinishedAndFirstFinishWins) {
  auto source = Task<std::string>::pending();
  int calls = 0;
  std::string seen;
  source.task.continueWith([&](const auto& outcome) {
    ++calls;
    seen = outcome.value();
  });
  EXPECT_EQ(calls, 0);
  source.finish(std::string("a"));
  source.finish(std::string("b"));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, "a");
  // Registered after the fact: runs at once with the same outcome.
  source.task.continueWith([&](const auto& outcome) { seen += outcome.value(); });
  EXPECT_EQ(seen, "aa");
}

TEST(TaskTest, WaitHonoursItsLimit) {
  auto source = Task<int>::pending();
  EXPECT_FALSE(source.task.wait(std::optional<std::chrono::milliseconds>(10ms)).has_value());
  std::thread finisher([&] { source.finish(5); });
  auto outcome = source.task.wait();
  finisher.join();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->value(), 5);
}

TEST(TaskTest, RunExecutesOnTheExecutorThread) {
  ThreadPoolExecutor pool(2);
  auto caller = std::this_thread::get_id();
  auto task = Task<std::thread::id>::run(pool, [] { return std::this_thread::get_id(); });
  auto outcome = task.wait();
  ASSERT_TRUE(outcome && outcome->ok());
  EXPECT_NE(outcome->value(), caller);
}

TEST(ThreadPoolExecutorTest, ShutdownRunsQueuedWorkThenJoins) {
  std::atomic<int> count{0};
  {
    ThreadPoolExecutor pool(2);
    for (int i = 0; i < 50; ++i) pool.execute([&] { ++count; });
    pool.shutdown();
    pool.execute([&] { count += 1000; });  // dropped after shutdown
  }
  EXPECT_EQ(count.load(), 50);
}

}  // namespace
}  // namespace corvenza::dispatch
