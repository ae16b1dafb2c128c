#pragma once
// The decoded form of a response object: field name to value, where a nested
// object is its own Snapshot and a list holds optional Snapshots. A Snapshot
// is a handle: copies share one map, so a wrapper, its fragment views and the
// objects nested in it all read and write the same data.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvenza::graphql {

class Snapshot;
struct SnapshotValue;
struct SnapshotFields;
using SnapshotList = std::vector<std::optional<Snapshot>>;

class Snapshot {
 public:
  /// An empty map of its own.
  Snapshot();

  // Typed reads. Each answers nothing when the key is missing, holds null or
  // holds a value of another type, so a hand-made snapshot cannot crash a reader.
  std::optional<std::string> string(std::string_view key) const;
  std::optional<std::int64_t> integer(std::string_view key) const;
  /// Integers widen to double, as JSON does not tell 1 from 1.0.
  std::optional<double> floating(std::string_view key) const;
  std::optional<bool> boolean(std::string_view key) const;
  std::optional<Snapshot> object(std::string_view key) const;
  std::optional<SnapshotList> list(std::string_view key) const;

  bool contains(std::string_view key) const;
  /// True when the key holds an explicit null.
  bool isNull(std::string_view key) const;
  std::size_t size() const;
  std::vector<std::string> keys() const;

  /// Stores @p value under @p key, replacing what was there.
  void set(std::string key, SnapshotValue value);
  /// Copies every key of @p other into this map, replacing existing ones.
  void merge(const Snapshot& other);

  /// True when both handles share one map.
  bool sharesStorageWith(const Snapshot& other) const { return fields_ == other.fields_; }

 private:
  const SnapshotValue* find(std::string_view key) const;
  std::shared_ptr<SnapshotFields> fields_;
};

struct SnapshotValue {
  using Variant =
      std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Snapshot, SnapshotList>;

  SnapshotValue(std::nullptr_t = nullptr) : value(nullptr) {}  // NOLINT(implicit)
  SnapshotValue(bool v) : value(v) {}                          // NOLINT(implicit)
  SnapshotValue(int v) : value(std::int64_t{v}) {}             // NOLINT(implicit)
  SnapshotValue(std::int64_t v) : value(v) {}                  // NOLINT(implicit)
  SnapshotValue(double v) : value(v) {}                        // NOLINT(implicit)
  SnapshotValue(const char* v) : value(std::string(v)) {}      // NOLINT(implicit)
  SnapshotValue(std::string v) : value(std::move(v)) {}        // NOLINT(implicit)
  SnapshotValue(Snapshot v) : value(std::move(v)) {}           // NOLINT(implicit)
  SnapshotValue(SnapshotList v) : value(std::move(v)) {}       // NOLINT(implicit)
  /// An absent optional stores null.
  template <typename T>
  SnapshotValue(std::optional<T> v) {  // NOLINT(implicit)
    if (v) {
      value = SnapshotValue(std::move(*v)).value;
    } else {
      value = nullptr;
    }
  }

  Variant value;
};

struct SnapshotFields {
  std::map<std::string, SnapshotValue, std::less<>> values;
};

}  // namespace corvenza::graphql
