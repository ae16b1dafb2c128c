// Runs every case of the public signing test suite in both forms.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/sigv4/encoding.h"
#include "platform/sigv4/signer.h"

namespace corvenza::sigv4 {
namespace {

namespace fs = std::filesystem;

const fs::path kSuiteDir = fs::path(CORVENZA_TEST_DATA_DIR) / "sigv4-test-suite" / "v4";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The raw request of a case. Header values keep continuation lines so the
// signed request can be written back byte for byte.
struct RawRequest {
  std::string method;
  std::string target;
  http::HttpHeaders headers;
  std::string body;
};

RawRequest parseRawRequest(const std::string& text) {
  RawRequest raw;
  const auto headerEnd = text.find("\n\n");
  const std::string head = text.substr(0, headerEnd);
  if (headerEnd != std::string::npos) raw.body = text.substr(headerEnd + 2);
  std::istringstream lines(head);
  std::string line;
  std::getline(lines, line);
  raw.method = line.substr(0, line.find(' '));
  raw.target = line.substr(raw.method.size() + 1, line.rfind(" HTTP/1.1") - raw.method.size() - 1);
  while (std::getline(lines, line)) {
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      raw.headers.back().second += "\n" + line;
      continue;
    }
    const auto colon = line.find(':');
    raw.headers.emplace_back(line.substr(0, colon), line.substr(colon + 1));
  }
  return raw;
}

std::string renderRequest(const http::HttpRequest& request, const std::string& body) {
  const auto url = splitUrl(request.url);
  std::string target = url->path + (url->query.empty() ? "" : "?" + url->query);
  std::string out = request.method + " " + target + " HTTP/1.1\n";
  for (const auto& [name, value] : request.headers) out += name + ":" + value + "\n";
  return out + "\n" + body;
}

struct SuiteCase {
  SigningParams params;
  http::HttpRequest request;
  std::string body;
  std::chrono::seconds expires{0};
};

SuiteCase loadCase(const fs::path& dir) {
  const auto context = nlohmann::json::parse(readFile(dir / "context.json"));
  const auto raw = parseRawRequest(readFile(dir / "request.txt"));
  SuiteCase c;
  c.params.region = context["region"];
  c.params.service = context["service"];
  c.params.credentials.accessKeyId = context["credentials"]["access_key_id"];
  c.params.credentials.secretAccessKey = context["credentials"]["secret_access_key"];
  c.params.credentials.sessionToken = context["credentials"].value("token", "");
  c.params.time = *parseAmzDate("20150830T123600Z");
  EXPECT_EQ(context["timestamp"], "2015-08-30T12:36:00Z");
  c.params.normalizePath = context["normalize"];
  c.params.signBody = context["sign_body"];
  c.params.omitSessionToken = context.value("omit_session_token", false);
  c.expires = std::chrono::seconds(context["expiration_in_seconds"].get<int>());
  c.request.method = raw.method;
  c.request.headers = raw.headers;
  c.request.body = raw.body;
  c.request.url = "https://" + *http::findHeader(raw.headers, "host") + raw.target;
  c.body = raw.body;
  return c;
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kSuiteDir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string trimNewlines(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

class SigningSuite : public ::testing::TestWithParam<std::string> {
 protected:
  fs::path dir() const { return kSuiteDir / GetParam(); }
  std::string expected(const std::string& file) const { return readFile(dir() / file); }
};

TEST_P(SigningSuite, HeaderFormMatchesEveryIntermediateAndTheSignedRequest) {
  auto c = loadCase(dir());
  const auto result = signRequest(c.request, c.params);
  ASSERT_TRUE(result.ok()) << result.error().localizedDescription();
  EXPECT_EQ(result->canonicalRequest, expected("header-canonical-request.txt"));
  EXPECT_EQ(result->stringToSign, expected("header-string-to-sign.txt"));
  EXPECT_EQ(result->signature, trimNewlines(expected("header-signature.txt")));
  EXPECT_EQ(trimNewlines(renderRequest(c.request, c.body)),
            trimNewlines(expected("header-signed-request.txt")));
}

TEST_P(SigningSuite, QueryFormMatchesEveryIntermediateAndTheSignedRequest) {
  auto c = loadCase(dir());
  const auto result = presignRequest(c.request, c.params, c.expires);
  ASSERT_TRUE(result.ok()) << result.error().localizedDescription();
  EXPECT_EQ(result->canonicalRequest, expected("query-canonical-request.txt"));
  EXPECT_EQ(result->stringToSign, expected("query-string-to-sign.txt"));
  EXPECT_EQ(result->signature, trimNewlines(expected("query-signature.txt")));
  EXPECT_EQ(trimNewlines(renderRequest(c.request, c.body)),
            trimNewlines(expected("query-signed-request.txt")));
}

INSTANTIATE_TEST_SUITE_P(V4, SigningSuite, ::testing::ValuesIn(caseNames()), [](const auto& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

TEST(SigningSuiteData, HoldsAllThirtyEightCases) { EXPECT_EQ(caseNames().size(), 38u); }

}  // namespace
}  // namespace corvenza::sigv4
