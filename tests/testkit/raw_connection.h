#pragma once
// A plain TCP connection to a loopback port for tests that must send exactly
// the bytes they choose (broken requests, one byte at a time) and bound every
// wait for an answer.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace corvenza::test {

class RawConnection {
 public:
  /// Connects to 127.0.0.1:@p port; ok() tells whether that worked.
  explicit RawConnection(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) close();
  }
  ~RawConnection() { close(); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool ok() const { return fd_ >= 0; }
  /// True once a read saw the peer close (or reset) the connection.
  bool peerClosed() const { return peerClosed_; }

  /// Sends all of @p bytes; false when the peer is gone.
  bool send(std::string_view bytes) {
    while (ok() && !bytes.empty()) {
      const auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return ok();
  }

  /// Reads until @p done holds for everything received so far, the peer
  /// closes, or @p limit passes. Returns what arrived during this call.
  std::string receive(std::chrono::milliseconds limit,
                      const std::function<bool(const std::string&)>& done = {}) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ok() && !peerClosed_ && !(done && done(received))) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[4096];
      const auto got = ::recv(fd_, chunk, sizeof chunk, 0);
      if (got <= 0) {
        peerClosed_ = true;
      } else {
        received.append(chunk, static_cast<std::size_t>(got));
      }
    }
    return received;
  }

  /// Waits up to @p limit for one whole HTTP response (headers and a
  /// Content-Length body) and returns it; shorter when none came in time.
  std::string receiveResponse(std::chrono::milliseconds limit) {
    return receive(limit, &isWholeResponse);
  }

  static bool isWholeResponse(const std::string& text) {
    const auto end = text.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    const auto head = text.substr(0, end);
    std::size_t length = 0;
    for (const auto* name : {"Content-Length: ", "content-length: "}) {
      const auto at = head.find(name);
      if (at != std::string::npos) length = std::stoul(head.substr(at + std::string(name).size()));
    }
    return text.size() >= end + 4 + length;
  }

  /// Sends FIN: the peer reads end of stream, answers may still come back.
  void halfClose() {
    if (ok()) ::shutdown(fd_, SHUT_WR);
  }

  /// Sends each write at once instead of coalescing small ones.
  void noDelay() {
    int on = 1;
    if (ok()) ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool peerClosed_ = false;
};

}  // namespace corvenza::test
