#include "platform/appsync/normalized_cache.h"

#include <openssl/evp.h>

#include <map>
#include <utility>

#include "platform/sqlite/database.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;
using Records = std::map<std::string, json>;

constexpr const char* kRefMember = "__ref";
// Deeper than any answer of ours; stops a reference cycle from recursing forever.
constexpr int kMaxDepth = 64;

std::string sha256Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

// New fields replace old ones; fields the new object lacks are kept.
void mergeInto(json& record, const json& fields) {
  if (!record.is_object()) record = json::object();
  for (const auto& [name, value] : fields.items()) record[name] = value;
}

class Normalizer {
 public:
  explicit Normalizer(const CacheKeyFunction& cacheKey) : cacheKey_(cacheKey) {}

  json normalize(const json& value, bool isRoot) {
    if (value.is_array()) {
      json out = json::array();
      for (const auto& element : value) out.push_back(normalize(element, false));
      return out;
    }
    if (!value.is_object()) return value;
    json out = json::object();
    for (const auto& [name, member] : value.items()) out[name] = normalize(member, false);
    if (isRoot) return out;
    auto key = keyOf(value);
    if (!key) return out;
    mergeInto(records[*key], out);
    return json{{kRefMember, *key}};
  }

  Records records;

 private:
  std::optional<std::string> keyOf(const json& object) const {
    if (!cacheKey_) return std::nullopt;
    try {
      auto key = cacheKey_(object);
      if (key && key->empty()) return std::nullopt;
      return key;
    } catch (...) {
      return std::nullopt;
    }
  }

  const CacheKeyFunction& cacheKey_;
};

bool isReference(const json& value) {
  if (!value.is_object() || value.size() != 1) return false;
  auto it = value.find(kRefMember);
  return it != value.end() && it->is_string();
}

sqlite::Database::Options databaseOptions(bool privateFile) {
  sqlite::Database::Options options;
  options.errorDomain = kCacheDatabaseErrorDomain;
  options.errorPrefix = "Offline cache database";
  options.privateFile = privateFile;
  return options;
}

}  // namespace

NormalizedCache::NormalizedCache(std::unique_ptr<sqlite::Database> database,
                                 CacheKeyFunction cacheKey)
    : database_(std::move(database)), cacheKey_(std::move(cacheKey)) {}

NormalizedCache::~NormalizedCache() = default;

detail::Result<std::unique_ptr<NormalizedCache>> NormalizedCache::open(
    const std::filesystem::path& path, CacheKeyFunction cacheKey) {
  auto database = sqlite::Database::openFile(path, databaseOptions(true));
  if (!database) return database.error();
  std::unique_ptr<NormalizedCache> cache(
      new NormalizedCache(std::move(database).value(), std::move(cacheKey)));
  if (auto schema = cache->prepareSchema(); !schema) return schema.error();
  return cache;
}

detail::Result<std::unique_ptr<NormalizedCache>> NormalizedCache::inMemory(
    CacheKeyFunction cacheKey) {
  auto database = sqlite::Database::openInMemory(databaseOptions(false));
  if (!database) return database.error();
  std::unique_ptr<NormalizedCache> cache(
      new NormalizedCache(std::move(database).value(), std::move(cacheKey)));
  if (auto schema = cache->prepareSchema(); !schema) return schema.error();
  return cache;
}

detail::Status NormalizedCache::prepareSchema() {
  return database_->execute(
      "CREATE TABLE IF NOT EXISTS records (key TEXT PRIMARY KEY, json TEXT);"
      "CREATE TABLE IF NOT EXISTS owner (id INTEGER PRIMARY KEY CHECK (id = 1), name TEXT)");
}

detail::Result<std::string> NormalizedCache::storedOwner() {
  auto name = database_->queryText("SELECT name FROM owner WHERE id = 1", {});
  if (!name) return name.error();
  return name->value_or(std::string());
}

std::string NormalizedCache::rootKey(const GraphQLRequest& request) {
  // json objects keep their members sorted, so dump() is canonical. Text
  // that is not UTF-8 cannot be sent either, so nothing is ever stored under
  // the key it gets here; it only must not throw.
  std::string identity = request.query;
  identity += '\0';
  identity += request.variables
                  ? request.variables->dump(-1, ' ', false, json::error_handler_t::replace)
                  : std::string("null");
  identity += '\0';
  identity += request.operationName.value_or("");
  return "QUERY_ROOT:" + sha256Hex(identity);
}

detail::Status NormalizedCache::writeQueryData(const std::string& owner, const std::string& rootKey,
                                               const json& data) {
  return store(owner, rootKey, data);
}

detail::Status NormalizedCache::mergeObjects(const std::string& owner, const json& data) {
  return store(owner, std::nullopt, data);
}

detail::Status NormalizedCache::store(const std::string& owner,
                                      const std::optional<std::string>& rootKey, const json& data) {
  if (owner.empty()) return detail::okStatus();  // nobody known to keep it for
  try {
    Normalizer normalizer(cacheKey_);
    json root = normalizer.normalize(data, true);
    std::lock_guard lock(mutex_);
    if (auto begun = database_->execute("BEGIN IMMEDIATE"); !begun) return begun;
    auto write = [&]() -> detail::Status {
      auto current = storedOwner();
      if (!current) return current.error();
      if (*current != owner) {
        // Another identity's records (or records of nobody known): gone first.
        if (auto emptied = database_->execute("DELETE FROM records"); !emptied) return emptied;
        auto claimed =
            database_->run("INSERT OR REPLACE INTO owner (id, name) VALUES (1, ?)", {owner});
        if (!claimed) return claimed;
      }
      for (auto& [key, fields] : normalizer.records) {
        auto existing = database_->queryText("SELECT json FROM records WHERE key = ?", {key});
        if (!existing) return existing.error();
        json record = json::object();
        if (*existing) {
          json parsed = json::parse(**existing, nullptr, false);
          if (parsed.is_object()) record = std::move(parsed);
        }
        mergeInto(record, fields);
        auto stored = database_->run("INSERT OR REPLACE INTO records (key, json) VALUES (?, ?)",
                                     {key, record.dump()});
        if (!stored) return stored;
      }
      if (rootKey) {
        return database_->run("INSERT OR REPLACE INTO records (key, json) VALUES (?, ?)",
                              {*rootKey, root.dump()});
      }
      return detail::okStatus();
    };
    auto written = write();
    if (!written) {
      database_->execute("ROLLBACK");
      return written;
    }
    return database_->execute("COMMIT");
  } catch (const std::exception& e) {
    return Error(kCacheDatabaseErrorDomain, 0, std::nullopt,
                 std::string("Offline cache: cannot store an answer: ") + e.what());
  }
}

detail::Result<std::optional<json>> NormalizedCache::readQueryData(const std::string& owner,
                                                                   const std::string& rootKey) {
  if (owner.empty()) return std::optional<json>{};
  try {
    std::lock_guard lock(mutex_);
    auto current = storedOwner();
    if (!current) return current.error();
    if (*current != owner) return std::optional<json>{};
    Records loaded;
    auto load = [&](const std::string& key) -> detail::Result<const json*> {
      if (auto it = loaded.find(key); it != loaded.end()) return &it->second;
      auto text = database_->queryText("SELECT json FROM records WHERE key = ?", {key});
      if (!text) return text.error();
      if (!*text) return static_cast<const json*>(nullptr);
      json parsed = json::parse(**text, nullptr, false);
      if (parsed.is_discarded()) return static_cast<const json*>(nullptr);
      return &loaded.emplace(key, std::move(parsed)).first->second;
    };

    bool missing = false;
    std::optional<Error> failure;
    std::function<json(const json&, int)> resolve = [&](const json& value, int depth) -> json {
      if (missing || failure) return nullptr;
      if (depth > kMaxDepth) {
        missing = true;
        return nullptr;
      }
      if (isReference(value)) {
        auto record = load(value.at(kRefMember).get<std::string>());
        if (!record) {
          failure = record.error();
          return nullptr;
        }
        if (!*record) {
          missing = true;
          return nullptr;
        }
        return resolve(**record, depth + 1);
      }
      if (value.is_array()) {
        json out = json::array();
        for (const auto& element : value) out.push_back(resolve(element, depth + 1));
        return out;
      }
      if (value.is_object()) {
        json out = json::object();
        for (const auto& [name, member] : value.items()) out[name] = resolve(member, depth + 1);
        return out;
      }
      return value;
    };

    auto root = load(rootKey);
    if (!root) return root.error();
    if (!*root) return std::optional<json>{};
    json data = resolve(**root, 0);
    if (failure) return *failure;
    if (missing) return std::optional<json>{};
    return std::optional<json>{std::move(data)};
  } catch (const std::exception& e) {
    return Error(kCacheDatabaseErrorDomain, 0, std::nullopt,
                 std::string("Offline cache: cannot read an answer: ") + e.what());
  }
}

detail::Status NormalizedCache::clear() {
  std::lock_guard lock(mutex_);
  return database_->execute("DELETE FROM records; DELETE FROM owner");
}

}  // namespace corvenza::appsync
