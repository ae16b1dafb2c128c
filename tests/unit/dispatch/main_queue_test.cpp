#include <corvenza/main_queue.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "testkit/fake_clock.h"

namespace corvenza {
namespace {

using namespace std::chrono_literals;

TEST(MainQueueTest, RunsTasksInOrderOfArrival) {
  auto queue = MainQueue::callerDriven();
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) queue->async([&order, i] { order.push_back(i); });
  EXPECT_TRUE(order.empty());  // nothing runs inline
  EXPECT_EQ(queue->runPending(), 5u);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(MainQueueTest, TasksQueuedByTasksRunInTheSameDrain) {
  auto queue = MainQueue::callerDriven();
  std::vector<int> order;
  queue->async([&] {
    order.push_back(1);
    queue->async([&] { order.push_back(3); });
  });
  queue->async([&] { order.push_back(2); });
  queue->runPending();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MainQueueTest, FakeClockFiresA45SecondDelayInstantly) {
  auto clock = std::make_shared<test::FakeClock>();
  auto queue = MainQueue::callerDriven(clock);
  bool fired = false;
  auto item = std::make_shared<DispatchWorkItem>([&] { fired = true; });
  queue->asyncAfter(45s, item);
  clock->advance(44'999ms);
  queue->runPending();
  EXPECT_FALSE(fired);
  clock->advance(1ms);
  queue->runPending();
  EXPECT_TRUE(fired);
  EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST(MainQueueTest, DelayedTasksRunByDeadlineThenArrival) {
  auto clock = std::make_shared<test::FakeClock>();
  auto queue = MainQueue::callerDriven(clock);
  std::vector<std::string> order;
  queue->asyncAfter(2s, [&] { order.push_back("late"); });
  queue->asyncAfter(1s, [&] { order.push_back("early-a"); });
  queue->asyncAfter(1s, [&] { order.push_back("early-b"); });
  queue->async([&] { order.push_back("now"); });
  clock->advance(5s);
  queue->runPending();
  EXPECT_EQ(order, (std::vector<std::string>{"now", "early-a", "early-b", "late"}));
}

TEST(MainQueueTest, CancelledWorkItemNeverRuns) {
  auto clock = std::make_shared<test::FakeClock>();
  auto queue = MainQueue::callerDriven(clock);
  int runs = 0;
  auto item = std::make_shared<DispatchWorkItem>([&] { ++runs; });
  queue->asyncAfter(45s, item);
  item->cancel();
  EXPECT_TRUE(item->isCancelled());
  clock->advance(60s);
  queue->runPending();
  EXPECT_EQ(runs, 0);
}

TEST(MainQueueTest, WorkItemRunsAtMostOnce) {
  int runs = 0;
  DispatchWorkItem item([&] { ++runs; });
  item.perform();
  item.perform();
  item.cancel();  // too late to matter
  EXPECT_EQ(runs, 1);
}

TEST(MainQueueTest, ThrowingTaskDoesNotStopTheQueue) {
  auto queue = MainQueue::callerDriven();
  bool after = false;
  queue->async([] { throw std::runtime_error("boom"); });
  queue->async([&] { after = true; });
  queue->runPending();
  EXPECT_TRUE(after);
}

TEST(MainQueueTest, OwnThreadRunsTasksSeriallyOffTheCaller) {
  auto queue = MainQueue::startOnOwnThread();
  std::promise<std::thread::id> ran;
  queue->async([&] { ran.set_value(std::this_thread::get_id()); });
  auto id = ran.get_future().get();
  EXPECT_NE(id, std::this_thread::get_id());

  std::atomic<int> inside{0};
  std::atomic<int> maxInside{0};
  std::promise<void> done;
  for (int i = 0; i < 100; ++i) {
    queue->async([&, i] {
      int now = ++inside;
      maxInside = std::max(maxInside.load(), now);
      --inside;
      if (i == 99) done.set_value();
    });
  }
  done.get_future().get();
  EXPECT_EQ(maxInside.load(), 1);
  queue->stop();
}

TEST(MainQueueTest, IsCurrentOnlyInsideItsTasks) {
  auto queue = MainQueue::callerDriven();
  auto other = MainQueue::callerDriven();
  EXPECT_FALSE(queue->isCurrent());
  bool inside = false;
  bool otherInside = true;
  queue->async([&] {
    inside = queue->isCurrent();
    otherInside = other->isCurrent();
  });
  queue->runPending();
  EXPECT_TRUE(inside);
  EXPECT_FALSE(otherInside);
}

TEST(MainQueueTest, AdapterPostsDueTasksOntoTheApplicationLoop) {
  std::mutex mutex;
  std::vector<MainQueue::Task> loop;
  auto queue = MainQueue::adapter([&](MainQueue::Task task) {
    std::lock_guard lock(mutex);
    loop.push_back(std::move(task));
  });
  bool ran = false;
  bool wasCurrent = false;
  queue->async([&] {
    ran = true;
    wasCurrent = queue->isCurrent();
  });
  std::vector<MainQueue::Task> tasks;
  {
    std::lock_guard lock(mutex);
    tasks.swap(loop);
  }
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_FALSE(ran);
  tasks[0]();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(wasCurrent);
  queue->stop();
}

TEST(MainQueueTest, StopDropsPendingWorkAndLaterTasks) {
  auto queue = MainQueue::callerDriven();
  int runs = 0;
  queue->async([&] { ++runs; });
  queue->stop();
  queue->async([&] { ++runs; });
  EXPECT_EQ(queue->runPending(), 0u);
  EXPECT_EQ(runs, 0);
}

TEST(MainQueueTest, RunUntilStopsWhenDone) {
  auto queue = MainQueue::callerDriven();
  std::atomic<bool> flag{false};
  std::thread producer([&] { queue->async([&] { flag = true; }); });
  EXPECT_TRUE(queue->runUntil([&] { return flag.load(); }, 5s));
  producer.join();
}

}  // namespace
}  // namespace corvenza
