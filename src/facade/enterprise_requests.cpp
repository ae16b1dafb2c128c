// The facade's request operations and subscriptions: each runs the shared
// instance's client operation.

#include <corvenza/default_token_provider.h>
#include <corvenza/enterprise.h>

#include "creation/create_estimation_request.h"
#include "requests/operations.h"
#include "requests/subscriptions.h"

namespace corvenza {

using requests::SubscriptionKind;

// --- class level ------------------------------------------------------------

void CorvenzaEnterprise::createEstimationRequest(const EstimationParameter& estimationParameter,
                                                 RequestCallback callback) {
  shared().createEstimationRequest(estimationParameter, std::move(callback));
}
void CorvenzaEnterprise::getEstimationRequest(const std::string& id, RequestCallback callback) {
  shared().getEstimationRequest(id, std::move(callback));
}
void CorvenzaEnterprise::listEstimationRequests(std::optional<int> limit,
                                                std::optional<std::string> nextToken,
                                                ListCallback callback) {
  shared().listEstimationRequests(limit, std::move(nextToken), std::move(callback));
}
void CorvenzaEnterprise::updateEstimationRequest(const std::string& id,
                                                 const EstimationParameter& estimationParameter,
                                                 RequestCallback callback) {
  shared().updateEstimationRequest(id, estimationParameter, std::move(callback));
}
void CorvenzaEnterprise::deleteEstimationRequest(const std::string& id, RequestCallback callback) {
  shared().deleteEstimationRequest(id, std::move(callback));
}

// Class-level subscribes first give a DefaultTokenProvider the chance to refresh.
void CorvenzaEnterprise::subscribeCreationOfEstimationRequests(RequestCallback callback,
                                                               const std::string& name) {
  requests::subscribeAfterEnsuringToken(shared().state_, SubscriptionKind::creation,
                                        std::move(callback), name);
}
void CorvenzaEnterprise::subscribeUpdateOfEstimationRequests(RequestCallback callback,
                                                             const std::string& name) {
  requests::subscribeAfterEnsuringToken(shared().state_, SubscriptionKind::update,
                                        std::move(callback), name);
}
void CorvenzaEnterprise::subscribeDeletionOfEstimationRequesets(RequestCallback callback,
                                                                const std::string& name) {
  requests::subscribeAfterEnsuringToken(shared().state_, SubscriptionKind::deletion,
                                        std::move(callback), name);
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

std::shared_ptr<DefaultTokenProvider> CorvenzaEnterprise::defaultTokenProvider() {
  return std::dynamic_pointer_cast<DefaultTokenProvider>(tokenProvider());
}

void CorvenzaEnterprise::clearCredentials() { requests::signOut(shared().impl()); }

// --- instance level ---------------------------------------------------------

void CorvenzaEnterprise::Instance::createEstimationRequest(
    const EstimationParameter& estimationParameter, RequestCallback callback) {
  creation::createEstimationRequest(state_, estimationParameter, std::move(callback));
}
void CorvenzaEnterprise::Instance::getEstimationRequest(const std::string& id,
                                                        RequestCallback callback) {
  requests::getEstimationRequest(state_, id, std::move(callback));
}
void CorvenzaEnterprise::Instance::listEstimationRequests(std::optional<int> limit,
                                                          std::optional<std::string> nextToken,
                                                          ListCallback callback) {
  requests::listEstimationRequests(state_, limit, std::move(nextToken), std::move(callback));
}
void CorvenzaEnterprise::Instance::updateEstimationRequest(
    const std::string& id, const EstimationParameter& estimationParameter,
    RequestCallback callback) {
  requests::updateEstimationRequest(state_, id, estimationParameter, std::move(callback));
}
void CorvenzaEnterprise::Instance::deleteEstimationRequest(const std::string& id,
                                                           RequestCallback callback) {
  requests::deleteEstimationRequest(state_, id, std::move(callback));
}

// The instance-level subscribes do not ask the token provider to refresh.
void CorvenzaEnterprise::Instance::subscribeCreationOfEstimationRequests(RequestCallback callback,
                                                                         const std::string& name) {
  requests::subscribe(state_, SubscriptionKind::creation, std::move(callback), name);
}
void CorvenzaEnterprise::Instance::subscribeUpdateOfEstimationRequests(RequestCallback callback,
                                                                       const std::string& name) {
  requests::subscribe(state_, SubscriptionKind::update, std::move(callback), name);
}
void CorvenzaEnterprise::Instance::subscribeDeletionOfEstimationRequesets(RequestCallback callback,
                                                                          const std::string& name) {
  requests::subscribe(state_, SubscriptionKind::deletion, std::move(callback), name);
}
void CorvenzaEnterprise::Instance::unsubscribeCreationOfEstimationRequests(
    const std::string& name) {
  requests::unsubscribe(*state_, SubscriptionKind::creation, name);
}
void CorvenzaEnterprise::Instance::unsubscribeUpdationOfEstimationRequests(
    const std::string& name) {
  requests::unsubscribe(*state_, SubscriptionKind::update, name);
}
void CorvenzaEnterprise::Instance::unsubscribeDeletionOfEstimationRequests(
    const std::string& name) {
  requests::unsubscribe(*state_, SubscriptionKind::deletion, name);
}
void CorvenzaEnterprise::Instance::unsubscribeEstimationRequests(const std::string& name) {
  unsubscribeCreationOfEstimationRequests(name);
  unsubscribeUpdationOfEstimationRequests(name);
  unsubscribeDeletionOfEstimationRequests(name);
}
void CorvenzaEnterprise::Instance::unsubscribeAll() { requests::unsubscribeAll(*state_); }

}  // namespace corvenza
