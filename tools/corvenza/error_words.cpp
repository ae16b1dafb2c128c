#include "error_words.h"

#include <corvenza/enterprise.h>

namespace corvenza::cli {

namespace {

// The storage error of a bucket, key or endpoint that cannot be used.
constexpr int kStorageInvalidLocation = 2;

std::string info(const Error& error, const char* key) {
  return error.userInfoValue(key).value_or("");
}

std::string stepWords(const std::string& step) {
  if (step == "create") return "creating the request";
  if (step == "front photo") return "uploading and attaching the front photo";
  if (step == "side photo") return "uploading and attaching the side photo";
  if (step == "read back") return "reading the request back";
  return "working";
}

std::string operationWords(Operation operation) {
  switch (operation) {
    case Operation::read:
      return "reading the request";
    case Operation::list:
      return "listing requests";
    case Operation::update:
      return "updating the request";
    case Operation::remove:
      return "deleting the request";
    case Operation::other:
      break;
  }
  return "working";
}

// A change whose answer never came may have been made all the same.
std::string stalledWords(const Error& error, const ErrorContext& context) {
  const auto step = info(error, error_info::kStep);
  if (!step.empty()) return stepWords(step);
  auto words = operationWords(context.operation);
  if (context.operation == Operation::update || context.operation == Operation::remove) {
    words += "; the change may still have been applied";
  }
  return words;
}

std::string hostOf(const std::string& url) {
  const auto scheme = url.find("://");
  const auto start = scheme == std::string::npos ? 0 : scheme + 3;
  auto host = url.substr(start, url.find_first_of("/?#", start) - start);
  if (const auto at = host.rfind('@'); at != std::string::npos) host = host.substr(at + 1);
  return host;
}

std::string& startupProblem() {
  static std::string words;
  return words;
}

std::string what(const Error& error, const ErrorContext& context) {
  const auto& domain = error.domain();
  const auto status = info(error, error_info::kHttpStatus);
  const auto message = info(error, error_info::kServiceMessage);

  if (info(error, error_info::kReason) == "notFound") {
    auto id = info(error, error_info::kRequestId);
    return "no request " + (id.empty() ? context.requestId : id) + " for this user";
  }
  if (info(error, error_info::kService) == "authentication") {
    const auto said = message.empty() ? std::string() : ": " + message;
    if (status == "401" || status == "403") {
      return "the authentication service refused the API key (HTTP " + status + ")" + said;
    }
    // A success status with no token in it: the answer itself is at fault.
    if (status.starts_with('2')) {
      return "the authentication service's answer (HTTP " + status + ") could not be read" + said;
    }
    if (!status.empty()) return "the authentication service answered HTTP " + status + said;
    const auto underneath = info(error, error_info::kUnderlyingError);
    if (!underneath.empty()) return "cannot reach the authentication service: " + underneath;
    return "the authentication service gave no usable token";
  }
  if (domain == CorvenzaError::kDomain && error.code() == 1995) {
    // The queue's steps may have a limit of their own.
    const auto limit = info(error, "limitSeconds");
    return "no answer from " + serviceHost() + " within " + (limit.empty() ? "45" : limit) +
           " s while " + stalledWords(error, context);
  }
  if (domain == CorvenzaError::kDomain && error.code() == 1998) {
    const auto& problem = startupProblem();
    return "the library was not started (no usable configuration)" +
           (problem.empty() ? std::string() : ": " + problem);
  }
  if (domain == "CorvenzaTransportError")
    return "cannot reach the service: " + error.localizedDescription();
  if (domain == "CorvenzaIdentityServiceError") {
    return "the identity service refused to sign in: " + error.localizedDescription();
  }
  if (domain == "CorvenzaStorageError") {
    // A location that cannot be used is this side's set-up, not a refusal.
    if (error.code() == kStorageInvalidLocation) {
      return "photo storage is not set up: " + error.localizedDescription();
    }
    return "object storage refused the photo: " + error.localizedDescription();
  }
  if (domain == "CorvenzaGraphQLClientError") {
    return "the GraphQL service failed: " + error.localizedDescription();
  }
  if (domain == "GraphQLError") {
    // Update and delete of an id this user does not hold fail their condition.
    if (info(error, "errorType").find("ConditionalCheckFailed") != std::string::npos &&
        !context.requestId.empty()) {
      return "no request " + context.requestId + " for this user";
    }
    return "the service refused the request: " + error.localizedDescription();
  }
  if (const auto detail = info(error, error_info::kDetail); !detail.empty()) return detail;
  // The library's own words end in the domain and code the line gives anyway.
  auto text = error.localizedDescription();
  const auto code = " (" + domain + " " + std::to_string(error.code()) + ")";
  if (text.ends_with(code)) text.resize(text.size() - code.size());
  return text;
}

}  // namespace

namespace {
// Set by a command that runs a client of its own rather than the facade.
std::string& endpointOverride() {
  static std::string endpoint;
  return endpoint;
}
}  // namespace

void setServiceEndpoint(std::string endpoint) { endpointOverride() = std::move(endpoint); }

void setStartupProblem(std::string words) { startupProblem() = std::move(words); }

std::string serviceHost() {
  const auto& own = endpointOverride();
  const auto host = hostOf(own.empty() ? CorvenzaEnterprise::shared().graphQLEndpoint() : own);
  return host.empty() ? "the service" : host;
}

std::string describeError(const Error& error, const ErrorContext& context) {
  std::string line = what(error, context);
  if (const auto step = info(error, error_info::kStep); !step.empty() && error.code() != 1995) {
    line += " (while " + stepWords(step) + ")";
  }
  line += " [" + error.domain() + " " + std::to_string(error.code()) + "]";
  const auto step = info(error, error_info::kStep);
  const auto left = info(error, error_info::kRequestId);
  if (left.empty() || step.empty() || step == "create") return line;
  if (step == "read back") {
    // Both photos were attached before the read began: nothing is unfinished.
    line += "\ncorvenza: request " + left +
            " was made with both photos; only reading it back failed: see corvenza get " + left;
  } else {
    line += "\ncorvenza: request " + left +
            " was created and left unfinished; retry its photos or delete it";
  }
  return line;
}

}  // namespace corvenza::cli
