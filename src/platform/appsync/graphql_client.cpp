#include "platform/appsync/graphql_client.h"

#include <corvenza/console.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "platform/appsync/client_error.h"
#include "platform/appsync/graphql_operation.h"
#include "platform/appsync/response_mapping.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;
using OperationPtr = std::shared_ptr<GraphQLOperation>;

bool isHttpUrl(const std::string& url) {
  std::string_view rest;
  if (url.rfind("https://", 0) == 0) {
    rest = std::string_view(url).substr(8);
  } else if (url.rfind("http://", 0) == 0) {
    rest = std::string_view(url).substr(7);
  } else {
    return false;
  }
  const auto hostEnd = rest.find_first_of("/?#");
  const auto authority = rest.substr(0, hostEnd);
  if (authority.empty() || authority.front() == ':') return false;
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return false;
  }
  return true;
}

// Callbacks hold the client weakly so that an answer that never comes (or a
// client dropped mid-flight) cannot keep it alive through its own transport.
Error clientGoneError() {
  return http::makeTransportError(http::kTransportCancelled,
                                  "The GraphQL client was shut down before the request was sent.");
}

// Where the request goes once it is signed: what the cache does with the answer.
struct Destination {
  bool isMutation = false;
  std::string rootKey;
};

}  // namespace

std::optional<std::string> cacheKeyFromId(const json& object) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find("id");
  if (it == object.end()) return std::nullopt;
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer()) return std::to_string(it->get<long long>());
  return std::nullopt;
}

struct GraphQLClient::Core : std::enable_shared_from_this<GraphQLClient::Core> {
  std::string endpointURL;
  std::string region;
  RequestSigner signer;
  std::shared_ptr<http::HttpTransport> transport;
  std::shared_ptr<dispatch::Executor> executor;
  std::shared_ptr<ObjectManager> objectManager;
  // Shared with in-flight transfers, which must not keep the client (and
  // through it the transport) alive from the transport's own thread.
  std::shared_ptr<NormalizedCache> cache;
  // Shared with in-flight transfers for the same reason as the cache.
  std::shared_ptr<const std::function<std::string()>> cacheOwner;
  bool persistent = false;

  static std::string ownerFrom(const std::function<std::string()>* owner) {
    if (!owner || !*owner) return "anyone";
    try {
      return (*owner)();
    } catch (...) {
      return {};  // nobody known: nothing is kept or read
    }
  }
  std::string currentCacheOwner() const { return ownerFrom(cacheOwner.get()); }

  detail::Result<http::HttpRequest> buildRequest(const GraphQLRequest& request) const {
    try {
      json body = json::object();
      body["query"] = request.query;
      if (request.variables) body["variables"] = *request.variables;
      if (request.operationName) body["operationName"] = *request.operationName;
      http::HttpRequest http;
      http.method = "POST";
      http.url = endpointURL;
      http.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
      http.body = body.dump();
      return http;
    } catch (const std::exception& e) {
      return makeGraphQLClientError(
          kGraphQLClientInvalidRequest,
          std::string("The GraphQL request could not be encoded: ") + e.what());
    }
  }

  void send(const OperationPtr& operation, const GraphQLRequest& request, Destination destination) {
    auto built = buildRequest(request);
    if (!built) return operation->finish(std::nullopt, built.error());
    // A mutation sent twice is applied twice (a creation makes two requests).
    built.value().idempotent = !destination.isMutation || request.harmlessTwice;
    if (!signer) return transmit(operation, std::move(built).value(), std::move(destination));
    std::weak_ptr<Core> weak = weak_from_this();
    auto once = std::make_shared<std::atomic<bool>>(false);
    try {
      signer(std::move(built).value(),
             [weak, operation, destination, once](detail::Result<http::HttpRequest> signed_) {
               if (once->exchange(true)) return;
               if (!signed_) return operation->finish(std::nullopt, signed_.error());
               auto self = weak.lock();
               if (!self) return operation->finish(std::nullopt, clientGoneError());
               self->transmit(operation, std::move(signed_).value(), destination);
             });
    } catch (const std::exception& e) {
      if (once->exchange(true)) return;
      operation->finish(
          std::nullopt,
          makeGraphQLClientError(kGraphQLClientInvalidRequest,
                                 std::string("Signing the GraphQL request failed: ") + e.what()));
    }
  }

  void transmit(const OperationPtr& operation, http::HttpRequest request, Destination destination) {
    if (operation->isCancelled()) return;
    // Only the headers are needed later, to keep secrets out of error texts.
    http::HttpRequest sentHeaders;
    sentHeaders.headers = request.headers;
    std::shared_ptr<http::Cancellable> transfer;
    try {
      transfer = transport->send(
          std::move(request),
          [owner = cacheOwner, cache = cache, operation, sentHeaders = std::move(sentHeaders),
           destination = std::move(destination)](detail::Result<http::HttpResponse> response) {
            // The owner is the identity whose credentials signed this request.
            receive(*cache, ownerFrom(owner.get()), operation, response, sentHeaders, destination);
          });
    } catch (const std::exception& e) {
      return operation->finish(
          std::nullopt, http::makeTransportError(http::kTransportUnknown,
                                                 std::string("Sending failed: ") + e.what()));
    }
    operation->attach(std::move(transfer));
  }

  static void receive(NormalizedCache& cache, const std::string& owner,
                      const OperationPtr& operation,
                      const detail::Result<http::HttpResponse>& response,
                      const http::HttpRequest& sent, const Destination& destination) {
    if (operation->isCancelled()) return;
    if (!response) return operation->finish(std::nullopt, response.error());
    auto mapped = mapGraphQLResponse(response.value(), sent);
    if (!mapped) return operation->finish(std::nullopt, mapped.error());
    // An answer with errors may hold partial data (a null root field); keep
    // the last good data for offline reads instead.
    if (mapped->data && !mapped->errors) {
      // The cache is best effort: a failed write never fails the operation.
      if (destination.isMutation) {
        (void)cache.mergeObjects(owner, *mapped->data);
      } else {
        (void)cache.writeQueryData(owner, destination.rootKey, *mapped->data);
      }
    }
    operation->finish(std::move(mapped).value(), std::nullopt);
  }

  void uploadNext(const OperationPtr& operation, const GraphQLRequest& request,
                  const std::shared_ptr<const std::vector<S3UploadDescription>>& uploads,
                  std::size_t index) {
    if (operation->isCancelled()) return;
    if (index == uploads->size()) return send(operation, request, Destination{true, {}});
    if (!objectManager) {
      return operation->finish(
          std::nullopt, makeGraphQLClientError(kGraphQLClientUploadFailed,
                                               "No object manager is set to upload the file of "
                                               "this mutation; the mutation was not sent."));
    }
    std::weak_ptr<Core> weak = weak_from_this();
    auto once = std::make_shared<std::atomic<bool>>(false);
    auto completion = [weak, operation, request, uploads, index, once](bool success,
                                                                       std::optional<Error> error) {
      if (once->exchange(true)) return;
      if (success && !error) {
        auto self = weak.lock();
        if (!self) return operation->finish(std::nullopt, clientGoneError());
        return self->uploadNext(operation, request, uploads, index + 1);
      }
      if (!error) {
        error = makeGraphQLClientError(
            kGraphQLClientUploadFailed,
            "Uploading " + (*uploads)[index].key + " failed; the mutation was not sent.");
      }
      operation->finish(std::nullopt, std::move(error));
    };
    std::shared_ptr<http::Cancellable> transfer;
    try {
      transfer = objectManager->upload((*uploads)[index], request.uploadProgress, completion);
    } catch (const std::exception& e) {
      return completion(false, makeGraphQLClientError(kGraphQLClientUploadFailed,
                                                      std::string("Upload failed: ") + e.what()));
    }
    operation->attach(std::move(transfer));
  }
};

GraphQLClient::GraphQLClient(std::shared_ptr<Core> core) : core_(std::move(core)) {}

GraphQLClient::~GraphQLClient() = default;

detail::Result<std::shared_ptr<GraphQLClient>> GraphQLClient::create(
    ClientConfiguration configuration) {
  if (!isHttpUrl(configuration.endpointURL)) {
    return makeGraphQLClientError(kGraphQLClientInvalidEndpoint,
                                  "The GraphQL endpoint is not a valid http or https URL.");
  }
  if (!configuration.transport || !configuration.executor) {
    return makeGraphQLClientError(kGraphQLClientInvalidEndpoint,
                                  "The GraphQL client was given no HTTP transport or executor.");
  }
  auto core = std::make_shared<Core>();
  core->endpointURL = std::move(configuration.endpointURL);
  core->region = std::move(configuration.region);
  core->signer = std::move(configuration.signer);
  core->transport = std::move(configuration.transport);
  core->executor = std::move(configuration.executor);
  core->objectManager = std::move(configuration.objectManager);
  core->cacheOwner =
      std::make_shared<const std::function<std::string()>>(std::move(configuration.cacheOwner));
  CacheKeyFunction cacheKey = configuration.cacheKeyForObject
                                  ? std::move(configuration.cacheKeyForObject)
                                  : CacheKeyFunction(&cacheKeyFromId);

  if (!configuration.databaseURL.empty()) {
    auto opened = NormalizedCache::open(configuration.databaseURL, cacheKey);
    if (opened) {
      core->cache = std::move(opened).value();
      core->persistent = true;
    } else {
      consoleLine("Warning: offline cache kept in memory only. " +
                  opened.error().localizedDescription());
    }
  }
  if (!core->cache) {
    auto memory = NormalizedCache::inMemory(cacheKey);
    if (!memory) return memory.error();
    core->cache = std::move(memory).value();
  }
  return std::shared_ptr<GraphQLClient>(new GraphQLClient(std::move(core)));
}

std::shared_ptr<http::Cancellable> GraphQLClient::fetch(GraphQLRequest request,
                                                        CachePolicy cachePolicy,
                                                        std::shared_ptr<MainQueue> queue,
                                                        ResultHandler handler) {
  auto operation =
      std::make_shared<GraphQLOperation>(std::move(queue), core_->executor, std::move(handler));
  const auto rootKey = NormalizedCache::rootKey(request);
  if (cachePolicy == CachePolicy::returnCacheDataDontFetch) {
    GraphQLResult result;
    // An unreadable cache answers like an empty one: the caller reports the
    // missing data.
    if (auto cached = core_->cache->readQueryData(core_->currentCacheOwner(), rootKey);
        cached && *cached) {
      result.data = std::move(**cached);
    }
    operation->finish(std::move(result), std::nullopt);
    return operation;
  }
  core_->send(operation, request, Destination{false, rootKey});
  return operation;
}

std::shared_ptr<http::Cancellable> GraphQLClient::perform(GraphQLRequest request,
                                                          std::shared_ptr<MainQueue> queue,
                                                          ResultHandler handler) {
  auto operation =
      std::make_shared<GraphQLOperation>(std::move(queue), core_->executor, std::move(handler));
  for (const auto& upload : request.uploads) {
    if (upload.localPath.empty()) {
      operation->finish(std::nullopt, makeGraphQLClientError(
                                          kGraphQLClientUploadFailed,
                                          "The file to upload of " + upload.key +
                                              " is not a local file; the mutation was not sent."));
      return operation;
    }
  }
  auto uploads =
      std::make_shared<const std::vector<S3UploadDescription>>(std::move(request.uploads));
  core_->uploadNext(operation, request, uploads, 0);
  return operation;
}

detail::Status GraphQLClient::clearCache() { return core_->cache->clear(); }

const std::string& GraphQLClient::endpointURL() const { return core_->endpointURL; }

const std::string& GraphQLClient::region() const { return core_->region; }

bool GraphQLClient::cacheIsPersistent() const { return core_->persistent; }

}  // namespace corvenza::appsync
