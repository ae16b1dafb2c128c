#pragma once
// What a creation needs of the client it runs for, and nothing else: its
// GraphQL client and queue, where the photos go and under whose identity,
// whether the network is there, and a way to drop a refused proof. Both
// drivers (the in-memory creation and the durable queue) ask this, never the
// client's state itself.

#include <corvenza/error.h>
#include <corvenza/main_queue.h>
#include <corvenza/remote_image.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/appsync/graphql_request.h"

namespace corvenza::requests {
struct ClientState;
class GraphQLGateway;
}  // namespace corvenza::requests

namespace corvenza::creation {

/// Where a creation's photos are stored.
struct UploadTarget {
  std::string bucket;
  std::string region;
};

class CreationContext {
 public:
  explicit CreationContext(std::shared_ptr<requests::ClientState> state);

  /// The GraphQL client; nothing before start-up has built one.
  std::shared_ptr<requests::GraphQLGateway> gateway() const;
  /// Where every answer runs.
  std::shared_ptr<MainQueue> queue() const;
  UploadTarget uploadTarget() const;
  /// The signed-in identity now; empty before credentials were fetched.
  std::string identityId() const;
  /// What keeps the photos from reaching storage at all (checked before the create).
  std::optional<Error> checkPhotoStorage() const;
  /// The device reports no network.
  bool offline() const;
  /// How a read asks: from the cache only while offline, else the service.
  appsync::CachePolicy readPolicy() const;
  /// Signs download links of the photos of records read.
  DownloadLinkMaker downloadLinks() const;
  /// How long one step may stay unanswered.
  std::chrono::duration<double> stepTimeout() const;
  /// Drops the credentials in use (and, with @p token, the stored token), so
  /// that the next call fetches fresh ones.
  void forgetProof(bool token) const;

  const std::shared_ptr<requests::ClientState>& state() const { return state_; }

 private:
  std::shared_ptr<requests::ClientState> state_;
};

}  // namespace corvenza::creation
