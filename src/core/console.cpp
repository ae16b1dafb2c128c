#include <corvenza/console.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace corvenza {

namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<ConsoleSink>& sinkSlot() {
  static std::shared_ptr<ConsoleSink> slot;
  return slot;
}

}  // namespace

void setConsoleSink(ConsoleSink sink) {
  std::lock_guard lock(sinkMutex());
  sinkSlot() = sink ? std::make_shared<ConsoleSink>(std::move(sink)) : nullptr;
}

void consoleLine(std::string_view line) {
  std::shared_ptr<ConsoleSink> sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = sinkSlot();
  }
  if (sink) {
    (*sink)(line);
    return;
  }
  // One write per line so that lines of different threads do not interleave.
  std::string text(line);
  text.push_back('\n');
  std::lock_guard lock(sinkMutex());
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace corvenza
