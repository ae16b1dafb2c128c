// Subscribing to the user's request changes.

#include "requests/subscriptions.h"

#include <corvenza/console.h>

#include "auth/developer_identity_provider.h"
#include "auth/token_cache.h"
#include "requests/graphql_gateway.h"
#include "requests/operations.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza::requests {

namespace {

using WeakState = std::weak_ptr<ClientState>;
using WatcherPtr = ClientSession::Watcher;

// A copy of the listeners, so none is called with the lock held. None once
// the client is gone.
std::vector<RequestCallback> listeners(const WeakState& weak, SubscriptionKind kind) {
  auto state = weak.lock();
  return state ? state->session().listeners(kind) : std::vector<RequestCallback>{};
}

// The handler holds its client weakly: the client holds the watcher that
// holds the handler.
template <typename Operation, typename RootOf>
appsync::SubscriptionHandler eventHandler(WeakState state, SubscriptionKind kind, RootOf rootOf) {
  TypedHandler<Operation> typed = [state, kind, rootOf](
                                      std::optional<TypedResult<typename Operation::Data>> result,
                                      std::optional<Error> error) {
    auto root = (result && result->data) ? rootOf(*result->data) : std::nullopt;
    if (root) {
      auto record = std::make_shared<EstimationRequest>();
      record->id = root->id();
      record->status = root->status();
      if (auto held = state.lock(); held && held->catchUp().holdLive(held, kind, record)) return;
      for (auto& listener : listeners(state, kind)) listener(record, std::nullopt);
      return;
    }
    if (error) {
      consoleLine(error->localizedDescription());
      for (auto& listener : listeners(state, kind)) listener(nullptr, Errors{*error});
      return;
    }
    if (result && result->errors) {
      printErrors(*result->errors);
      for (auto& listener : listeners(state, kind)) listener(nullptr, *result->errors);
      return;
    }
    for (auto& listener : listeners(state, kind)) {
      listener(nullptr, Errors{CorvenzaError(CorvenzaErrorReason::unexpectedError)});
    }
  };
  return typedHandler<Operation>(std::move(typed));
}

// Tells the delegate the kind is live, and catches up with what changed
// while it was not; the handler runs on the main queue.
appsync::SubscriptionStarted startedHandler(WeakState weak, SubscriptionKind kind) {
  return [weak, kind] {
    auto state = weak.lock();
    if (!state) return;
    if (auto delegate = state->session().delegate()) delegate->estimationSubscriptionDidStart(kind);
    state->catchUp().started(state, kind);
  };
}

template <typename Operation, typename RootOf>
detail::Result<WatcherPtr> start(const StatePtr& state, GraphQLGateway& client,
                                 SubscriptionKind kind, const std::string& userId, RootOf rootOf) {
  return client.subscribe(makeGraphQLRequest(Operation(userId)), state->queue(),
                          eventHandler<Operation>(state, kind, rootOf),
                          startedHandler(state, kind));
}

detail::Result<WatcherPtr> startKind(const StatePtr& state, GraphQLGateway& client,
                                     SubscriptionKind kind, const std::string& userId) {
  switch (kind) {
    case SubscriptionKind::creation:
      return start<graphql::OnCreateEstimationRequestSubscription>(
          state, client, kind, userId,
          [](const auto& data) { return data.onCreateBodysizeEstimation(); });
    case SubscriptionKind::update:
      return start<graphql::OnUpdateEstimationRequestSubscription>(
          state, client, kind, userId,
          [](const auto& data) { return data.onUpdateBodysizeEstimation(); });
    case SubscriptionKind::deletion:
      break;
  }
  return start<graphql::OnDeleteEstimationRequestSubscription>(
      state, client, kind, userId,
      [](const auto& data) { return data.onDeleteBodysizeEstimation(); });
}

std::optional<CorvenzaToken> currentToken(const ClientState& state) {
  const auto bridge = state.services()->developerIdentityProvider;
  if (!bridge) return std::nullopt;
  auto provider = bridge->tokenProvider();
  if (!provider) return std::nullopt;
  return provider->token();
}

}  // namespace

void subscribe(const StatePtr& state, SubscriptionKind kind, RequestCallback callback,
               const std::string& name) {
  auto& impl = *state;
  if (!impl.session().addListener(kind, name, callback)) return;
  auto report = [&callback](Error error) {
    if (callback) callback(nullptr, Errors{std::move(error)});
  };

  auto token = currentToken(impl);
  if (!token) {
    report(CorvenzaError(kind == SubscriptionKind::deletion ? CorvenzaErrorReason::unexpectedError
                                                            : CorvenzaErrorReason::notSignedIn));
    return;
  }
  auto client = graphQLClient(impl);
  if (!client) {
    report(notInitializedError());
    return;
  }
  auto watcher = startKind(state, *client, kind, token->identityId);
  if (!watcher) {
    report(watcher.error());
    return;
  }

  // Another caller may have started the kind, or the last listener may have
  // gone, while this one was subscribing: keep one watcher, and none for an
  // empty map.
  if (auto discard = impl.session().keepWatcher(kind, std::move(watcher.value()))) {
    discard->cancel();
  }
}

void unsubscribe(ClientState& state, SubscriptionKind kind, const std::string& name) {
  if (auto watcher = state.session().removeListener(kind, name)) {
    watcher->cancel();
    state.catchUp().stopped(kind);
  }
}

void unsubscribeAll(ClientState& state) {
  for (auto& watcher : state.session().removeAllListeners()) watcher->cancel();
  for (const auto kind :
       {SubscriptionKind::creation, SubscriptionKind::update, SubscriptionKind::deletion}) {
    state.catchUp().stopped(kind);
  }
}

void subscribeAfterEnsuringToken(const StatePtr& state, SubscriptionKind kind,
                                 RequestCallback callback, const std::string& name) {
  auto keychain = state->services()->tokenCache;
  if (!keychain) {
    subscribe(state, kind, std::move(callback), name);
    return;
  }
  keychain->ensureToken([state, kind, name, callback = std::move(callback)](
                            std::optional<CorvenzaToken>, std::optional<Error>) {
    subscribe(state, kind, callback, name);
  });
}

}  // namespace corvenza::requests
