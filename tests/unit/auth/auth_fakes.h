#pragma once
// Fakes for the token providers' collaborators: an in-memory key store, an
// HTTP transport the test answers by hand, and signed-looking JWTs.

#include <corvenza/default_token_provider.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/device/key_store.h"
#include "platform/http/http_transport.h"

namespace corvenza::test {

class FakeKeyStore final : public device::KeyStore {
 public:
  std::optional<std::string> get(const std::string& name) override {
    std::lock_guard lock(mutex_);
    log_.push_back("get " + name);
    auto it = entries_.find(name);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
  }
  bool set(const std::string& value, const std::string& name) override {
    std::lock_guard lock(mutex_);
    log_.push_back("set " + name);
    entries_[name] = value;
    return true;
  }
  bool remove(const std::string& name) override {
    std::lock_guard lock(mutex_);
    log_.push_back("remove " + name);
    return entries_.erase(name) > 0;
  }

  std::map<std::string, std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::vector<std::string> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void clearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> entries_;
  std::vector<std::string> log_;
};

/// Records each request; the test answers it with respond().
class ManualTransport final : public http::HttpTransport {
 public:
  std::shared_ptr<http::Cancellable> send(http::HttpRequest request, http::ResponseCallback done,
                                          http::ProgressCallback = {}) override {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
    callbacks_.push_back(std::move(done));
    return nullptr;
  }

  std::size_t requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }
  http::HttpRequest request(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return requests_.at(index);
  }
  /// Answers request @p index (once), on the calling thread.
  void respond(std::size_t index, detail::Result<http::HttpResponse> result) {
    http::ResponseCallback done;
    {
      std::lock_guard lock(mutex_);
      done = std::exchange(callbacks_.at(index), nullptr);
    }
    if (done) done(std::move(result));
  }
  void respond(std::size_t index, int status, std::string body) {
    http::HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    respond(index, detail::Result<http::HttpResponse>(std::move(response)));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<http::HttpRequest> requests_;
  std::vector<http::ResponseCallback> callbacks_;
};

inline std::string base64Url(const std::string& bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out.push_back(alphabet[(buffer >> bits) & 0x3f]);
    }
  }
  if (bits > 0) out.push_back(alphabet[(buffer << (6 - bits)) & 0x3f]);
  return out;
}

/// A JWT whose payload has "exp" = @p expiresAt (seconds since 1970), or no "exp".
inline std::string makeJwt(std::optional<std::int64_t> expiresAt) {
  std::string payload = R"({"sub":"user-1")";
  if (expiresAt) payload += R"(,"exp":)" + std::to_string(*expiresAt);
  payload += "}";
  return base64Url(R"({"alg":"HS256","typ":"JWT"})") + "." + base64Url(payload) + "." +
         base64Url("signature");
}

/// A fixed wall-clock instant for tests.
inline std::chrono::system_clock::time_point testNow() {
  return std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
}

inline std::int64_t testNowPlus(std::chrono::seconds offset) {
  return std::chrono::duration_cast<std::chrono::seconds>((testNow() + offset).time_since_epoch())
      .count();
}

/// What a token request answered, and how often.
struct Answer {
  int calls = 0;
  std::optional<CorvenzaToken> token;
  std::optional<Error> error;
  DefaultTokenProvider::TokenCallback callback() {
    return [this](std::optional<CorvenzaToken> t, std::optional<Error> e) {
      ++calls;
      token = std::move(t);
      error = std::move(e);
    };
  }
};

}  // namespace corvenza::test
