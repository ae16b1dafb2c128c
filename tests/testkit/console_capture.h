#pragma once
// Captures the library's console lines for the life of the object.

#include <corvenza/console.h>

#include <mutex>
#include <string>
#include <vector>

namespace corvenza::test {

class ConsoleCapture {
 public:
  ConsoleCapture() {
    setConsoleSink([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~ConsoleCapture() { setConsoleSink(nullptr); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool contains(const std::string& needle) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
      if (line.find(needle) != std::string::npos) return true;
    }
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace corvenza::test
