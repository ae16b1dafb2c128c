// Sign with the client's signer, check with the server's verifier.

#include <gtest/gtest.h>

#include "platform/sigv4/encoding.h"
#include "platform/sigv4/signer.h"
#include "sigv4_verifier.h"

namespace corvenza::sigv4 {
namespace {

using namespace std::chrono_literals;
using S = VerificationStatus;

const Credentials kTemporary{"ASIATEMPORARY", "temporary/secret+key",
                             "session/token+value=", std::nullopt};
const Credentials kPermanent{"AKIAPERMANENT", "permanent/secret+key", "", std::nullopt};
const auto kSignedAt = *parseAmzDate("20240301T101500Z");

CredentialsLookup lookup() {
  return [](std::string_view id) -> std::optional<Credentials> {
    if (id == kTemporary.accessKeyId) return kTemporary;
    if (id == kPermanent.accessKeyId) return kPermanent;
    return std::nullopt;
  };
}

SigningParams params(const Credentials& credentials, bool storage) {
  SigningParams p;
  p.region = "eu-central-1";
  p.service = storage ? "s3" : "appsync";
  p.credentials = credentials;
  p.time = kSignedAt;
  p.storageRules = storage;
  return p;
}

VerifierOptions options(bool storage) {
  VerifierOptions o;
  o.lookup = lookup();
  o.storageRules = storage;
  o.service = storage ? "s3" : "appsync";
  return o;
}

// What the server sees of a request the client signed.
ReceivedRequest received(const http::HttpRequest& sent) {
  const auto url = splitUrl(sent.url);
  ReceivedRequest r;
  r.method = sent.method;
  r.target = url->path + (url->query.empty() ? "" : "?" + url->query);
  r.headers = sent.headers;
  r.body = sent.body;
  return r;
}

http::HttpRequest upload() {
  http::HttpRequest request;
  request.method = "PUT";
  request.url = "http://127.0.0.1:9000/bucket/id%3A1/front%20photo.jpg?x-id=PutObject";
  request.headers = {{"Content-Type", "image/jpeg"},
                     {"x-amz-server-side-encryption", "aws:kms"},
                     {"User-Agent", "corvenza"}};
  request.body = std::string("\xff\xd8\xff\xe0 jpeg bytes", 15);
  return request;
}

http::HttpRequest graphql() {
  http::HttpRequest request;
  request.method = "POST";
  request.url = "http://localhost:8080/graphql";
  request.headers = {{"Content-Type", "application/json"}};
  request.body = R"({"query":"query { a }"})";
  return request;
}

TEST(Verifier, AcceptsWhatTheSignerProducesInEveryForm) {
  for (bool storage : {true, false}) {
    for (const auto* credentials : {&kTemporary, &kPermanent}) {
      auto sent = storage ? upload() : graphql();
      ASSERT_TRUE(signRequest(sent, params(*credentials, storage)).ok());
      const auto v = verifyRequest(received(sent), options(storage), kSignedAt + 14min);
      EXPECT_TRUE(v.ok()) << v.message << " storage=" << storage;
      EXPECT_EQ(v.accessKeyId, credentials->accessKeyId);
      EXPECT_EQ(v.sessionToken, credentials->sessionToken);
      EXPECT_EQ(v.region, "eu-central-1");
      EXPECT_FALSE(v.presigned);
    }
  }

  auto unsignedPayload = params(kTemporary, true);
  unsignedPayload.unsignedPayload = true;
  auto sent = upload();
  ASSERT_TRUE(signRequest(sent, unsignedPayload).ok());
  EXPECT_TRUE(verifyRequest(received(sent), options(true), kSignedAt).ok());

  const auto url =
      presignUrl("GET", "http://127.0.0.1:9000/bucket/a%20b.jpg", params(kTemporary, true), 900s);
  ASSERT_TRUE(url.ok());
  http::HttpRequest link;
  link.url = *url;
  link.headers = {{"Host", "127.0.0.1:9000"}};
  const auto v = verifyRequest(received(link), options(true), kSignedAt + 900s);
  EXPECT_TRUE(v.ok()) << v.message;
  EXPECT_TRUE(v.presigned);
  EXPECT_EQ(v.sessionToken, kTemporary.sessionToken);
}

TEST(Verifier, RejectsTamperingWithTheRightReason) {
  auto signedUpload = upload();
  ASSERT_TRUE(signRequest(signedUpload, params(kTemporary, true)).ok());
  const auto check = [](ReceivedRequest r, bool storage = true) {
    return verifyRequest(r, options(storage), kSignedAt).status;
  };

  auto r = received(signedUpload);
  http::setHeader(r.headers, "Content-Type", "image/png");
  EXPECT_EQ(check(r), S::signatureMismatch);

  r = received(signedUpload);
  r.target += "&extra=1";
  EXPECT_EQ(check(r), S::signatureMismatch);

  r = received(signedUpload);
  r.target = "/bucket/id%3A1/side%20photo.jpg?x-id=PutObject";
  EXPECT_EQ(check(r), S::signatureMismatch);

  r = received(signedUpload);
  r.body = "other bytes";
  EXPECT_EQ(check(r), S::contentHashMismatch);

  r = received(signedUpload);
  http::removeHeader(r.headers, "x-amz-server-side-encryption");
  EXPECT_EQ(check(r), S::malformed);

  r = received(signedUpload);
  http::setHeader(r.headers, "X-Amz-Security-Token", "someone/else");
  EXPECT_EQ(check(r), S::invalidSessionToken);
  http::removeHeader(r.headers, "X-Amz-Security-Token");
  EXPECT_EQ(check(r), S::invalidSessionToken);

  // An unsigned header may be added on the way without harm.
  r = received(signedUpload);
  r.headers.emplace_back("X-Forwarded-For", "10.0.0.1");
  EXPECT_EQ(check(r), S::verified);

  auto graph = graphql();
  ASSERT_TRUE(signRequest(graph, params(kPermanent, false)).ok());
  r = received(graph);
  r.body = R"({"query":"mutation { drop }"})";
  EXPECT_EQ(check(r, false), S::signatureMismatch);
  EXPECT_EQ(verifyRequest(received(graph), options(true), kSignedAt).status, S::malformed)
      << "a service request checked against the storage's scope";
}

TEST(Verifier, EnforcesTheTimeWindows) {
  auto sent = graphql();
  ASSERT_TRUE(signRequest(sent, params(kPermanent, false)).ok());
  const auto at = [&](auto now) {
    return verifyRequest(received(sent), options(false), now).status;
  };
  EXPECT_EQ(at(kSignedAt + 15min), S::verified);
  EXPECT_EQ(at(kSignedAt - 15min), S::verified);
  EXPECT_EQ(at(kSignedAt + 15min + 1s), S::requestTimeSkewed);
  EXPECT_EQ(at(kSignedAt - 15min - 1s), S::requestTimeSkewed);

  const auto url = presignUrl("GET", "http://h:9000/b/k", params(kPermanent, true), 3600s);
  http::HttpRequest link;
  link.url = *url;
  link.headers = {{"Host", "h:9000"}};
  const auto linkAt = [&](auto now) {
    return verifyRequest(received(link), options(true), now).status;
  };
  EXPECT_EQ(linkAt(kSignedAt + 3600s), S::verified);
  EXPECT_EQ(linkAt(kSignedAt + 3601s), S::expired);
  EXPECT_EQ(linkAt(kSignedAt - 16min), S::requestTimeSkewed);
}

TEST(Verifier, ReportsMissingMalformedAndUnknownCredentials) {
  ReceivedRequest bare;
  bare.method = "GET";
  bare.target = "/b/k";
  bare.headers = {{"Host", "h"}};
  EXPECT_EQ(verifyRequest(bare, options(true), kSignedAt).status, S::missingAuthentication);

  auto garbled = bare;
  garbled.headers.emplace_back("Authorization", "AWS4-HMAC-SHA256 Credential=x, Signature=y");
  EXPECT_EQ(verifyRequest(garbled, options(true), kSignedAt).status, S::malformed);

  auto unknown = upload();
  auto stranger = params(kPermanent, true);
  stranger.credentials.accessKeyId = "AKIASTRANGER";
  ASSERT_TRUE(signRequest(unknown, stranger).ok());
  EXPECT_EQ(verifyRequest(received(unknown), options(true), kSignedAt).status, S::unknownAccessKey);

  auto wrongSecret = upload();
  auto forged = params(kPermanent, true);
  forged.credentials.secretAccessKey = "guessed";
  ASSERT_TRUE(signRequest(wrongSecret, forged).ok());
  EXPECT_EQ(verifyRequest(received(wrongSecret), options(true), kSignedAt).status,
            S::signatureMismatch);

  auto badExpiry = bare;
  badExpiry.target =
      "/b/k?X-Amz-Algorithm=AWS4-HMAC-SHA256&X-Amz-Credential=AKIAPERMANENT%2F20240301%2F"
      "eu-central-1%2Fs3%2Faws4_request&X-Amz-Date=20240301T101500Z&X-Amz-Expires=604801"
      "&X-Amz-SignedHeaders=host&X-Amz-Signature=" +
      std::string(64, 'a');
  EXPECT_EQ(verifyRequest(badExpiry, options(true), kSignedAt).status, S::malformed);
}

TEST(Verifier, MessagesNeverCarrySecrets) {
  auto sent = upload();
  ASSERT_TRUE(signRequest(sent, params(kTemporary, true)).ok());
  const auto signature =
      http::findHeader(sent.headers, "Authorization")
          ->substr(http::findHeader(sent.headers, "Authorization")->find("Signature=") + 10);
  std::vector<ReceivedRequest> failures;
  for (int i = 0; i < 4; ++i) failures.push_back(received(sent));
  failures[0].body = "x";
  http::setHeader(failures[1].headers, "Content-Type", "x");
  http::setHeader(failures[2].headers, "X-Amz-Security-Token", "other");
  failures[3].target += "&y";
  for (const auto& r : failures) {
    for (auto now : {kSignedAt, kSignedAt + 1h}) {
      const auto v = verifyRequest(r, options(true), now);
      ASSERT_FALSE(v.ok());
      EXPECT_FALSE(v.message.empty());
      for (const auto& secret : {kTemporary.secretAccessKey, kTemporary.sessionToken, signature}) {
        EXPECT_EQ(v.message.find(secret), std::string::npos) << v.message;
      }
      EXPECT_TRUE(v.sessionToken.empty());
    }
  }
}

}  // namespace
}  // namespace corvenza::sigv4
