#include "base/log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace corvenza::emulator {

void logLine(std::string_view line) {
  static std::mutex mutex;
  std::string text = "[emulator] ";
  text.append(line);
  text += '\n';
  std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace corvenza::emulator
