#pragma once
// The one step from a GraphQL operation's outcome to the caller's answer, shared
// by get, list, update and delete. Every operation checks in the same order:
// a transport or client error, no result at all, the service's own errors,
// then the operation's root field. Where they differ (which error stands for
// a missing answer, whether the answer takes one more trip through the main
// queue) is a rule each passes in, not code each writes out.

#include <corvenza/console.h>
#include <corvenza/main_queue.h>

#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza::requests {

struct AnswerRules {
  /// Neither a result nor an error came back.
  Error noResult;
  /// The result lacks the operation's root field (for a read: no such request).
  Error noRoot;
  /// When the answer goes through the main queue once more, so that it always
  /// runs after the handler that received the result has returned.
  enum class Hop { never, always, onServiceErrors };
  Hop hop = Hop::never;
  /// The queue of that trip; required unless hop is never.
  std::shared_ptr<MainQueue> queue;
};

/// Takes the root out of @p result with @p extract (which returns an optional)
/// and calls @p deliver(root, errors) exactly once: the root and no errors, or
/// no root and the errors that explain why.
template <typename Data, typename Extract, typename Deliver>
void answerFromResult(std::optional<TypedResult<Data>> result, std::optional<Error> error,
                      const AnswerRules& rules, Extract extract, Deliver deliver) {
  using Root = std::invoke_result_t<Extract, const Data&>;
  Root root;
  std::optional<Errors> errors;
  bool fromService = false;
  if (error) {
    consoleLine(error->localizedDescription());
    errors = Errors{*error};
  } else if (!result) {
    errors = Errors{rules.noResult};
  } else if (result->errors) {
    printErrors(*result->errors);
    errors = std::move(result->errors);
    fromService = true;
  } else {
    if (result->data) root = extract(*result->data);
    if (!root) errors = Errors{rules.noRoot};
  }
  const bool hop = rules.hop == AnswerRules::Hop::always ||
                   (rules.hop == AnswerRules::Hop::onServiceErrors && fromService);
  if (!hop) {
    deliver(std::move(root), std::move(errors));
    return;
  }
  rules.queue->async(
      [deliver = std::move(deliver), root = std::move(root), errors = std::move(errors)]() mutable {
        deliver(std::move(root), std::move(errors));
      });
}

}  // namespace corvenza::requests
