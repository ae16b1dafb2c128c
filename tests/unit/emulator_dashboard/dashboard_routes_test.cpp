// The dashboard's routes in a running emulator, driven through its router
// with the peer address a socket would have given.

#include <corvenza/image.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <span>
#include <sstream>

#include "dashboard/dashboard_service.h"
#include "emulator.h"
#include "estimation/estimation_fields.h"
#include "gateway/estimation_backend.h"
#include "storage/object_store.h"
#include "storage/thumbnail_maker.h"
#include "testkit/example_photos.h"
#include "testkit/temp_dir.h"

namespace corvenza::emulator::dashboard {
namespace {

using nlohmann::json;
using test::kExamplePhotos;

constexpr const char* kOwner = "ap-northeast-1:aaaaaaaa-0000-4000-8000-000000000001";
std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string bigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

// A whole black one-bit PNG: a few kilobytes for millions of pixels.
std::string blackPng(std::uint32_t width, std::uint32_t height) {
  auto chunk = [](const std::string& type, const std::string& data) {
    const auto typed = type + data;
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size());
    return bigEndian(static_cast<std::uint32_t>(data.size())) + typed +
           bigEndian(static_cast<std::uint32_t>(crc));
  };
  const std::string rows(((width + 7) / 8 + 1) * static_cast<std::size_t>(height), '\0');
  uLongf size = compressBound(rows.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(rows.data()), rows.size());
  return std::string("\x89PNG\r\n\x1a\n", 8) +
         chunk("IHDR", bigEndian(width) + bigEndian(height) + std::string("\x01\0\0\0\0", 5)) +
         chunk("IDAT", packed.substr(0, size)) + chunk("IEND", "");
}

// A real photo whose header is changed to declare @p width x @p height.
std::string declaring(const std::string& photo, std::uint16_t width, std::uint16_t height) {
  auto bytes = readFile(kExamplePhotos + photo);
  if (photo.ends_with(".png")) return bytes.replace(16, 8, bigEndian(width) + bigEndian(height));
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
  for (std::size_t at = 2; at + 9 < bytes.size(); at += 2 + (byte(at + 2) << 8 | byte(at + 3))) {
    if (byte(at + 1) >= 0xC0 && byte(at + 1) <= 0xC2) {  // the frame header
      return bytes.replace(at + 5, 4, bigEndian(std::uint32_t{height} << 16 | width));
    }
  }
  return {};
}

class DashboardRoutesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmulatorOptions options;
    options.dataDir = dir.path() / "data";
    // Nothing is decided unless a test asks for it.
    options.estimationDelay = std::chrono::hours(1);
    ASSERT_TRUE(emulator.start(options).ok());
  }

  estimation::EstimationStore& store() { return emulator.estimation().store(); }

  Response send(const std::string& method, const std::string& target,
                const std::string& peer = "127.0.0.1", http::HttpHeaders headers = {},
                const std::string& body = {}) {
    if (!http::findHeader(headers, "Host")) headers.emplace_back("Host", "127.0.0.1:1234");
    auto request = makeRequest(method, target, std::move(headers), body);
    request.remoteAddress = peer;
    Response answer;
    bool answered = false;
    emulator.router().dispatch(std::move(request), [&](Response response) {
      answer = std::move(response);
      answered = true;
    });
    EXPECT_TRUE(answered) << target;
    return answer;
  }
  Response get(const std::string& target, const std::string& peer = "127.0.0.1") {
    return send("GET", target, peer);
  }

  std::string create(const std::string& owner = kOwner, std::int64_t createdAt = 1'700'000'000,
                     std::optional<std::string> gender = "female") {
    estimation::CreateInput input;
    input.age = 35;
    input.height = 170;
    input.weight = 62.5;
    input.gender = std::move(gender);
    auto record = store().create(owner, input, createdAt);
    EXPECT_TRUE(record.ok());
    return record.ok() ? record->id : "";
  }

  // Stores @p file as the request's photo, as an upload through storage would.
  void attach(const std::string& id, bool front, const std::string& file) {
    ObjectStore objects(dir.path() / "data" / "objects");
    const auto key = std::string(kOwner) + "/" + id + (front ? "/front.jpg" : "/side.jpg");
    ObjectMetadata metadata;
    metadata.contentType = "text/html";  // what a client claimed; never served as such
    metadata.ownerIdentityId = kOwner;
    ASSERT_TRUE(objects.put("corvenza-photos", key, readFile(file), metadata).ok());
    ASSERT_TRUE(
        store().attachImage(kOwner, id, front, {"corvenza-photos", key, "ap-northeast-1"}).ok());
  }

  Response decide(const std::string& what, const std::string& id,
                  const std::string& contentType = "application/json") {
    return send("POST", "/_control/estimator/" + what, "127.0.0.1", {{"Content-Type", contentType}},
                json{{"id", id}}.dump());
  }

  test::TempDir dir;
  Emulator emulator;
};

TEST_F(DashboardRoutesTest, OnlyLoopbackPeersNamingALoopbackHostAreAnswered) {
  const auto id = create();
  attach(id, true, kExamplePhotos + "small-800x1200.png");
  for (const auto& target :
       {std::string("/dashboard/"), "/dashboard/requests/" + id,
        "/dashboard/requests/" + id + "/front.jpg",
        "/dashboard/requests/" + id + "/front-thumb.jpg", std::string("/dashboard/events"),
        std::string("/dashboard/assets/dashboard.js")}) {
    for (const char* peer : {"10.1.2.3", "192.168.0.9", "::ffff:10.0.0.1", ""}) {
      const auto response = get(target, peer);
      EXPECT_EQ(response.status, 403) << target << " from '" << peer << "'";
      EXPECT_EQ(response.body.find("<"), std::string::npos) << "no page content leaks";
    }
    const auto rebound = send("GET", target, "127.0.0.1", {{"Host", "attacker.example:80"}});
    EXPECT_EQ(rebound.status, 403) << target;
  }
  EXPECT_EQ(get("/dashboard/requests/" + id + "/front.jpg", "::1").status, 200);
  EXPECT_EQ(get("/dashboard/requests/" + id + "/front.jpg", "127.0.0.1").status, 200);
}

TEST_F(DashboardRoutesTest, PhotosAreReencodedRightWayUpAndRevalidated) {
  const auto id = create();
  // Stored 4032 x 3024 with EXIF orientation 6: a portrait photo.
  attach(id, true, kExamplePhotos + "front-4032x3024-exif6.jpg");
  auto thumb = get("/dashboard/requests/" + id + "/front-thumb.jpg");
  ASSERT_EQ(thumb.status, 200) << thumb.body;
  EXPECT_EQ(http::findHeader(thumb.headers, "Content-Type"), "image/jpeg");
  EXPECT_EQ(http::findHeader(thumb.headers, "X-Content-Type-Options"), "nosniff");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(thumb.body.data());
  const auto image = Image::fromData(std::span<const std::uint8_t>(bytes, thumb.body.size()));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelWidth(), 240);
  EXPECT_GT(image->pixelHeight(), image->pixelWidth());

  const auto etag = http::findHeader(thumb.headers, "ETag");
  ASSERT_TRUE(etag);
  const auto again = send("GET", "/dashboard/requests/" + id + "/front-thumb.jpg", "127.0.0.1",
                          {{"If-None-Match", *etag}});
  EXPECT_EQ(again.status, 304);
  EXPECT_TRUE(again.body.empty());

  EXPECT_EQ(get("/dashboard/requests/" + id + "/side.jpg").status, 404) << "not uploaded";
  EXPECT_EQ(get("/dashboard/requests/" + id + "/back.jpg").status, 404);
  EXPECT_EQ(get("/dashboard/requests/" + id + "/../front.jpg").status, 404);
}

TEST_F(DashboardRoutesTest, AStoredObjectThatIsNotAPictureIsNeverServed) {
  const auto id = create();
  const auto key = std::string(kOwner) + "/" + id + "/front.jpg";
  ObjectStore objects(dir.path() / "data" / "objects");
  ObjectMetadata metadata;
  metadata.contentType = "text/html";
  ASSERT_TRUE(objects.put("corvenza-photos", key, "<script>alert(1)</script>", metadata).ok());
  ASSERT_TRUE(store().attachImage(kOwner, id, true, {"corvenza-photos", key, "r"}).ok());
  const auto response = get("/dashboard/requests/" + id + "/front.jpg");
  EXPECT_EQ(response.status, 415);
  EXPECT_EQ(response.body.find("<script>"), std::string::npos);
}

// A few kilobytes of PNG may declare 20000 x 20000 pixels, gigabytes once
// decoded: a picture declaring more than any phone takes is refused from its
// header, with the reason, by the dashboard and by the thumbnail maker.
TEST_F(DashboardRoutesTest, PicturesDeclaringTooManyPixelsAreNeverDecoded) {
  const std::pair<const char*, std::string> pictures[] = {
      {"whole.png", blackPng(8000, 8000)},
      {"declaring.png", declaring("small-800x1200.png", 9000, 9000)},
      {"declaring.jpg", declaring("edge-1081x1000.jpg", 10000, 10000)}};
  const auto makeThumbnail = makeThumbnailMaker(dir.path() / "data" / "objects");
  for (const auto& [name, bytes] : pictures) {
    SCOPED_TRACE(name);
    const auto id = create();
    attach(id, true, dir.write(name, bytes).string());
    for (const char* photo : {"/front.jpg", "/front-thumb.jpg"}) {
      const auto response = get("/dashboard/requests/" + id + photo);
      EXPECT_EQ(response.status, 422);
      EXPECT_NE(response.body.find("megapixels"), std::string::npos) << response.body;
    }
    const auto key = std::string(kOwner) + "/" + id + "/front.jpg";
    EXPECT_FALSE(makeThumbnail({"corvenza-photos", key, "r"}, key + ".thumb.jpg"));
  }
}

TEST_F(DashboardRoutesTest, UserTextIsEscapedOnEveryPage) {
  const std::string hostile = R"("><img src=x onerror=alert(1)><script>alert(2)</script>)";
  const auto id = create(hostile, 1'700'000'000, hostile);

  for (const auto& target : {std::string("/dashboard/"), "/dashboard/requests/" + id}) {
    const auto page = get(target);
    ASSERT_EQ(page.status, 200) << target;
    EXPECT_EQ(page.body.find("<img src=x"), std::string::npos) << target;
    EXPECT_EQ(page.body.find("<script>alert"), std::string::npos) << target;
    EXPECT_NE(page.body.find("&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"), std::string::npos)
        << target;
    const auto policy = http::findHeader(page.headers, "Content-Security-Policy");
    ASSERT_TRUE(policy);
    EXPECT_NE(policy->find("script-src 'self'"), std::string::npos);
  }
}

TEST_F(DashboardRoutesTest, RequestIdsInUrlsAreValidatedAndNeverEchoed) {
  for (const char* bad :
       {"..%2F..%2Fetc%2Fpasswd", "%3Cscript%3Ealert(1)%3C%2Fscript%3E",
        "0F8FAD5B-D9CB-469F-A165-70867728950E", "0f8fad5b-d9cb-469f-a165-70867728950e%00", ""}) {
    const auto response = get("/dashboard/requests/" + std::string(bad));
    EXPECT_EQ(response.status, 404) << bad;
    EXPECT_EQ(response.body.find("script"), std::string::npos) << bad;
    EXPECT_EQ(response.body.find("passwd"), std::string::npos) << bad;
  }
  const auto gone = get("/dashboard/requests/0f8fad5b-d9cb-469f-a165-70867728950e");
  EXPECT_EQ(gone.status, 404);
  EXPECT_NE(gone.body.find("No such request"), std::string::npos);
}

TEST_F(DashboardRoutesTest, AssetsAreOnlyTheBuiltInFiles) {
  const auto css = get("/dashboard/assets/dashboard.css");
  ASSERT_EQ(css.status, 200);
  EXPECT_EQ(http::findHeader(css.headers, "Content-Type"), "text/css; charset=utf-8");
  EXPECT_NE(css.body.find("#figure"), std::string::npos);
  EXPECT_EQ(http::findHeader(get("/dashboard/assets/dashboard.js").headers, "Content-Type"),
            "text/javascript; charset=utf-8");
  EXPECT_EQ(get("/dashboard/assets/favicon.svg").status, 200);

  for (const char* bad :
       {"/dashboard/assets/", "/dashboard/assets/../emulator.cpp",
        "/dashboard/assets/..%2F..%2Fmain.cpp", "/dashboard/assets/%2e%2e/dashboard.css",
        "/dashboard/assets/dashboard.css/", "/dashboard/assets//etc/passwd",
        "/dashboard/assets/DASHBOARD.CSS"}) {
    EXPECT_EQ(get(bad).status, 404) << bad;
  }
}

TEST_F(DashboardRoutesTest, TheListIsNewestFirstAndPagedWithinBounds) {
  std::vector<std::string> ids;
  for (int i = 0; i < 25; ++i) ids.push_back(create(kOwner, 1'700'000'000 + i));
  const auto rows = [this](const std::string& query) {
    const auto body = get("/dashboard/" + query).body;
    std::vector<std::string> found;
    const std::regex row("<tr data-id=\"([0-9a-f-]{36})\"");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), row);
         it != std::sregex_iterator(); ++it) {
      found.push_back((*it)[1]);
    }
    return found;
  };
  auto first = rows("");
  ASSERT_EQ(first.size(), 20u);
  EXPECT_EQ(first.front(), ids.back());
  EXPECT_EQ(first[1], ids[23]);
  auto second = rows("?page=2");
  ASSERT_EQ(second.size(), 5u);
  EXPECT_EQ(second.back(), ids.front());

  EXPECT_EQ(rows("?per_page=0").size(), 1u);
  EXPECT_EQ(rows("?per_page=100000").size(), 25u);
  EXPECT_EQ(rows("?page=-3&per_page=5"),
            std::vector<std::string>(first.begin(), first.begin() + 5));
  EXPECT_TRUE(rows("?page=999999999999999999999999").empty());
  const auto beyond = get("/dashboard/?page=999999999999999999999999");
  EXPECT_EQ(beyond.status, 200);
  EXPECT_NE(beyond.body.find("rel=\"prev\""), std::string::npos) << "a way back";
  EXPECT_NE(get("/dashboard/?per_page=10").body.find("page=2&amp;per_page=10"), std::string::npos);
  EXPECT_EQ(get("/dashboard").status, 308);
}

TEST_F(DashboardRoutesTest, ARequestPageShowsItsMeasurementsInTheTableAndOnTheFigure) {
  const auto id = create();
  attach(id, true, kExamplePhotos + "small-800x1200.png");
  attach(id, false, kExamplePhotos + "small-800x1200.png");
  const auto pending = get("/dashboard/requests/" + id).body;
  EXPECT_NE(pending.find("pendingAutomaticEstimation"), std::string::npos);
  EXPECT_EQ(count(pending, "id=\"complete-now\" data-decide=\"complete\">"), 1u) << "enabled";

  ASSERT_EQ(decide("complete", id).status, 200);
  const auto record = store().find(id);
  ASSERT_TRUE(record.ok() && *record);
  const auto page = get("/dashboard/requests/" + id).body;
  EXPECT_NE(page.find("status-done\">completed<"), std::string::npos);
  EXPECT_NE(page.find("id=\"front-photo\""), std::string::npos);
  EXPECT_NE(page.find("id=\"side-photo\""), std::string::npos);
  EXPECT_NE(page.find("<svg id=\"figure\""), std::string::npos);
  for (const char* field : estimation::kMeasurementFields) {
    const auto value = (*record)->measurements.at(field).get<double>();
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    const auto cell = "id=\"m-" + std::string(field) + "\" data-measurement=\"" + field + "\">" +
                      text + "</td><td>cm</td>";
    EXPECT_EQ(count(page, cell), 1u) << field;
    const auto label = "<tspan class=\"value\" data-measurement=\"" + std::string(field) + "\">" +
                       text + "</tspan>";
    EXPECT_EQ(count(page, label), 1u) << field;
  }
}

TEST_F(DashboardRoutesTest, EstimatorHooksDecideWaitingRequestsOnly) {
  const auto requested = create();
  EXPECT_EQ(decide("complete", requested).status, 409) << "no photos yet";

  const auto toFail = create();
  attach(toFail, true, kExamplePhotos + "small-800x1200.png");
  attach(toFail, false, kExamplePhotos + "small-800x1200.png");
  EXPECT_EQ(decide("fail", toFail, "text/plain").status, 415);
  EXPECT_EQ(decide("fail", toFail, "application/x-www-form-urlencoded").status, 415);
  ASSERT_EQ(decide("fail", toFail).status, 200);
  auto record = store().find(toFail);
  EXPECT_EQ((*record)->status, estimation::kStatusFailed);
  EXPECT_EQ((*record)->errorCode, estimation::kAutomaticEstimationFailed);
  EXPECT_EQ(emulator.estimation().estimator().scheduledCount(), 0u);
  EXPECT_EQ(decide("complete", toFail).status, 409) << "already decided";

  EXPECT_EQ(decide("complete", "0f8fad5b-d9cb-469f-a165-70867728950e").status, 404);
  EXPECT_EQ(send("POST", "/_control/estimator/complete", "127.0.0.1",
                 {{"Content-Type", "application/json"}}, "{\"id\": 5}")
                .status,
            400);
  EXPECT_EQ(send("GET", "/_control/estimator/complete").status, 405);
  EXPECT_EQ(decide("finish-everything", toFail).status, 404);
}

TEST_F(DashboardRoutesTest, TheEventStreamCarriesStoreChangesFromThePagesPosition) {
  const auto page = get("/dashboard/").body;
  std::smatch feed;
  ASSERT_TRUE(std::regex_search(page, feed, std::regex("data-feed=\"([0-9a-f]+-[0-9]+)\"")));

  // A change made after the page was read reaches the page's stream.
  const auto id = create();
  const auto events = get("/dashboard/events?after=" + feed[1].str());
  ASSERT_EQ(events.status, 200);
  EXPECT_EQ(http::findHeader(events.headers, "Content-Type"), "text/event-stream; charset=utf-8");
  EXPECT_NE(events.body.find("event: change\ndata: {\"id\":\"" + id +
                             "\",\"kind\":\"create\",\"status\":\"requested\"}\n\n"),
            std::string::npos)
      << events.body;

  // The browser's own Last-Event-ID wins over the page's position.
  std::smatch last;
  ASSERT_TRUE(std::regex_search(events.body, last, std::regex("id: ([0-9a-f]+-[0-9]+)\n")));
  ASSERT_TRUE(store().remove(kOwner, id).ok());
  const auto next = send("GET", "/dashboard/events?after=" + feed[1].str(), "127.0.0.1",
                         {{"Last-Event-ID", last[1].str()}});
  EXPECT_EQ(next.body.find("\"kind\":\"create\""), std::string::npos) << next.body;
  EXPECT_NE(next.body.find("\"kind\":\"delete\""), std::string::npos) << next.body;
}

TEST_F(DashboardRoutesTest, StoppingTheEmulatorAnswersAHeldEventRequest) {
  bool answered = false;
  int status = 0;
  auto request = makeRequest("GET", "/dashboard/events", {{"Host", "localhost"}});
  request.remoteAddress = "127.0.0.1";
  emulator.router().dispatch(std::move(request), [&](Response response) {
    answered = true;
    status = response.status;
  });
  EXPECT_FALSE(answered) << "held until a change";
  emulator.stop();
  EXPECT_TRUE(answered);
  EXPECT_EQ(status, 204);
}

TEST_F(DashboardRoutesTest, TheReadyLineEndsWithTheDashboard) {
  const auto endpoints = emulator.endpoints();
  ASSERT_FALSE(endpoints.empty());
  EXPECT_EQ(endpoints.items().begin().key(), "base");
  auto last = endpoints.end();
  --last;
  EXPECT_EQ(last.key(), "dashboard");
  EXPECT_EQ(last->get<std::string>(), endpoints["base"].get<std::string>() + "/dashboard/");
}

}  // namespace
}  // namespace corvenza::emulator::dashboard
