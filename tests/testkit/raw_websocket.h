#pragma once
// A bare WebSocket client for tests of the emulator's real-time endpoint: it
// sends exactly the text frames a test chooses and bounds every wait.

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <optional>
#include <string>

namespace corvenza::test {

class RawWebSocket {
 public:
  /// Opens ws://127.0.0.1:@p port@p target with the "graphql-ws" protocol;
  /// ok() tells whether the handshake succeeded within @p limit.
  RawWebSocket(std::uint16_t port, const std::string& target,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    namespace beast = boost::beast;
    beast::error_code ec;
    beast::get_lowest_layer(ws_).expires_after(limit);
    beast::get_lowest_layer(ws_).socket().connect(
        {boost::asio::ip::make_address("127.0.0.1"), port}, ec);
    if (ec) return;
    ws_.set_option(
        beast::websocket::stream_base::decorator([](beast::websocket::request_type& request) {
          request.set(beast::http::field::sec_websocket_protocol, "graphql-ws");
        }));
    bool done = false;
    ws_.async_handshake(response_, "127.0.0.1:" + std::to_string(port), target,
                        [&](beast::error_code result) {
                          done = true;
                          ec = result;
                        });
    io_.run_for(limit);
    io_.restart();
    open_ = done && !ec;
    if (!done) beast::get_lowest_layer(ws_).close();
  }

  bool ok() const { return open_; }
  /// The handshake's HTTP answer (its status tells a refused upgrade).
  const boost::beast::websocket::response_type& handshakeResponse() const { return response_; }

  /// Sends one text frame; false when the connection is gone.
  bool send(const std::string& text) {
    if (!open_) return false;
    boost::beast::error_code ec;
    ws_.text(true);
    ws_.write(boost::asio::buffer(text), ec);
    if (ec) open_ = false;
    return open_;
  }

  /// The next text frame, or nothing when the connection closed or none came
  /// within @p limit. Either way ok() turns false: a read cut short leaves the
  /// stream unusable, so a test waits as long as it means to.
  std::optional<std::string> read(std::chrono::milliseconds limit) {
    namespace beast = boost::beast;
    if (!open_) return std::nullopt;
    beast::flat_buffer buffer;
    bool done = false;
    beast::error_code ec;
    ws_.async_read(buffer, [&](beast::error_code result, std::size_t) {
      done = true;
      ec = result;
    });
    io_.run_for(limit);
    io_.restart();
    timedOut_ = !done;
    if (!done) {
      // Cancelling a read leaves the stream unusable: give up on it.
      beast::get_lowest_layer(ws_).close();
      io_.run_for(std::chrono::seconds(1));
      io_.restart();
    }
    if (!done || ec) {
      open_ = false;
      return std::nullopt;
    }
    return beast::buffers_to_string(buffer.data());
  }

  /// Reads frames until one contains @p needle or @p limit passes; skips
  /// keep-alives and anything else on the way.
  std::optional<std::string> readUntil(const std::string& needle, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (open_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      auto frame = read(left);
      if (frame && frame->find(needle) != std::string::npos) return frame;
    }
    return std::nullopt;
  }

  /// Waits up to @p limit for the server to close the connection, skipping
  /// frames; true when it did, false when it was still open at the end.
  bool closedByPeer(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (open_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      read(left);
    }
    return !timedOut_;
  }

 private:
  boost::asio::io_context io_;
  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_{io_};
  boost::beast::websocket::response_type response_;
  bool open_ = false;
  bool timedOut_ = false;
};

}  // namespace corvenza::test
