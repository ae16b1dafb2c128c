#include "platform/http/retrying_transport.h"

#include <gtest/gtest.h>

#include <deque>

#include "platform/sigv4/clock_skew.h"
#include "testkit/fake_http_transport.h"

namespace corvenza::http {
namespace {

using namespace std::chrono_literals;
using test::FakeHttpTransport;

/// Runs scheduled work only when the test says so; remembers every delay.
class ManualScheduler {
 public:
  Scheduler scheduler() {
    return [this](std::chrono::milliseconds delay, std::function<void()> work) {
      auto handle = std::make_shared<Handle>();
      delays.push_back(delay);
      queue_.push_back({std::move(work), handle});
      return handle;
    };
  }
  /// Runs everything queued, including work queued meanwhile.
  void runAll() {
    while (!queue_.empty()) {
      auto entry = std::move(queue_.front());
      queue_.pop_front();
      if (!entry.handle->cancelled) entry.work();
    }
  }
  std::size_t queued() const { return queue_.size(); }
  std::vector<std::chrono::milliseconds> delays;

 private:
  struct Handle final : Cancellable {
    void cancel() override { cancelled = true; }
    bool cancelled = false;
  };
  struct Entry {
    std::function<void()> work;
    std::shared_ptr<Handle> handle;
  };
  std::deque<Entry> queue_;
};

class RetryingTransportTest : public ::testing::Test {
 protected:
  RetryOptions options(SkewSink skew = [](const HttpHeaders&) { return false; }) {
    RetryOptions o;
    o.random = [] { return 0.5; };
    o.scheduler = scheduler_.scheduler();
    o.skew = std::move(skew);
    o.prepare = [this](HttpRequest request, std::function<void(detail::Result<HttpRequest>)> next) {
      prepared_.push_back(request);
      request.headers.emplace_back("Authorization", "sig-" + std::to_string(prepared_.size()));
      next(std::move(request));
    };
    return o;
  }

  void start(RetryingTransport& transport, bool idempotent = true) {
    HttpRequest request;
    request.method = "POST";
    request.url = "https://api.example.com/graphql";
    request.body = "{}";
    request.idempotent = idempotent;
    handle_ = transport.send(request, [this](detail::Result<HttpResponse> outcome) {
      outcomes_.push_back(std::move(outcome));
    });
  }

  /// Delivers answers and runs timers until nothing moves.
  void settle() {
    while (inner_->deliver() > 0 || scheduler_.queued() > 0) scheduler_.runAll();
  }

  std::shared_ptr<FakeHttpTransport> inner_ = FakeHttpTransport::create();
  ManualScheduler scheduler_;
  std::vector<HttpRequest> prepared_;
  std::vector<detail::Result<HttpResponse>> outcomes_;
  std::shared_ptr<Cancellable> handle_;
};

TEST_F(RetryingTransportTest, RetriesAServerErrorWithAFreshSignature) {
  RetryingTransport transport(inner_, options());
  start(transport);
  inner_->respond(503, "busy");
  settle();
  ASSERT_TRUE(outcomes_.empty());
  ASSERT_EQ(scheduler_.delays, (std::vector<std::chrono::milliseconds>{750ms}));
  inner_->respond(200, "ok");
  settle();

  ASSERT_EQ(outcomes_.size(), 1u);
  ASSERT_TRUE(outcomes_[0].ok());
  EXPECT_EQ(outcomes_[0]->body, "ok");
  const auto sent = inner_->requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(findHeader(sent[0].headers, "Authorization"), "sig-1");
  EXPECT_EQ(findHeader(sent[1].headers, "Authorization"), "sig-2");
  // Each attempt is prepared from the caller's request, not the last signed one.
  ASSERT_EQ(prepared_.size(), 2u);
  EXPECT_FALSE(findHeader(prepared_[1].headers, "Authorization"));
}

// A creation sent twice makes two requests: once it may have reached the
// service, a mutation is not sent again.
TEST_F(RetryingTransportTest, ARequestThatMustNotRepeatIsResentOnlyWhenItNeverArrived) {
  struct Case {
    std::function<void(FakeHttpTransport&)> fail;
    bool resent;
  };
  const Case cases[] = {
      {[](FakeHttpTransport& t) { t.fail(kTransportConnectionLost); }, false},
      {[](FakeHttpTransport& t) { t.fail(kTransportTimedOut); }, false},
      {[](FakeHttpTransport& t) { t.respond(502, "bad gateway"); }, false},
      {[](FakeHttpTransport& t) { t.respond(500, "oops"); }, false},
      {[](FakeHttpTransport& t) { t.fail(kTransportCannotConnect); }, true},
      {[](FakeHttpTransport& t) { t.respond(503, "busy"); }, true},
      {[](FakeHttpTransport& t) { t.respond(429, "slow down"); }, true},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(index++);
    inner_ = FakeHttpTransport::create();
    outcomes_.clear();
    RetryingTransport transport(inner_, options());
    start(transport, /*idempotent=*/false);
    c.fail(*inner_);
    settle();
    if (c.resent) {
      EXPECT_TRUE(outcomes_.empty());
      inner_->respond(200, "ok");
      settle();
      EXPECT_EQ(inner_->requests().size(), 2u);
    } else {
      EXPECT_EQ(inner_->requests().size(), 1u);
      ASSERT_EQ(outcomes_.size(), 1u);
    }
  }
}

TEST_F(RetryingTransportTest, RetriesOnlyTransientFailures) {
  struct Case {
    const char* name;
    detail::Result<HttpResponse> outcome;
    bool retried;
  };
  auto response = [](int status, std::string body, HttpHeaders headers = {}) {
    return detail::Result<HttpResponse>(HttpResponse{status, std::move(headers), std::move(body)});
  };
  auto failure = [](int code) {
    return detail::Result<HttpResponse>(makeTransportError(code, "x"));
  };
  const std::vector<Case> cases = {
      {"500", response(500, ""), true},
      {"502", response(502, ""), true},
      {"504", response(504, ""), true},
      {"429", response(429, ""), true},
      {"json throttling", response(400, R"({"__type":"com.amazon#ThrottlingException"})"), true},
      {"json code", response(400, R"({"code":"TooManyRequestsException"})"), true},
      {"xml slow down", response(400, "<Error><Code>SlowDown</Code></Error>"), true},
      {"header", response(400, "", {{"x-amzn-ErrorType", "RequestLimitExceeded:http://x/"}}), true},
      {"timed out", failure(kTransportTimedOut), true},
      {"refused", failure(kTransportCannotConnect), true},
      {"lost", failure(kTransportConnectionLost), true},
      {"400 validation", response(400, R"({"__type":"ValidationException"})"), false},
      {"404", response(404, "<Error><Code>NoSuchKey</Code></Error>"), false},
      {"501", response(501, ""), false},
      {"200", response(200, ""), false},
      {"tls", failure(kTransportTLSFailure), false},
      {"file", failure(kTransportFileError), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    inner_ = FakeHttpTransport::create();
    outcomes_.clear();
    RetryingTransport transport(inner_, options());
    start(transport);
    inner_->respond(c.outcome);
    settle();
    EXPECT_EQ(inner_->requests().size(), c.retried ? 2u : 1u);
    EXPECT_EQ(outcomes_.size(), c.retried ? 0u : 1u);
    inner_->respond(200);  // ends the retry, which holds the fake through its callback
    settle();
  }
}

TEST_F(RetryingTransportTest, AttemptsAreBoundedAndTheLastOutcomeWins) {
  RetryingTransport transport(inner_, options());
  inner_->setResponder([](const HttpRequest&) {
    return detail::Result<HttpResponse>(HttpResponse{500, {}, "still broken"});
  });
  start(transport);
  settle();
  EXPECT_EQ(inner_->requests().size(), 3u);
  ASSERT_EQ(outcomes_.size(), 1u);
  ASSERT_TRUE(outcomes_[0].ok());
  EXPECT_EQ(outcomes_[0]->status, 500);
  EXPECT_EQ(scheduler_.delays, (std::vector<std::chrono::milliseconds>{750ms, 1500ms}));
}

TEST_F(RetryingTransportTest, ASkewedClockIsCorrectedAndRetriedAtOnce) {
  const auto deviceNow = std::chrono::system_clock::from_time_t(1'800'000'000);
  sigv4::ClockSkew skew([deviceNow] { return deviceNow; });
  RetryingTransport transport(inner_, options([&skew](const HttpHeaders& headers) {
                                return skew.updateFromHeaders(headers);
                              }));
  start(transport);
  // The server is ten minutes ahead (1'800'000'600 s).
  const HttpHeaders serverDate = {{"Date", "Fri, 15 Jan 2027 08:10:00 GMT"}};
  inner_->respond(403, R"({"__type":"InvalidSignatureException"})", serverDate);
  settle();
  EXPECT_EQ(skew.offset(), 600s);
  EXPECT_TRUE(scheduler_.delays.empty());
  ASSERT_EQ(inner_->requests().size(), 2u);
  EXPECT_EQ(prepared_.size(), 2u);

  // Refused again with the same server time: nothing to correct, no retry.
  inner_->respond(403, "<Error><Code>RequestTimeTooSkewed</Code></Error>", serverDate);
  settle();
  EXPECT_EQ(inner_->requests().size(), 2u);
  ASSERT_EQ(outcomes_.size(), 1u);
  EXPECT_EQ(outcomes_[0]->status, 403);
}

// A service that restarted or revoked them no longer knows the credentials:
// the request, even a creation, is signed with fresh ones and sent once more
// at once, and only once.
TEST_F(RetryingTransportTest, RefusedCredentialsAreForgottenAndTheRequestSignedAfreshOnce) {
  auto o = options();
  o.prepare = [this](HttpRequest request, std::function<void(detail::Result<HttpRequest>)> next) {
    prepared_.push_back(request);
    request.headers.emplace_back(
        "Authorization", "AWS4-HMAC-SHA256 Credential=KEY" + std::to_string(prepared_.size()) +
                             "/20270115/ap-northeast-1/appsync/aws4_request, "
                             "SignedHeaders=host, Signature=00");
    next(std::move(request));
  };
  std::vector<std::string> forgotten;
  o.refusedCredentials = [&forgotten](const std::string& accessKeyId) {
    forgotten.push_back(accessKeyId);
    return true;
  };
  RetryingTransport transport(inner_, o);
  start(transport, /*idempotent=*/false);
  inner_->respond(401, "", {{"x-amzn-ErrorType", "UnauthorizedException"}});
  settle();
  EXPECT_EQ(forgotten, std::vector<std::string>{"KEY1"});
  EXPECT_TRUE(scheduler_.delays.empty());
  ASSERT_EQ(inner_->requests().size(), 2u);

  inner_->respond(403, "<Error><Code>InvalidAccessKeyId</Code></Error>");
  settle();
  EXPECT_EQ(forgotten.size(), 1u);
  ASSERT_EQ(outcomes_.size(), 1u);
  EXPECT_EQ(outcomes_[0]->status, 403);
}

TEST_F(RetryingTransportTest, CancellingDuringBackoffStopsTheRetry) {
  RetryingTransport transport(inner_, options());
  start(transport);
  inner_->respond(503, "");
  inner_->deliver();
  ASSERT_EQ(scheduler_.queued(), 1u);
  handle_->cancel();
  handle_->cancel();
  settle();
  EXPECT_EQ(inner_->requests().size(), 1u);
  ASSERT_EQ(outcomes_.size(), 1u);
  ASSERT_FALSE(outcomes_[0].ok());
  EXPECT_EQ(outcomes_[0].error().code(), kTransportCancelled);
}

TEST_F(RetryingTransportTest, CancellingDuringAnAttemptCancelsItOnce) {
  RetryingTransport transport(inner_, options());
  start(transport);
  handle_->cancel();
  settle();
  EXPECT_EQ(inner_->cancelCount(), 1u);
  ASSERT_EQ(outcomes_.size(), 1u);
  EXPECT_EQ(outcomes_[0].error().code(), kTransportCancelled);
  EXPECT_TRUE(scheduler_.delays.empty());
}

TEST_F(RetryingTransportTest, APrepareFailureEndsTheRequestWithoutSendingOrCompletingInline) {
  auto o = options();
  o.prepare = [](HttpRequest, std::function<void(detail::Result<HttpRequest>)> next) {
    next(Error("CorvenzaSigningError", 7, std::nullopt, "no credentials"));
  };
  RetryingTransport transport(inner_, o);
  start(transport);
  EXPECT_TRUE(outcomes_.empty());
  settle();
  EXPECT_TRUE(inner_->requests().empty());
  ASSERT_EQ(outcomes_.size(), 1u);
  EXPECT_EQ(outcomes_[0].error().code(), 7);
}

TEST(ServiceErrorCodeTest, ReadsHeaderJsonAndXmlInThatOrder) {
  EXPECT_EQ(serviceErrorCode({400, {{"X-Amzn-ErrorType", "A:b"}}, R"({"__type":"B"})"}), "A");
  EXPECT_EQ(serviceErrorCode({400, {}, R"(  {"message":"m","__type":"ns#B"})"}), "B");
  EXPECT_EQ(serviceErrorCode({400, {}, "<Error><Code>C</Code><Message/></Error>"}), "C");
  EXPECT_EQ(serviceErrorCode({400, {}, "{not json"}), "");
  EXPECT_EQ(serviceErrorCode({500, {}, ""}), "");
}

}  // namespace
}  // namespace corvenza::http
