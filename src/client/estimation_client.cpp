#include <corvenza/estimation_client.h>

#include "client/client_setup.h"
#include "creation/create_estimation_request.h"
#include "requests/client_state.h"
#include "requests/operations.h"
#include "requests/subscriptions.h"

namespace corvenza {

namespace {

CorvenzaException setupError(const std::string& detail) {
  return CorvenzaException(
      CorvenzaError(CorvenzaErrorReason::unexpectedError, UserInfo{{error_info::kDetail, detail}}));
}

}  // namespace

std::shared_ptr<EstimationClient> EstimationClient::create(EstimationClientOptions options) {
  if (!options.tokenProvider) throw setupError("An EstimationClient needs a token provider");
  auto config = options.configuration ? *options.configuration
                                      : client::readConfiguration(options.configurationDirectory);

  auto state = std::make_shared<requests::ClientState>(
      std::move(options.mainQueue), std::move(options.transport),
      http::ConnectionSettings{std::move(options.caBundle), std::move(options.proxy)});
  std::optional<std::filesystem::path> cacheFile;
  if (!options.cacheDirectory.empty()) {
    cacheFile = options.cacheDirectory / requests::ClientState::kDatabaseName;
  }
  client::applyConfiguration(*state, config, std::move(cacheFile));
  client::useTokenProvider(*state, std::move(options.tokenProvider));
  client::buildIdentity(*state);
  client::buildGraphQL(state);
  if (!state->services()->appSyncClient) {
    throw setupError("The GraphQL client cannot be built for " +
                     state->settings()->graphQLEndpoint);
  }
  state->markInitialized();
  return std::shared_ptr<EstimationClient>(new EstimationClient(std::move(state), true));
}

EstimationClient::EstimationClient(std::shared_ptr<requests::ClientState> state,
                                   bool ownsSubscriptions)
    : state_(std::move(state)), ownsSubscriptions_(ownsSubscriptions) {}

EstimationClient::~EstimationClient() {
  if (ownsSubscriptions_) requests::unsubscribeAll(*state_);
}

void EstimationClient::createEstimationRequest(const EstimationParameter& parameter,
                                               RequestCallback callback) {
  creation::createEstimationRequest(state_, parameter, std::move(callback));
}

void EstimationClient::getEstimationRequest(const std::string& id, RequestCallback callback) {
  requests::getEstimationRequest(state_, id, std::move(callback));
}

void EstimationClient::listEstimationRequests(std::optional<int> limit,
                                              std::optional<std::string> nextToken,
                                              ListCallback callback) {
  requests::listEstimationRequests(state_, limit, std::move(nextToken), std::move(callback));
}

void EstimationClient::updateEstimationRequest(const std::string& id,
                                               const EstimationParameter& parameter,
                                               RequestCallback callback) {
  requests::updateEstimationRequest(state_, id, parameter, std::move(callback));
}

void EstimationClient::deleteEstimationRequest(const std::string& id, RequestCallback callback) {
  requests::deleteEstimationRequest(state_, id, std::move(callback));
}

void EstimationClient::subscribe(EstimationEventKind kind, RequestCallback callback,
                                 const std::string& name) {
  requests::subscribeAfterEnsuringToken(state_, kind, std::move(callback), name);
}

void EstimationClient::unsubscribe(EstimationEventKind kind, const std::string& name) {
  requests::unsubscribe(*state_, kind, name);
}

void EstimationClient::unsubscribeAll() { requests::unsubscribeAll(*state_); }

void EstimationClient::signOut() { requests::signOut(*state_); }

std::shared_ptr<CorvenzaEnterpriseDelegate> EstimationClient::delegate() const {
  return state_->session().delegate();
}

void EstimationClient::setDelegate(std::shared_ptr<CorvenzaEnterpriseDelegate> delegate) {
  state_->session().setDelegate(std::move(delegate));
}

void EstimationClient::setConnectionStateListener(ConnectionStateListener listener) {
  state_->session().setConnectionListener(std::move(listener));
}

EstimationProgressType EstimationClient::estimationProgress() const {
  return state_->session().progress();
}

std::shared_ptr<CorvenzaTokenProvider> EstimationClient::tokenProvider() const {
  return state_->services()->tokenProvider;
}

std::shared_ptr<MainQueue> EstimationClient::mainQueue() const { return state_->queue(); }

std::string EstimationClient::graphQLEndpoint() const {
  return state_->settings()->graphQLEndpoint;
}

}  // namespace corvenza
