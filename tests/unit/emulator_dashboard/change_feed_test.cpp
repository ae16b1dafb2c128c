// The dashboard's live feed: the event-stream format, and how held requests
// are answered, resumed and reset.

#include "dashboard/change_feed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "dashboard/server_sent_events.h"

namespace corvenza::emulator::dashboard {
namespace {

TEST(ServerSentEvents, FramesFieldsAndEndsWithABlankLine) {
  EXPECT_EQ(formatEvent({"r-1", "change", R"({"id":"a"})"}),
            "id: r-1\nevent: change\ndata: {\"id\":\"a\"}\n\n");
  EXPECT_EQ(formatEvent({"", "", "x"}), "data: x\n\n");
  EXPECT_EQ(formatEvent({"", "", ""}), "data: \n\n");
  EXPECT_EQ(formatRetry(std::chrono::milliseconds(250)), "retry: 250\n\n");
  EXPECT_EQ(formatPosition("r-7"), "id: r-7\n\n");
}

TEST(ServerSentEvents, LineBreaksCannotStartFieldsOrEndTheEventEarly) {
  // Every kind of line break in data becomes its own data line.
  EXPECT_EQ(formatEvent({"", "", "a\nb\r\nc\rd"}), "data: a\ndata: b\ndata: c\ndata: d\n\n");
  EXPECT_EQ(formatEvent({"", "", "end\n"}), "data: end\ndata: \n\n");
  // Breaks in the id or type would smuggle in a field of their own.
  EXPECT_EQ(formatEvent({"1\nevent: evil", "change\r\ndata: x", "y"}),
            "id: 1event: evil\nevent: changedata: x\ndata: y\n\n");
  EXPECT_EQ(formatPosition("a\n\nb"), "id: ab\n\n");
}

// Collects one answer; waits for it at most a few seconds.
class Answer {
 public:
  Service::Responder responder() {
    return [this](Response response) {
      std::lock_guard lock(mutex_);
      response_ = std::move(response);
      ++count_;
      ready_.notify_all();
    };
  }
  std::optional<Response> wait() {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, std::chrono::seconds(5), [this] { return count_ > 0; });
    return response_;
  }
  bool answered() {
    std::lock_guard lock(mutex_);
    return count_ > 0;
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::optional<Response> response_;
  int count_ = 0;
};

std::string runOf(const std::string& position) { return position.substr(0, position.find('-')); }

TEST(ChangeFeed, AHeldRequestIsAnsweredByTheNextEvent) {
  ChangeFeed feed(std::chrono::hours(1));
  const auto start = feed.position();
  Answer answer;
  feed.subscribe(start, answer.responder());
  EXPECT_FALSE(answer.answered());
  EXPECT_EQ(feed.waitingCount(), 1u);

  feed.publish("change", R"({"id":"x"})");
  const auto response = answer.wait();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(http::findHeader(response->headers, "Content-Type"),
            "text/event-stream; charset=utf-8");
  EXPECT_EQ(response->body,
            "retry: 250\n\nid: " + feed.position() + "\nevent: change\ndata: {\"id\":\"x\"}\n\n");
  EXPECT_EQ(feed.waitingCount(), 0u);
}

TEST(ChangeFeed, AReturningBrowserGetsEverythingItMissedAtOnce) {
  ChangeFeed feed(std::chrono::hours(1));
  const auto start = feed.position();
  feed.publish("change", "1");
  const auto afterFirst = feed.position();
  feed.publish("change", "2");
  feed.publish("change", "3");

  Answer all;
  feed.subscribe(start, all.responder());
  ASSERT_TRUE(all.answered());
  const auto body = all.wait()->body;
  EXPECT_NE(body.find("data: 1\n"), std::string::npos);
  EXPECT_LT(body.find("data: 2\n"), body.find("data: 3\n"));

  Answer rest;
  feed.subscribe(afterFirst, rest.responder());
  ASSERT_TRUE(rest.answered());
  EXPECT_EQ(rest.wait()->body.find("data: 1\n"), std::string::npos);
  EXPECT_NE(rest.wait()->body.find("data: 3\n"), std::string::npos);
}

TEST(ChangeFeed, PositionsItCannotContinueFromGetAReset) {
  ChangeFeed feed(std::chrono::hours(1));
  for (std::size_t i = 0; i < ChangeFeed::kKeptEvents + 2; ++i) feed.publish("change", "{}");
  const auto run = runOf(feed.position());
  for (const std::string& after : {std::string("other-1"), run + "-0", run + "-999999", run + "-x",
                                   run + "-", std::string("garbage"), std::string()}) {
    Answer answer;
    feed.subscribe(after, answer.responder());
    ASSERT_TRUE(answer.answered()) << after;
    const auto body = answer.wait()->body;
    EXPECT_NE(body.find("event: reset\n"), std::string::npos) << after << ": " << body;
    EXPECT_NE(body.find("id: " + feed.position() + "\n"), std::string::npos) << after;
  }
  // The oldest event still kept can be continued from.
  Answer kept;
  feed.subscribe(run + "-2", kept.responder());
  ASSERT_TRUE(kept.answered());
  EXPECT_EQ(kept.wait()->body.find("event: reset"), std::string::npos);
}

TEST(ChangeFeed, AQuietHoldEndsWithThePositionAndNoEvent) {
  ChangeFeed feed(std::chrono::milliseconds(20));
  Answer answer;
  feed.subscribe(std::nullopt, answer.responder());
  const auto response = answer.wait();
  ASSERT_TRUE(response) << "the hold never ended";
  EXPECT_EQ(response->body, "retry: 250\n\nid: " + feed.position() + "\n\n");
}

TEST(ChangeFeed, TooManyWaitingBrowsersAnswerTheOldestFirst) {
  ChangeFeed feed(std::chrono::hours(1));
  std::vector<std::unique_ptr<Answer>> answers;
  for (std::size_t i = 0; i <= ChangeFeed::kMaxWaiting; ++i) {
    answers.push_back(std::make_unique<Answer>());
    feed.subscribe(std::nullopt, answers.back()->responder());
  }
  EXPECT_TRUE(answers.front()->answered());
  EXPECT_FALSE(answers.back()->answered());
  EXPECT_EQ(feed.waitingCount(), ChangeFeed::kMaxWaiting);
  feed.close();
}

TEST(ChangeFeed, BrowsersArrivingWhileTheFeedWaitsAreAllHeld) {
  // The feed's thread waits for the first hold to end while later browsers
  // grow the list under it; it must not read the moved-away first entry (a
  // sanitizer build catches that).
  ChangeFeed feed(std::chrono::hours(1));
  std::vector<std::unique_ptr<Answer>> answers;
  const auto arrive = [&] {
    answers.push_back(std::make_unique<Answer>());
    feed.subscribe(std::nullopt, answers.back()->responder());
  };
  arrive();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the thread wait on it
  for (int i = 0; i < 40; ++i) arrive();
  EXPECT_EQ(feed.waitingCount(), 41u);
  feed.close();
  for (const auto& answer : answers) EXPECT_EQ(answer->count(), 1);
}

TEST(ChangeFeed, ClosingAnswersEveryoneOnceAndEndsTheirStreams) {
  ChangeFeed feed(std::chrono::hours(1));
  Answer held;
  feed.subscribe(std::nullopt, held.responder());
  feed.close();
  ASSERT_TRUE(held.answered());
  EXPECT_EQ(held.wait()->status, 204);

  Answer late;
  feed.subscribe(std::nullopt, late.responder());
  ASSERT_TRUE(late.answered());
  EXPECT_EQ(late.wait()->status, 204);

  const auto before = feed.position();
  feed.publish("change", "{}");
  EXPECT_EQ(feed.position(), before) << "a closed feed records nothing";
  feed.close();
  EXPECT_EQ(held.count(), 1);
}

}  // namespace
}  // namespace corvenza::emulator::dashboard
