// Subscribing to the user's request changes.

#include "requests/subscriptions.h"

#include <corvenza/console.h>
#include <corvenza/default_token_provider.h>

#include "auth/developer_identity_provider.h"
#include "requests/graphql_gateway.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza::requests {

namespace {

using Impl = CorvenzaEnterprise::Instance::Impl;
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

// A copy of the listeners, so none is called with the lock held.
std::vector<RequestCallback> listeners(SubscriptionKind kind) {
  auto& impl = CorvenzaEnterprise::shared().impl();
  std::lock_guard lock(impl.subscriptionMutex);
  std::vector<RequestCallback> out;
  for (const auto& [name, callback] : callbacksOf(impl, kind)) {
    if (callback) out.push_back(callback);
  }
  return out;
}

// The handler reads the shared instance at each event rather than holding on
// to one state, which tests replace.
template <typename Operation, typename RootOf>
appsync::SubscriptionHandler eventHandler(SubscriptionKind kind, RootOf rootOf) {
  TypedHandler<Operation> typed = [kind, rootOf](
                                      std::optional<TypedResult<typename Operation::Data>> result,
                                      std::optional<Error> error) {
    auto root = (result && result->data) ? rootOf(*result->data) : std::nullopt;
    if (root) {
      auto record = std::make_shared<EstimationRequest>();
      record->id = root->id();
      record->status = root->status();
      for (auto& listener : listeners(kind)) listener(record, std::nullopt);
      return;
    }
    if (error) {
      consoleLine(error->localizedDescription());
      for (auto& listener : listeners(kind)) listener(nullptr, Errors{*error});
      return;
    }
    if (result && result->errors) {
      printErrors(*result->errors);
      for (auto& listener : listeners(kind)) listener(nullptr, *result->errors);
      return;
    }
    for (auto& listener : listeners(kind)) {
      listener(nullptr, Errors{CorvenzaError(CorvenzaErrorReason::unexpectedError)});
    }
  };
  return typedHandler<Operation>(std::move(typed));
}

// Tells the delegate the kind is live; the handler runs on the main queue.
appsync::SubscriptionStarted startedHandler(SubscriptionKind kind) {
  return [kind] {
    if (auto delegate = CorvenzaEnterprise::shared().delegate()) {
      delegate->estimationSubscriptionDidStart(kind);
    }
  };
}

template <typename Operation, typename RootOf>
detail::Result<WatcherPtr> start(GraphQLGateway& client, SubscriptionKind kind,
                                 const std::string& userId, RootOf rootOf) {
  return client.subscribe(makeGraphQLRequest(Operation(userId)), CorvenzaEnterprise::mainQueue(),
                          eventHandler<Operation>(kind, rootOf), startedHandler(kind));
}

detail::Result<WatcherPtr> startKind(GraphQLGateway& client, SubscriptionKind kind,
                                     const std::string& userId) {
  switch (kind) {
    case SubscriptionKind::creation:
      return start<graphql::OnCreateEstimationRequestSubscription>(
          client, kind, userId, [](const auto& data) { return data.onCreateBodysizeEstimation(); });
    case SubscriptionKind::update:
      return start<graphql::OnUpdateEstimationRequestSubscription>(
          client, kind, userId, [](const auto& data) { return data.onUpdateBodysizeEstimation(); });
    case SubscriptionKind::deletion:
      break;
  }
  return start<graphql::OnDeleteEstimationRequestSubscription>(
      client, kind, userId, [](const auto& data) { return data.onDeleteBodysizeEstimation(); });
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

void subscribe(Impl& impl, SubscriptionKind kind, RequestCallback callback,
               const std::string& name) {
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
  auto watcher = startKind(*client, kind, token->identityId);
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

}  // namespace corvenza::requests

namespace corvenza {

namespace {

// Class-level subscribes first give a DefaultTokenProvider the chance to
// refresh; whatever it answers, the instance-level subscribe decides.
void subscribeAfterEnsuringToken(requests::SubscriptionKind kind, RequestCallback callback,
                                 const std::string& name) {
  auto run = [kind, name](RequestCallback cb) {
    requests::subscribe(CorvenzaEnterprise::shared().impl(), kind, std::move(cb), name);
  };
  auto provider = CorvenzaEnterprise::defaultTokenProvider();
  if (!provider) {
    run(std::move(callback));
    return;
  }
  provider->ensureToken([run, callback = std::move(callback)](
                            std::optional<CorvenzaToken>, std::optional<Error>) { run(callback); });
}

}  // namespace

void CorvenzaEnterprise::subscribeCreationOfEstimationRequests(RequestCallback callback,
                                                               const std::string& name) {
  subscribeAfterEnsuringToken(requests::SubscriptionKind::creation, std::move(callback), name);
}
void CorvenzaEnterprise::subscribeUpdateOfEstimationRequests(RequestCallback callback,
                                                             const std::string& name) {
  subscribeAfterEnsuringToken(requests::SubscriptionKind::update, std::move(callback), name);
}
void CorvenzaEnterprise::subscribeDeletionOfEstimationRequesets(RequestCallback callback,
                                                                const std::string& name) {
  subscribeAfterEnsuringToken(requests::SubscriptionKind::deletion, std::move(callback), name);
}
void CorvenzaEnterprise::unsubscribeCreationOfEstimationRequests(const std::string& name) {
  shared().unsubscribeCreationOfEstimationRequests(name);
}
void CorvenzaEnterprise::unsubscribeUpdationOfEstimationRequests(const std::string& name) {
  shared().unsubscribeUpdationOfEstimationRequests(name);
}
void CorvenzaEnterprise::unsubscribeDeletionOfEstimationRequesets(const std::string& name) {
  shared().unsubscribeDeletionOfEstimationRequests(name);
}
void CorvenzaEnterprise::unsubscribeEstimationRequests(const std::string& name) {
  shared().unsubscribeEstimationRequests(name);
}
void CorvenzaEnterprise::unsubscribeAll() { shared().unsubscribeAll(); }

void CorvenzaEnterprise::Instance::subscribeCreationOfEstimationRequests(RequestCallback callback,
                                                                         const std::string& name) {
  requests::subscribe(*impl_, requests::SubscriptionKind::creation, std::move(callback), name);
}
void CorvenzaEnterprise::Instance::subscribeUpdateOfEstimationRequests(RequestCallback callback,
                                                                       const std::string& name) {
  requests::subscribe(*impl_, requests::SubscriptionKind::update, std::move(callback), name);
}
void CorvenzaEnterprise::Instance::subscribeDeletionOfEstimationRequesets(RequestCallback callback,
                                                                          const std::string& name) {
  requests::subscribe(*impl_, requests::SubscriptionKind::deletion, std::move(callback), name);
}
void CorvenzaEnterprise::Instance::unsubscribeCreationOfEstimationRequests(
    const std::string& name) {
  requests::unsubscribe(*impl_, requests::SubscriptionKind::creation, name);
}
void CorvenzaEnterprise::Instance::unsubscribeUpdationOfEstimationRequests(
    const std::string& name) {
  requests::unsubscribe(*impl_, requests::SubscriptionKind::update, name);
}
void CorvenzaEnterprise::Instance::unsubscribeDeletionOfEstimationRequests(
    const std::string& name) {
  requests::unsubscribe(*impl_, requests::SubscriptionKind::deletion, name);
}
void CorvenzaEnterprise::Instance::unsubscribeEstimationRequests(const std::string& name) {
  unsubscribeCreationOfEstimationRequests(name);
  unsubscribeUpdationOfEstimationRequests(name);
  unsubscribeDeletionOfEstimationRequests(name);
}
void CorvenzaEnterprise::Instance::unsubscribeAll() { requests::unsubscribeAll(*impl_); }

}  // namespace corvenza
