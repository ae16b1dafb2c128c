#include "platform/dispatch/default_main_queue.h"

#include <mutex>
#include <utility>

namespace corvenza::dispatch {

namespace {

std::mutex& slotMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<MainQueue>& slot() {
  static std::shared_ptr<MainQueue> queue;
  return queue;
}

}  // namespace

std::shared_ptr<MainQueue> defaultMainQueue() {
  std::lock_guard lock(slotMutex());
  if (!slot()) slot() = MainQueue::startOnOwnThread();
  return slot();
}

void setDefaultMainQueue(std::shared_ptr<MainQueue> queue) {
  std::shared_ptr<MainQueue> previous;
  {
    std::lock_guard lock(slotMutex());
    previous = std::exchange(slot(), std::move(queue));
  }
  // The previous queue is released here, outside the lock.
}

void stopDefaultMainQueue() {
  std::shared_ptr<MainQueue> queue;
  {
    std::lock_guard lock(slotMutex());
    queue = slot();
  }
  if (queue) queue->stop();
}

}  // namespace corvenza::dispatch
