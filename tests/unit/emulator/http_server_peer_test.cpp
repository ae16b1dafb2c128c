// The server tells services who connected: the dashboard answers only
// loopback peers, and learns the peer from here.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include "server/http_server.h"

namespace corvenza::emulator {
namespace {

class PeerService : public Service {
 public:
  std::string_view name() const override { return "peer"; }
  Response handle(const Request& request) override {
    Response response;
    response.body = request.remoteAddress;
    return response;
  }
};

size_t appendBody(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

TEST(HttpServerPeerTest, ARequestCarriesThePeersAddress) {
  Router router;
  router.mount("/peer", std::make_shared<PeerService>());
  HttpServer server(router);
  const auto port = server.start("127.0.0.1", 0, 1);
  ASSERT_TRUE(port.ok()) << port.error().localizedDescription();

  std::string body;
  CURL* curl = curl_easy_init();
  const auto url = "http://127.0.0.1:" + std::to_string(*port) + "/peer";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
  curl_easy_cleanup(curl);
  EXPECT_EQ(body, "127.0.0.1");
}

}  // namespace
}  // namespace corvenza::emulator
