// The server's request decoding against hostile bytes over real sockets:
// random input, mutations and every truncation of valid requests, and a
// request fed one byte at a time. Whatever arrives, the server answers with a
// well-formed response or closes the connection, and keeps serving others.
// Fixed seeds and counts keep each case to a few seconds.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/websocket_upgrade.h"
#include "server/http_server.h"
#include "testkit/raw_connection.h"

namespace corvenza::emulator {
namespace {

using namespace std::chrono_literals;
using test::RawConnection;

class PlainEchoService : public Service {
 public:
  std::string_view name() const override { return "echo"; }
  Response handle(const Request& request) override {
    Response response;
    response.headers.emplace_back("Content-Type", "text/plain");
    response.body = request.method + " " + request.target + " " + request.body;
    return response;
  }
};

const std::vector<std::string> kValidRequests = {
    "GET /echo/a?b=c HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Token: t\r\n\r\n",
    "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: "
    "14\r\n\r\n{\"query\":\"{}\"}",
    "PUT /echo/k HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
    "GET /ws HTTP/1.1\r\nHost: x\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
    "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n",
    "DELETE /nowhere HTTP/1.0\r\n\r\n",
};

class HttpServerFuzzTest : public ::testing::Test {
 protected:
  void SetUp() override {
    router_.mount("/echo", std::make_shared<PlainEchoService>());
    server_.onUpgrade("/ws", [](std::unique_ptr<WebSocketUpgrade>) {});
    const auto port = server_.start("127.0.0.1", 0, 2);
    ASSERT_TRUE(port.ok());
    port_ = *port;
  }

  // Sends @p bytes on a fresh connection and half-closes it; returns what
  // came back before the server closed (bounded by the request deadline).
  std::string exchange(const std::string& bytes) {
    RawConnection connection(port_);
    EXPECT_TRUE(connection.ok());
    connection.send(bytes);
    connection.halfClose();
    return connection.receive(5s);
  }

  // Whatever came back is a sequence of whole, well-formed responses.
  static void expectWellFormed(const std::string& received, const std::string& sent) {
    if (received.empty()) return;
    EXPECT_EQ(received.rfind("HTTP/1.", 0), 0u) << "sent: " << ::testing::PrintToString(sent);
  }

  void expectStillServing() {
    RawConnection probe(port_);
    ASSERT_TRUE(probe.send(kValidRequests[0]));
    EXPECT_NE(probe.receiveResponse(5s).find("GET /echo/a?b=c"), std::string::npos);
  }

  Router router_;
  HttpServer server_{router_, 2s};
  std::uint16_t port_ = 0;
};

TEST_F(HttpServerFuzzTest, RandomBytesAreRefusedCleanly) {
  std::mt19937 random(4711);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 400);
  for (int round = 0; round < 150; ++round) {
    std::string bytes(static_cast<std::size_t>(length(random)), '\0');
    for (auto& c : bytes) c = static_cast<char>(byte(random));
    // Every other round starts like a request line, to get past the first check.
    if (round % 2) bytes = "POST /echo HTTP/1.1\r\n" + bytes;
    expectWellFormed(exchange(bytes), bytes);
  }
  expectStillServing();
}

TEST_F(HttpServerFuzzTest, MutatedRequestsAreAnsweredOrRefusedCleanly) {
  std::mt19937 random(1208);
  const std::string interesting = "\r\n:; \t0-9aZ\x7f\x80\xff";
  const std::vector<std::string> lengths = {
      "0", "-1", "99999999999999999999", "1e3", " 5", "18446744073709551616", "5, 5"};
  for (int round = 0; round < 300; ++round) {
    auto bytes = kValidRequests[static_cast<std::size_t>(round) % kValidRequests.size()];
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      const auto at = static_cast<std::size_t>(random() % bytes.size());
      switch (random() % 6) {
        case 0:
          bytes[at] = static_cast<char>(random() % 256);
          break;
        case 1:
          bytes.insert(at, 1, interesting[random() % interesting.size()]);
          break;
        case 2:
          bytes.erase(at, 1 + random() % 8);
          break;
        case 3:
          bytes.insert(at, bytes.substr(at, random() % 32));
          break;
        case 4: {
          const auto header = bytes.find("Content-Length: ");
          if (header != std::string::npos) {
            const auto end = bytes.find("\r\n", header);
            bytes.replace(header + 16, end - header - 16, lengths[random() % lengths.size()]);
          }
          break;
        }
        default:
          bytes.insert(at, std::string(random() % 3000, 'A'));
          break;
      }
    }
    expectWellFormed(exchange(bytes), bytes);
  }
  expectStillServing();
}

TEST_F(HttpServerFuzzTest, EveryTruncationIsRefusedAndWholeOnesAnswered) {
  for (const auto& request : kValidRequests) {
    for (std::size_t cut = 0; cut <= request.size(); ++cut) {
      const auto prefix = request.substr(0, cut);
      const auto received = exchange(prefix);
      expectWellFormed(received, prefix);
      // Only a whole request gets an answer.
      if (cut < request.size() && request.rfind("GET /ws", 0) != 0) {
        EXPECT_TRUE(received.empty()) << ::testing::PrintToString(prefix);
      }
    }
  }
  expectStillServing();
}

TEST_F(HttpServerFuzzTest, RequestsFedOneByteAtATimeAndPipelinedAreServed) {
  RawConnection slow(port_);
  slow.noDelay();
  for (int repeat = 0; repeat < 2; ++repeat) {
    for (const char c : kValidRequests[1]) {
      ASSERT_TRUE(slow.send(std::string(1, c)));
      std::this_thread::sleep_for(1ms);
    }
    EXPECT_NE(slow.receiveResponse(5s).find("POST /echo {\"query\":\"{}\"}"), std::string::npos);
  }

  RawConnection pipelined(port_);
  ASSERT_TRUE(pipelined.send(kValidRequests[0] + kValidRequests[2] + kValidRequests[0]));
  const auto received = pipelined.receive(5s, [](const std::string& text) {
    std::size_t answers = 0;
    for (auto at = text.find("HTTP/1.1 200"); at != std::string::npos;
         at = text.find("HTTP/1.1 200", at + 1)) {
      ++answers;
    }
    return answers == 3 && RawConnection::isWholeResponse(text.substr(text.rfind("HTTP/1.1")));
  });
  EXPECT_NE(received.find("GET /echo/a?b=c"), std::string::npos);
  EXPECT_NE(received.find("PUT /echo/k hello"), std::string::npos);
}

}  // namespace
}  // namespace corvenza::emulator
