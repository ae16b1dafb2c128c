#pragma once
// A connection whose HTTP request asked to become a WebSocket, handed from the
// HTTP server to the real-time service. Only their two sources include this.

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace corvenza::emulator {

struct WebSocketUpgrade {
  boost::beast::tcp_stream stream;
  boost::beast::http::request<boost::beast::http::string_body> request;
};

}  // namespace corvenza::emulator
