#include "gateway/estimation_backend.h"

namespace corvenza::emulator::gql {

detail::Result<std::unique_ptr<EstimationBackend>> EstimationBackend::start(
    EmulatorContext& context, const std::filesystem::path& dataDir,
    std::chrono::milliseconds delay) {
  auto store = estimation::EstimationStore::open(dataDir / "estimations.sqlite3");
  if (!store) return store.error();
  std::unique_ptr<EstimationBackend> backend(new EstimationBackend());
  backend->store_ = std::move(*store);
  backend->graphql_ = std::make_unique<GraphQLService>(
      *backend->store_, [&context] { return context.clock.nowSeconds(); }, context.options.bucket);
  backend->http_ = std::make_shared<GraphQLHttpService>(context, *backend->graphql_);
  backend->estimator_ = std::make_unique<estimation::Estimator>(*backend->store_, delay);
  backend->estimator_->start();
  return backend;
}

EstimationBackend::~EstimationBackend() { stop(); }

void EstimationBackend::stop() {
  if (estimator_) estimator_->stop();
}

}  // namespace corvenza::emulator::gql
