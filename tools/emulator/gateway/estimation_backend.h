#pragma once
// Everything behind /graphql in one owner: the request store, the estimator
// thread, the GraphQL service and its HTTP face. The emulator starts it with
// the other services and stops it before the data directory goes.

#include <chrono>
#include <filesystem>
#include <memory>

#include "context/emulator_context.h"
#include "core/result.h"
#include "estimation/estimation_store.h"
#include "estimation/estimator.h"
#include "gateway/graphql_http_service.h"
#include "gateway/graphql_service.h"

namespace corvenza::emulator::gql {

class EstimationBackend {
 public:
  /// Opens the store in @p dataDir and starts the estimator with @p delay.
  /// @p context must outlive the backend.
  static detail::Result<std::unique_ptr<EstimationBackend>> start(
      EmulatorContext& context, const std::filesystem::path& dataDir,
      std::chrono::milliseconds delay = estimation::Estimator::kDefaultDelay);
  ~EstimationBackend();
  EstimationBackend(const EstimationBackend&) = delete;
  EstimationBackend& operator=(const EstimationBackend&) = delete;

  /// Stops and joins the estimator. Idempotent.
  void stop();

  /// What the router mounts at "/graphql".
  std::shared_ptr<Service> httpService() const { return http_; }
  estimation::EstimationStore& store() { return *store_; }
  estimation::Estimator& estimator() { return *estimator_; }
  const GraphQLService& graphql() const { return *graphql_; }

 private:
  EstimationBackend() = default;

  std::unique_ptr<estimation::EstimationStore> store_;
  std::unique_ptr<GraphQLService> graphql_;
  std::shared_ptr<GraphQLHttpService> http_;
  std::unique_ptr<estimation::Estimator> estimator_;
};

}  // namespace corvenza::emulator::gql
