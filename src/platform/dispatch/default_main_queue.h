#pragma once
// The process's default main queue: the one queue applications share unless
// they hand a client a queue of their own. Made on first use, on a thread the
// library owns.

#include <corvenza/main_queue.h>

#include <memory>

namespace corvenza::dispatch {

/// The queue set with setDefaultMainQueue(), else one started on its own
/// thread at the first call. Thread-safe.
std::shared_ptr<MainQueue> defaultMainQueue();

/// Replaces the default queue; nullptr lets the next call start a new one.
void setDefaultMainQueue(std::shared_ptr<MainQueue> queue);

/// Stops the default queue's thread, if one was made. Thread-safe.
void stopDefaultMainQueue();

}  // namespace corvenza::dispatch
