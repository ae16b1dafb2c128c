// The server end to end on loopback: requests reach the mounted service whole
// and answers come back on kept-alive connections, from several clients at once.

#include "server/http_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "testkit/raw_connection.h"

namespace corvenza::emulator {
namespace {

// Echoes what it received so the test can see nothing was lost on the way.
class EchoService : public Service {
 public:
  std::string_view name() const override { return "echo"; }
  Response handle(const Request& request) override {
    ++calls;
    Response response;
    response.status = request.subpath == "/teapot" ? 418 : 200;
    response.headers.emplace_back("X-Echo-Token", request.header("X-Token").value_or("-"));
    response.body =
        request.method + " " + request.subpath + " " + request.query + " " + request.body;
    return response;
  }
  std::atomic<int> calls{0};
};

struct Reply {
  long status = 0;
  std::string body;
  std::string headers;
  long connects = 0;
};

size_t append(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

Reply post(CURL* curl, const std::string& url, const std::string& body, const std::string& token) {
  Reply reply;
  curl_slist* headers = curl_slist_append(nullptr, ("X-Token: " + token).c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
  if (curl_easy_perform(curl) == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &reply.connects);
  }
  curl_slist_free_all(headers);
  return reply;
}

TEST(HttpServerTest, ServesConcurrentKeptAliveClients) {
  Router router;
  auto echo = std::make_shared<EchoService>();
  router.mount("/echo", echo);
  HttpServer server(router);
  const auto port = server.start("127.0.0.1", 0, 2);
  ASSERT_TRUE(port.ok()) << port.error().localizedDescription();
  const auto base = "http://127.0.0.1:" + std::to_string(*port);

  constexpr int kClients = 3;
  constexpr int kRequests = 20;
  std::atomic<int> good{0};
  std::atomic<int> newConnections{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      CURL* curl = curl_easy_init();
      for (int i = 0; i < kRequests; ++i) {
        const auto body = "body-" + std::to_string(c) + "-" + std::to_string(i);
        const auto reply = post(curl, base + "/echo/x?q=" + std::to_string(i), body, body);
        if (reply.status == 200 && reply.body == "POST /x q=" + std::to_string(i) + " " + body &&
            reply.headers.find("X-Echo-Token: " + body) != std::string::npos) {
          ++good;
        }
        newConnections += static_cast<int>(reply.connects);
      }
      curl_easy_cleanup(curl);
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(good.load(), kClients * kRequests);
  EXPECT_EQ(echo->calls.load(), kClients * kRequests);
  // One connection per client: the server keeps them alive.
  EXPECT_EQ(newConnections.load(), kClients);

  CURL* curl = curl_easy_init();
  EXPECT_EQ(post(curl, base + "/echo/teapot", "", "t").status, 418);
  EXPECT_EQ(post(curl, base + "/elsewhere", "", "t").status, 404);
  curl_easy_cleanup(curl);
  server.stop();
}

// A client holds a connection only while it keeps sending whole requests:
// silence and trickled partial requests are cut off at the same deadline.
TEST(HttpServerTest, DisconnectsSilentAndTricklingClients) {
  using namespace std::chrono_literals;
  Router router;
  router.mount("/echo", std::make_shared<EchoService>());
  HttpServer server(router, 500ms);
  const auto port = server.start("127.0.0.1", 0, 1);
  ASSERT_TRUE(port.ok());

  test::RawConnection silent(*port);
  ASSERT_TRUE(silent.ok());
  silent.receive(10s);
  EXPECT_TRUE(silent.peerClosed());

  test::RawConnection trickling(*port);
  ASSERT_TRUE(trickling.send("POST /echo HTTP/1.1\r\nHost: x\r\n"));
  const auto giveUp = std::chrono::steady_clock::now() + 10s;
  while (!trickling.peerClosed() && std::chrono::steady_clock::now() < giveUp) {
    trickling.send("X-Slow: y\r\n");
    trickling.receive(50ms);
  }
  EXPECT_TRUE(trickling.peerClosed());

  // A body gets the time its length takes at the slowest pace allowed: sent
  // faster than that it arrives, past the head's deadline; trickled, it does not.
  const std::string body(16 * 1024, 'b');  // 2 s at the slowest pace
  const std::string head =
      "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\n\r\n";
  test::RawConnection slowBody(*port);
  ASSERT_TRUE(slowBody.send(head));
  for (std::size_t sent = 0; sent < body.size(); sent += 4096) {
    std::this_thread::sleep_for(250ms);  // 16 KB/s: 1 s in all, past the 500 ms
    ASSERT_TRUE(slowBody.send(body.substr(sent, 4096)));
  }
  EXPECT_NE(slowBody.receiveResponse(10s).find("200 OK"), std::string::npos);
  test::RawConnection tricklingBody(*port);
  ASSERT_TRUE(tricklingBody.send(head));
  const auto bodyGiveUp = std::chrono::steady_clock::now() + 20s;
  while (!tricklingBody.peerClosed() && std::chrono::steady_clock::now() < bodyGiveUp) {
    tricklingBody.send("b");
    tricklingBody.receive(100ms);
  }
  EXPECT_TRUE(tricklingBody.peerClosed());

  // Whole requests in time are answered, and the deadline restarts after each.
  test::RawConnection prompt(*port);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(prompt.send("GET /echo HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_NE(prompt.receiveResponse(10s).find("200 OK"), std::string::npos);
    std::this_thread::sleep_for(100ms);
  }
}

TEST(HttpServerTest, ReportsAPortThatCannotBeBound) {
  Router router;
  HttpServer first(router);
  const auto port = first.start("127.0.0.1", 0, 1);
  ASSERT_TRUE(port.ok());
  HttpServer second(router);
  const auto clash = second.start("127.0.0.1", *port, 1);
  ASSERT_FALSE(clash.ok());
  EXPECT_NE(clash.error().localizedDescription().find(std::to_string(*port)), std::string::npos);
  EXPECT_FALSE(HttpServer(router).start("not-an-address", 0, 1).ok());
}

}  // namespace
}  // namespace corvenza::emulator
