#include "server/router.h"

#include <gtest/gtest.h>

namespace corvenza::emulator {
namespace {

class NamedService : public Service {
 public:
  explicit NamedService(std::string name) : name_(std::move(name)) {}
  std::string_view name() const override { return name_; }
  Response handle(const Request& request) override {
    return {200, {}, name_ + " " + request.subpath + " " + request.query};
  }

 private:
  std::string name_;
};

std::string route(const Router& router, const std::string& target) {
  std::string answer;
  router.dispatch(makeRequest("GET", target), [&](Response response) {
    answer = response.status == 200 ? response.body : std::to_string(response.status);
  });
  return answer;
}

TEST(RouterTest, LongestPrefixOnSegmentBoundariesWins) {
  Router router;
  router.mount("/graphql", std::make_shared<NamedService>("graphql"));
  router.mount("/graphql/realtime/", std::make_shared<NamedService>("realtime"));
  router.mount("/s3", std::make_shared<NamedService>("s3"));

  EXPECT_EQ(route(router, "/graphql"), "graphql  ");
  EXPECT_EQ(route(router, "/graphql/"), "graphql / ");
  EXPECT_EQ(route(router, "/graphql/realtime?header=abc"), "realtime  header=abc");
  EXPECT_EQ(route(router, "/graphql/realtimex"), "graphql /realtimex ");
  EXPECT_EQ(route(router, "/s3/bucket/a/b.jpg"), "s3 /bucket/a/b.jpg ");
  EXPECT_EQ(route(router, "/s3x"), "404");
  EXPECT_EQ(route(router, "/"), "404");
}

TEST(RouterTest, RemountReplacesAndRootCatchesTheRest) {
  Router router;
  router.mount("/s3", std::make_shared<NamedService>("old"));
  router.mount("/s3", std::make_shared<NamedService>("new"));
  router.mount("/", std::make_shared<NamedService>("root"));
  EXPECT_EQ(route(router, "/s3/k"), "new /k ");
  EXPECT_EQ(route(router, "/other"), "root /other ");
}

TEST(RouterTest, PlaceHolderAnswers501) {
  Router router;
  router.mount("/graphql", std::make_shared<NotImplementedService>("graphql"));
  EXPECT_EQ(route(router, "/graphql"), "501");
}

}  // namespace
}  // namespace corvenza::emulator
