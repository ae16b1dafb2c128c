// Faults as tests write them: JSON through the control interface, key=value
// lists on the command line. Mistakes are refused with the reason, since a
// fault that silently never fires would make a test pass for nothing.

#include "faults/fault_parse.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace corvenza::emulator::faults {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

Fault parsed(const json& object) {
  auto fault = faultFromJson(object);
  EXPECT_TRUE(fault.ok()) << object.dump() << ": "
                          << (fault.ok() ? "" : fault.error().localizedDescription());
  return fault.ok() ? *fault : Fault{};
}

std::string refusal(const json& object) {
  auto fault = faultFromJson(object);
  EXPECT_FALSE(fault.ok()) << object.dump();
  return fault.ok() ? "" : fault.error().localizedDescription();
}

TEST(FaultParseTest, ReadsEveryKeyAndFillsDefaults) {
  const auto fail =
      parsed({{"route", "graphql"}, {"field", "createBodysizeEstimation"}, {"action", "fail"}});
  EXPECT_EQ(fail.route, Route::GraphQL);
  EXPECT_EQ(fail.field, "createBodysizeEstimation");
  EXPECT_EQ(fail.status, 500);
  EXPECT_EQ(fail.when, Timing::Before);
  EXPECT_EQ(fail.times, 1);
  EXPECT_FALSE(fail.delay);
  EXPECT_FALSE(fail.body);

  const auto full = parsed({{"route", "storage"},
                            {"method", "put"},
                            {"action", "fail"},
                            {"status", 503},
                            {"body", "<Error/>"},
                            {"content_type", "application/xml"},
                            {"delay_ms", 250},
                            {"when", "after"},
                            {"times", 3}});
  EXPECT_EQ(full.method, "PUT");
  EXPECT_EQ(full.status, 503);
  EXPECT_EQ(full.body, "<Error/>");
  EXPECT_EQ(full.contentType, "application/xml");
  EXPECT_EQ(full.delay, 250ms);
  EXPECT_EQ(full.when, Timing::After);
  EXPECT_EQ(full.times, 3);

  EXPECT_EQ(parsed({{"route", "auth"}, {"action", "malformed"}}).status, 200);
  EXPECT_FALSE(parsed({{"route", "auth"}, {"action", "drop"}, {"times", "always"}}).times);
  const auto stall =
      parsed({{"route", "realtime"}, {"field", "onUpdateBodysizeEstimation"}, {"action", "stall"}});
  EXPECT_EQ(stall.action, Action::Stall);
  EXPECT_FALSE(stall.delay);  // forever
  EXPECT_EQ(parsed({{"route", "identity"}, {"field", "GetId"}, {"action", "drop"}}).field, "GetId");
}

TEST(FaultParseTest, RefusesMistakesWithTheReason) {
  EXPECT_NE(refusal({{"route", "graphql"}}).find("action is required"), std::string::npos);
  EXPECT_NE(refusal({{"action", "fail"}}).find("route is required"), std::string::npos);
  EXPECT_NE(refusal({{"route", "gql"}, {"action", "fail"}}).find("route must be"),
            std::string::npos);
  EXPECT_NE(refusal({{"route", "auth"}, {"action", "explode"}}).find("action must be"),
            std::string::npos);
  EXPECT_NE(refusal({{"route", "auth"}, {"action", "fail"}, {"stauts", 503}}).find("stauts"),
            std::string::npos);
  // Field names are checked against what the route serves.
  EXPECT_NE(
      refusal({{"route", "graphql"}, {"field", "createBodySizeEstimation"}, {"action", "fail"}})
          .find("createBodySizeEstimation"),
      std::string::npos);
  refusal({{"route", "realtime"}, {"field", "createBodysizeEstimation"}, {"action", "fail"}});
  refusal({{"route", "identity"}, {"field", "GetToken"}, {"action", "fail"}});
  refusal({{"route", "storage"}, {"field", "x"}, {"action", "fail"}});
  // Values in range and of the right kind.
  for (const json& status : {json(99), json(600), json(-1), json("503"), json(503.5)}) {
    refusal({{"route", "auth"}, {"action", "fail"}, {"status", status}});
  }
  for (const json& delay :
       {json(-1), json(3'600'001), json("forever"), json(18446744073709551615ull)}) {
    refusal({{"route", "auth"}, {"action", "stall"}, {"delay_ms", delay}});
  }
  for (const json& times : {json(0), json(-2), json("never"), json(1.5)}) {
    refusal({{"route", "auth"}, {"action", "drop"}, {"times", times}});
  }
  refusal({{"route", "auth"}, {"action", "drop"}, {"when", "during"}});
  // Keys that would mean nothing for the action.
  EXPECT_NE(refusal({{"route", "auth"}, {"action", "drop"}, {"status", 503}})
                .find("fail and malformed only"),
            std::string::npos);
  refusal({{"route", "auth"}, {"action", "stall"}, {"body", "x"}});
  refusal({{"route", "auth"}, {"action", "fail"}, {"content_type", "text/plain\r\nX-Injected: 1"}});
  // A connection is either taken over or not: there is no "after" for it.
  refusal({{"route", "realtime"}, {"action", "drop"}, {"when", "after"}});
  refusal(json::array());
  refusal(json("route=auth"));
}

TEST(FaultParseTest, CommandLineFormMatchesTheJsonForm) {
  const auto argument = parseFaultArgument(
      "route=graphql,field=attachSideImage,action=fail,status=503,times=2,when=after,"
      "delay_ms=10");
  ASSERT_TRUE(argument.ok()) << argument.error().localizedDescription();
  const json expected = {{"route", "graphql"}, {"field", "attachSideImage"},
                         {"action", "fail"},   {"when", "after"},
                         {"status", 503},      {"delay_ms", 10},
                         {"times", 2}};
  const auto fromJson = faultFromJson(expected);
  ASSERT_TRUE(fromJson.ok());
  EXPECT_EQ(faultToJson(*argument), faultToJson(*fromJson));

  EXPECT_FALSE(parseFaultArgument("route=auth,action=drop,times=always")->times);
  // JSON when a value needs a comma.
  const auto withBody = parseFaultArgument(R"({"route":"auth","action":"fail","body":"a,b"})");
  ASSERT_TRUE(withBody.ok());
  EXPECT_EQ(withBody->body, "a,b");

  for (const auto* bad : {"", "route", "route=auth,=x,action=fail", "route=auth,route=auth",
                          "route=auth,action=fail,status=5xx", "{\"route\":", "route=auth,",
                          "route=auth,action=fail,body=\xff\xfe"}) {
    EXPECT_FALSE(parseFaultArgument(bad).ok()) << bad;
  }
}

TEST(FaultParseTest, ListedFormReadsBackToTheSameFault) {
  for (const json& object :
       {json{{"route", "graphql"}, {"action", "drop"}, {"when", "after"}, {"times", "always"}},
        json{{"route", "realtime"}, {"action", "stall"}, {"delay_ms", 0}},
        json{{"route", "identity"},
             {"field", "GetCredentialsForIdentity"},
             {"method", "POST"},
             {"action", "malformed"},
             {"status", 502},
             {"body", "{"}}}) {
    const auto first = faultFromJson(object);
    ASSERT_TRUE(first.ok()) << object.dump();
    const auto again = faultFromJson(json(faultToJson(*first)));
    ASSERT_TRUE(again.ok()) << faultToJson(*first).dump();
    EXPECT_EQ(faultToJson(*again), faultToJson(*first));
  }
}

}  // namespace
}  // namespace corvenza::emulator::faults
