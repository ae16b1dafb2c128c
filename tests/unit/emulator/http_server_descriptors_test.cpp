// A server out of file descriptors waits instead of spinning on accept, keeps
// serving the connections it has, and takes the queued one once descriptors
// are free again.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "server/http_server.h"
#include "testkit/raw_connection.h"

namespace corvenza::emulator {
namespace {

using namespace std::chrono_literals;
using test::RawConnection;

class OkService : public Service {
 public:
  std::string_view name() const override { return "ok"; }
  Response handle(const Request&) override {
    Response response;
    response.body = "ok";
    return response;
  }
};

int highestOpenDescriptor() {
  int highest = 2;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') highest = std::max(highest, std::atoi(entry->d_name));
    }
    closedir(dir);
  }
  return highest;
}

// Lowers the soft descriptor limit just above what is open and fills the
// rest; frees them and restores the limit when done.
class DescriptorSqueeze {
 public:
  DescriptorSqueeze() {
    getrlimit(RLIMIT_NOFILE, &original_);
    rlimit lowered = original_;
    lowered.rlim_cur = static_cast<rlim_t>(highestOpenDescriptor() + 16);
    lowered_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    for (;;) {
      const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        exhausted_ = errno == EMFILE;
        break;
      }
      fillers_.push_back(fd);
    }
  }
  ~DescriptorSqueeze() {
    release();
    setrlimit(RLIMIT_NOFILE, &original_);
  }
  bool full() const { return lowered_ && exhausted_ && !fillers_.empty(); }
  /// Frees one descriptor for the test's own use.
  void spare() {
    if (fillers_.empty()) return;
    close(fillers_.back());
    fillers_.pop_back();
  }
  void release() {
    for (const int fd : fillers_) close(fd);
    fillers_.clear();
  }

 private:
  rlimit original_{};
  bool lowered_ = false;
  bool exhausted_ = false;
  std::vector<int> fillers_;
};

std::chrono::microseconds processCpuTime() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto total = [](const timeval& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
  };
  return total(usage.ru_utime) + total(usage.ru_stime);
}

constexpr std::string_view kRequest = "GET /ok HTTP/1.1\r\nHost: x\r\n\r\n";

TEST(HttpServerDescriptorsTest, WaitsOutDescriptorExhaustionAndRecovers) {
  Router router;
  router.mount("/ok", std::make_shared<OkService>());
  HttpServer server(router);
  const auto port = server.start("127.0.0.1", 0, 1);
  ASSERT_TRUE(port.ok());

  RawConnection existing(*port);
  ASSERT_TRUE(existing.ok());
  ASSERT_TRUE(existing.send(kRequest));
  ASSERT_NE(existing.receiveResponse(10s).find("200 OK"), std::string::npos);

  std::optional<RawConnection> queued;
  {
    DescriptorSqueeze squeeze;
    ASSERT_TRUE(squeeze.full());
    // The client takes the last descriptor; the kernel completes its
    // connection, but the server has none left to accept it with.
    squeeze.spare();
    queued.emplace(*port);
    ASSERT_TRUE(queued->ok());
    ASSERT_TRUE(queued->send(kRequest));

    // A spinning accept loop burns a whole core; waiting burns next to nothing.
    const auto cpuBefore = processCpuTime();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(600ms);
    const auto cpu = processCpuTime() - cpuBefore;
    const auto wall = std::chrono::steady_clock::now() - wallBefore;
    EXPECT_LT(cpu * 4, wall) << "accept spun for " << cpu.count() << " us of CPU";

    // The connection it already had is still served.
    ASSERT_TRUE(existing.send(kRequest));
    EXPECT_NE(existing.receiveResponse(10s).find("200 OK"), std::string::npos);
  }
  // Descriptors are free again: the queued client is answered.
  EXPECT_NE(queued->receiveResponse(10s).find("200 OK"), std::string::npos);
  server.stop();
}

}  // namespace
}  // namespace corvenza::emulator
