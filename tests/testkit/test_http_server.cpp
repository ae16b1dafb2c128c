#include "testkit/test_http_server.h"

#include <sys/socket.h>

#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <list>

namespace corvenza::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

struct TestHttpServer::Impl {
  asio::io_context context;
  tcp::acceptor acceptor{context};
  std::thread acceptThread;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool stopping = false;
  std::map<std::string, TestHandler> handlers;
  std::vector<RecordedRequest> requests;
  std::size_t connections = 0;
  // Descriptors of open connections, so that the destructor can wake readers.
  std::list<int> openFds;
  std::vector<std::thread> connectionThreads;

  /// Waits @p duration unless the server stops first; false when stopping.
  bool pause(std::chrono::milliseconds duration) {
    if (duration.count() <= 0) return true;
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, duration, [this] { return stopping; });
  }

  void acceptLoop() {
    for (;;) {
      auto socket = std::make_unique<tcp::socket>(context);
      boost::system::error_code error;
      acceptor.accept(*socket, error);
      std::lock_guard lock(mutex);
      if (stopping) return;
      if (error) continue;
      ++connections;
      openFds.push_back(socket->native_handle());
      auto fd = std::prev(openFds.end());
      connectionThreads.emplace_back(
          [this, s = std::move(socket), fd]() mutable { serve(std::move(s), fd); });
    }
  }

  void serve(std::unique_ptr<tcp::socket> socket, std::list<int>::iterator fd) {
    beast::flat_buffer buffer;
    for (;;) {
      beast::http::request_parser<beast::http::string_body> parser;
      parser.body_limit(256U * 1024U * 1024U);
      boost::system::error_code error;
      beast::http::read(*socket, buffer, parser, error);
      if (error) break;
      const auto& message = parser.get();
      RecordedRequest request;
      request.method = std::string(message.method_string());
      request.target = std::string(message.target());
      for (const auto& field : message) {
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
      }
      request.body = message.body();
      TestHandler handler;
      {
        std::lock_guard lock(mutex);
        requests.push_back(request);
        if (auto found = handlers.find(request.path()); found != handlers.end()) {
          handler = found->second;
        }
      }
      changed.notify_all();
      TestReply reply = handler ? handler(request) : TestReply{404, {}, "not found"};
      if (!pause(reply.delay) || reply.closeWithoutReply) break;
      if (!write(*socket, reply)) break;
      if (!message.keep_alive()) break;
    }
    std::lock_guard lock(mutex);
    openFds.erase(fd);
    boost::system::error_code ignored;
    socket->close(ignored);
  }

  bool write(tcp::socket& socket, const TestReply& reply) {
    std::string head =
        "HTTP/1.1 " + std::to_string(reply.status) + " " +
        std::string(beast::http::obsolete_reason(static_cast<beast::http::status>(reply.status))) +
        "\r\n";
    for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
    if (!http::findHeader(reply.headers, "Content-Length")) {
      head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    head += "\r\n";
    boost::system::error_code error;
    asio::write(socket, asio::buffer(head), error);
    if (error) return false;
    const std::size_t pieces = std::max<std::size_t>(1, reply.chunks);
    const std::size_t step = (reply.body.size() + pieces - 1) / pieces;
    for (std::size_t offset = 0; offset < reply.body.size(); offset += step) {
      if (offset > 0 && !pause(reply.chunkDelay)) return false;
      const std::size_t length = std::min(step, reply.body.size() - offset);
      asio::write(socket, asio::buffer(reply.body.data() + offset, length), error);
      if (error) return false;
    }
    return true;
  }
};

TestHttpServer::TestHttpServer() : impl_(std::make_unique<Impl>()) {
  tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
  impl_->acceptor.open(endpoint.protocol());
  impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
  impl_->acceptor.bind(endpoint);
  impl_->acceptor.listen();
  port_ = impl_->acceptor.local_endpoint().port();
  impl_->acceptThread = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
    for (int fd : impl_->openFds) ::shutdown(fd, SHUT_RDWR);
  }
  impl_->changed.notify_all();
  // A connection of our own wakes the blocking accept.
  {
    asio::io_context context;
    tcp::socket waker(context);
    boost::system::error_code ignored;
    waker.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port_), ignored);
  }
  impl_->acceptThread.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(impl_->mutex);
    threads.swap(impl_->connectionThreads);
  }
  for (auto& thread : threads) thread.join();
}

std::string TestHttpServer::url(std::string_view target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
}

void TestHttpServer::on(std::string path, TestHandler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->handlers[std::move(path)] = std::move(handler);
}

void TestHttpServer::on(std::string path, TestReply reply) {
  on(std::move(path), [reply](const RecordedRequest&) { return reply; });
}

std::vector<RecordedRequest> TestHttpServer::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

bool TestHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, limit, [&] { return impl_->requests.size() >= count; });
}

std::size_t TestHttpServer::connectionCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->connections;
}

}  // namespace corvenza::test
