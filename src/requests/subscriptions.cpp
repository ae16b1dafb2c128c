// Subscribing to the user's request changes.

#include "requests/subscriptions.h"

#include <corvenza/console.h>
#include <corvenza/default_token_provider.h>

#include "auth/developer_identity_provider.h"
#include "requests/graphql_gateway.h"
#include "requests/operations.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza::requests {

namespace {

using Impl = ClientState;
using WeakState = std::weak_ptr<ClientState>;
using CallbackMap = std::map<std::string, RequestCallback>;
using WatcherPtr = std::shared_ptr<appsync::SubscriptionWatcher>;

CallbackMap& callbacksOf(Impl& impl, SubscriptionKind kind) {
  switch (kind) {
    case SubscriptionKind::creation:
      return impl.createSubscriptionCallbacks;
    case SubscriptionKind::update:
      return impl.updateSubscriptionCallbacks;
    case SubscriptionKind::deletion:
      break;
  }
  return impl.deleteSubscriptionCallbacks;
}

WatcherPtr& watcherOf(Impl& impl, SubscriptionKind kind) {
  switch (kind) {
    case SubscriptionKind::creation:
      return impl.createBodysizeEstimationSubscriptionWatcher;
    case SubscriptionKind::update:
      return impl.updateBodysizeEstimationSubscriptionWatcher;
    case SubscriptionKind::deletion:
      break;
  }
  return impl.deleteBodysizeEstimationSubscriptionWatcher;
}

// A copy of the listeners, so none is called with the lock held. None once
// the client is gone.
std::vector<RequestCallback> listeners(const WeakState& weak, SubscriptionKind kind) {
  auto state = weak.lock();
  if (!state) return {};
  auto& impl = *state;
  std::lock_guard lock(impl.subscriptionMutex);
  std::vector<RequestCallback> out;
  for (const auto& [name, callback] : callbacksOf(impl, kind)) {
    if (callback) out.push_back(callback);
  }
  return out;
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

// Tells the delegate the kind is live; the handler runs on the main queue.
appsync::SubscriptionStarted startedHandler(WeakState weak, SubscriptionKind kind) {
  return [weak, kind] {
    auto state = weak.lock();
    if (!state) return;
    std::shared_ptr<CorvenzaEnterpriseDelegate> delegate;
    {
      std::lock_guard lock(state->mutex);
      delegate = state->delegate;
    }
    if (delegate) delegate->estimationSubscriptionDidStart(kind);
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

std::optional<CorvenzaToken> currentToken(const Impl& impl) {
  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> bridge;
  {
    std::lock_guard lock(impl.mutex);
    bridge = impl.developerIdentityProvider;
  }
  if (!bridge) return std::nullopt;
  auto provider = bridge->tokenProvider();
  if (!provider) return std::nullopt;
  return provider->token();
}

}  // namespace

void subscribe(const StatePtr& state, SubscriptionKind kind, RequestCallback callback,
               const std::string& name) {
  auto& impl = *state;
  {
    std::lock_guard lock(impl.subscriptionMutex);
    callbacksOf(impl, kind)[name] = callback;
    if (watcherOf(impl, kind)) return;
  }
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
  WatcherPtr discard;
  {
    std::lock_guard lock(impl.subscriptionMutex);
    auto& slot = watcherOf(impl, kind);
    if (callbacksOf(impl, kind).empty()) {
      discard = std::move(watcher.value());
    } else {
      discard = std::exchange(slot, std::move(watcher.value()));
    }
  }
  if (discard) discard->cancel();
}

void unsubscribe(Impl& impl, SubscriptionKind kind, const std::string& name) {
  WatcherPtr watcher;
  {
    std::lock_guard lock(impl.subscriptionMutex);
    auto& callbacks = callbacksOf(impl, kind);
    callbacks.erase(name);
    if (callbacks.empty()) watcher = std::exchange(watcherOf(impl, kind), nullptr);
  }
  if (watcher) watcher->cancel();
}

void unsubscribeAll(Impl& impl) {
  std::vector<WatcherPtr> watchers;
  {
    std::lock_guard lock(impl.subscriptionMutex);
    impl.createSubscriptionCallbacks.clear();
    impl.updateSubscriptionCallbacks.clear();
    impl.deleteSubscriptionCallbacks.clear();
    for (auto kind :
         {SubscriptionKind::creation, SubscriptionKind::update, SubscriptionKind::deletion}) {
      watchers.push_back(std::exchange(watcherOf(impl, kind), nullptr));
    }
  }
  for (auto& watcher : watchers) {
    if (watcher) watcher->cancel();
  }
}

void subscribeAfterEnsuringToken(const StatePtr& state, SubscriptionKind kind,
                                 RequestCallback callback, const std::string& name) {
  std::shared_ptr<CorvenzaTokenProvider> provider;
  {
    std::lock_guard lock(state->mutex);
    provider = state->tokenProvider;
  }
  auto keychain = std::dynamic_pointer_cast<DefaultTokenProvider>(provider);
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
