#pragma once
/// @file
/// APIConnector: a small JSON-over-HTTP client for the application's own use.
///
/// The caller sets a URL, headers and string parameters, starts the
/// connection and receives the decoded response through a delegate.
/// Parameters travel as a query string for GET and as a JSON object body for
/// POST. The library's own operations do not use it.

#include <corvenza/error.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvenza {

/// Request methods of an APIConnector, with the raw texts sent on the wire.
enum class HTTPMethod { get, post, put, delete_ };

/// "GET", "POST", "PUT" or "DELETE".
std::string_view rawValue(HTTPMethod method) noexcept;
/// The method whose raw text is exactly @p rawValue (case-sensitive), else nothing.
std::optional<HTTPMethod> httpMethodFromRawValue(std::string_view rawValue) noexcept;

/// The record decoded from every successful response body: "message"
/// (required), "front_points" and "side_points" (optional strings).
struct TestCodable {
  std::string message;
  std::optional<std::string> front_points;
  std::optional<std::string> side_points;

  /// Decodes @p json; on failure returns nothing and, when @p failure is
  /// given, stores a description of what was wrong in it.
  static std::optional<TestCodable> decode(std::string_view json, std::string* failure = nullptr);
  /// Compact JSON; absent optional members are left out.
  std::string encode() const;

  friend bool operator==(const TestCodable&, const TestCodable&) = default;
};

/// A further record of the same kind: one string, "id".
struct Input {
  std::string id;

  static std::optional<Input> decode(std::string_view json, std::string* failure = nullptr);
  std::string encode() const;

  friend bool operator==(const Input&, const Input&) = default;
};

/// Receives the decoded responses of an APIConnector.
class APIConnectorDelegate {
 public:
  virtual ~APIConnectorDelegate() = default;
  /// Called once per response whose body decodes as a TestCodable, on the
  /// HTTP transport's thread (not the main queue).
  virtual void apiConnectorDidReceive(const TestCodable& response) = 0;
};

/// How a request may use cached responses. The library keeps no HTTP cache,
/// so the first three policies all fetch from the network, and
/// returnCacheDataDontLoad always fails through connectionFailed with
/// kAPIConnectorCacheMiss.
enum class URLCachePolicy {
  useProtocolCachePolicy,
  reloadIgnoringLocalCacheData,
  returnCacheDataElseLoad,
  returnCacheDataDontLoad,
};

/// The response handed to connectionSuccess.
struct URLResponse {
  /// scheme://host/path of the request (no query: it may hold a secret).
  std::string url;
  int statusCode = 0;
  std::vector<std::pair<std::string, std::string>> headerFields;

  /// One line for the console: URL and status code.
  std::string description() const;
};

/// Domain of the connector's own failures.
inline constexpr const char* kAPIConnectorErrorDomain = "CorvenzaAPIConnectorError";
enum APIConnectorErrorCode : int {
  /// PUT and DELETE take no parameters.
  kAPIConnectorUnsupportedParameters = 1,
  /// returnCacheDataDontLoad: there is never a cached response.
  kAPIConnectorCacheMiss = 2,
  /// The connector was not created with std::make_shared.
  kAPIConnectorNotShared = 3,
};

/// A running request, for cancelling.
class DataTask {
 public:
  virtual ~DataTask() = default;
  /// Stops the request; the connector's connectionFailed then runs with a
  /// cancellation error (code -999) unless the request had already finished.
  /// Safe to call more than once and from any thread.
  virtual void cancel() = 0;
};

/// A small HTTP client. Create it with APIConnector::make() (the running
/// request keeps it alive until its completion has run; the factory is the
/// only way to make one, so it is always shared) and use it for one request
/// at a time; it takes no lock, so set its properties before
/// startConnection() and not while a request runs.
///
/// A derived class takes the factory's key in its constructor and passes it
/// on:
///
///     class MyConnector : public corvenza::APIConnector {
///      public:
///       explicit MyConnector(Key key) : APIConnector(key) {}
///     };
///     auto connector = corvenza::APIConnector::make<MyConnector>();
///
/// Console lines: "[H] Connect:<url>" when a request is built, then
/// "[H]:Success:<response>" or "[H]:Failed:" (with "error code :<code>" and
/// the error) as it ends.
class APIConnector : public std::enable_shared_from_this<APIConnector> {
 protected:
  /// Only make() can produce one, so every connector is held by a shared_ptr.
  class Key {
    Key() = default;
    friend class APIConnector;
  };

 public:
  /// A new connector of type @p T (APIConnector or derived), shared.
  template <typename T = APIConnector, typename... Args>
  static std::shared_ptr<T> make(Args&&... args) {
    return std::make_shared<T>(Key{}, std::forward<Args>(args)...);
  }

  explicit APIConnector(Key) {}
  virtual ~APIConnector() = default;
  APIConnector(const APIConnector&) = delete;
  APIConnector& operator=(const APIConnector&) = delete;

  /// Receives decoded responses; held weakly.
  std::weak_ptr<APIConnectorDelegate> delegate;
  /// Request header fields, each replacing a field of the same name.
  std::map<std::string, std::string> header;
  /// Query items (GET, in ascending key order) or JSON body members (POST).
  /// PUT and DELETE take none: with any, the request fails.
  std::map<std::string, std::string> parameters;
  /// Time limit of the whole request, in seconds.
  double timeoutInterval = 60.0;
  URLCachePolicy cachePolicy = URLCachePolicy::useProtocolCachePolicy;
  /// The target URL.
  std::string urlString;
  /// The most recently started request; replaced by the next start.
  std::shared_ptr<DataTask> task;

  /// The request method; this class answers GET.
  virtual HTTPMethod method() const { return HTTPMethod::get; }

  /// Builds and sends the request. When no request can be built (the URL does
  /// not parse, parameters on PUT or DELETE, a cache-only policy),
  /// connectionFailed runs before this returns; otherwise exactly one of
  /// connectionSuccess and connectionFailed runs later, on the HTTP
  /// transport's thread.
  void startConnection();

  /// A response arrived (any status code): prints it, decodes the body as a
  /// TestCodable and hands that to the delegate. A body that does not decode
  /// is reported on the console and reaches no delegate.
  virtual void connectionSuccess(const std::string& data, const URLResponse& response);

  /// No response: prints the failure. @p error is absent when no request
  /// could be built from the URL.
  virtual void connectionFailed(const std::optional<Error>& error);

  /// Cancels the running request, if any.
  void connectionCancel();
};

/// A connector that POSTs its parameters as a JSON object and remembers which
/// photo it was about.
class POSTAPIConnector : public APIConnector {
 public:
  enum class ImageDir { front, side };

  explicit POSTAPIConnector(Key key) : APIConnector(key) {}

  std::optional<ImageDir> imageDir;

  HTTPMethod method() const override { return HTTPMethod::post; }
};

}  // namespace corvenza
