#pragma once
// A small real HTTP/1.1 server on 127.0.0.1 with an ephemeral port, for tests
// of everything that talks HTTP. Each connection is served by a thread of its
// own; every thread is joined when the server is destroyed.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/http/http_types.h"

namespace corvenza::test {

struct RecordedRequest {
  std::string method;
  /// Path and query exactly as received.
  std::string target;
  http::HttpHeaders headers;
  std::string body;

  std::optional<std::string> header(std::string_view name) const {
    return http::findHeader(headers, name);
  }
  std::string path() const { return target.substr(0, target.find('?')); }
};

struct TestReply {
  int status = 200;
  http::HttpHeaders headers;
  std::string body;
  /// Waits this long before writing anything.
  std::chrono::milliseconds delay{0};
  /// Closes the connection instead of answering.
  bool closeWithoutReply = false;
  /// Writes the body in this many pieces with chunkDelay between them (a slow
  /// download). Content-Length is still sent up front.
  std::size_t chunks = 1;
  std::chrono::milliseconds chunkDelay{0};
};

using TestHandler = std::function<TestReply(const RecordedRequest&)>;

class TestHttpServer {
 public:
  TestHttpServer();
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  std::uint16_t port() const { return port_; }
  /// "http://127.0.0.1:<port>" followed by @p target.
  std::string url(std::string_view target) const;

  /// Answers requests whose path (without query) is @p path. Unknown paths get a 404.
  void on(std::string path, TestHandler handler);
  /// Always answers @p path with @p reply.
  void on(std::string path, TestReply reply);

  /// Every request received so far, in order.
  std::vector<RecordedRequest> requests() const;
  /// Waits until at least @p count requests arrived or @p limit passed.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;
  /// Number of connections accepted so far.
  std::size_t connectionCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::uint16_t port_ = 0;
};

}  // namespace corvenza::test
