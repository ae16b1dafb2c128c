#include "platform/identity/kept_credentials.h"

#include <nlohmann/json.hpp>

namespace corvenza::identity {

namespace {

using Clock = std::chrono::system_clock;

std::string entryName(const std::string& account) {
  return account.empty() ? "CloudCredentials" : "CloudCredentials." + account;
}

}  // namespace

std::optional<KeptCredentials> readKeptCredentials(device::KeyStore& store,
                                                   const std::string& account) {
  const auto text = store.get(entryName(account));
  if (!text) return std::nullopt;
  const auto json = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return std::nullopt;
  const auto field = [&json](const char* name) -> std::optional<std::string> {
    const auto it = json.find(name);
    if (it == json.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  const auto expiration = json.find("expiration");
  if (expiration == json.end() || !expiration->is_number_integer()) return std::nullopt;
  KeptCredentials record;
  for (auto [name, into] : {std::pair{"identityPoolId", &record.identityPoolId},
                            {"endpoint", &record.endpoint},
                            {"identityId", &record.identityId},
                            {"accessKeyId", &record.credentials.accessKeyId},
                            {"secretAccessKey", &record.credentials.secretAccessKey},
                            {"sessionToken", &record.credentials.sessionToken}}) {
    auto value = field(name);
    if (!value || value->empty()) return std::nullopt;
    *into = std::move(*value);
  }
  record.credentials.expiration =
      Clock::time_point(std::chrono::seconds(expiration->get<std::int64_t>()));
  return record;
}

void keepCredentials(device::KeyStore& store, const std::string& account,
                     const KeptCredentials& record) {
  // Credentials without an expiry are never trusted later, so never kept.
  if (!record.credentials.expiration) return;
  const auto expiration = std::chrono::duration_cast<std::chrono::seconds>(
      record.credentials.expiration->time_since_epoch());
  const nlohmann::json json{{"identityPoolId", record.identityPoolId},
                            {"endpoint", record.endpoint},
                            {"identityId", record.identityId},
                            {"accessKeyId", record.credentials.accessKeyId},
                            {"secretAccessKey", record.credentials.secretAccessKey},
                            {"sessionToken", record.credentials.sessionToken},
                            {"expiration", expiration.count()}};
  std::string text;
  try {
    text = json.dump();
  } catch (const nlohmann::json::exception&) {
    return;  // a value that is not UTF-8 is not kept
  }
  store.set(text, entryName(account));
}

void dropKeptCredentials(device::KeyStore& store, const std::string& account,
                         const std::optional<std::string>& accessKeyId) {
  if (accessKeyId) {
    const auto kept = readKeptCredentials(store, account);
    if (kept && kept->credentials.accessKeyId != *accessKeyId) return;
  }
  store.remove(entryName(account));
}

}  // namespace corvenza::identity
