#pragma once
// What went wrong, in words: the tool's reading of the library's errors,
// with the context a command has (the request id, the service's host).

#include <corvenza/error.h>

#include <string>

namespace corvenza::cli {

/// The operation a command ran, for messages that depend on it.
enum class Operation { other, read, list, update, remove };

/// What the command was doing, for messages that need it.
struct ErrorContext {
  /// The request the command was about, when there is one.
  std::string requestId;
  Operation operation = Operation::other;
};

/// One line for people: what happened, then the domain and code for
/// scripts, e.g. "no request abc for this user (CorvenzaError 2000)".
std::string describeError(const Error& error, const ErrorContext& context = {});

/// The host of the GraphQL service the tool talks to, for messages: the
/// facade's, unless a command running a client of its own named its endpoint.
std::string serviceHost();
void setServiceEndpoint(std::string endpoint);

/// What the library wrote of an error while it started, if anything: a part
/// it could not build fails only later, as "not started", with these words.
void setStartupProblem(std::string words);

}  // namespace corvenza::cli
