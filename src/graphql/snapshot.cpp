#include "graphql/snapshot.h"

namespace corvenza::graphql {

Snapshot::Snapshot() : fields_(std::make_shared<SnapshotFields>()) {}

const SnapshotValue* Snapshot::find(std::string_view key) const {
  auto it = fields_->values.find(key);
  return it == fields_->values.end() ? nullptr : &it->second;
}

namespace {

template <typename T>
std::optional<T> read(const SnapshotValue* v) {
  if (!v) return std::nullopt;
  if (const T* p = std::get_if<T>(&v->value)) return *p;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> Snapshot::string(std::string_view key) const {
  return read<std::string>(find(key));
}

std::optional<std::int64_t> Snapshot::integer(std::string_view key) const {
  return read<std::int64_t>(find(key));
}

std::optional<double> Snapshot::floating(std::string_view key) const {
  const SnapshotValue* v = find(key);
  if (auto i = read<std::int64_t>(v)) return static_cast<double>(*i);
  return read<double>(v);
}

std::optional<bool> Snapshot::boolean(std::string_view key) const { return read<bool>(find(key)); }

std::optional<Snapshot> Snapshot::object(std::string_view key) const {
  return read<Snapshot>(find(key));
}

std::optional<SnapshotList> Snapshot::list(std::string_view key) const {
  return read<SnapshotList>(find(key));
}

bool Snapshot::contains(std::string_view key) const { return find(key) != nullptr; }

bool Snapshot::isNull(std::string_view key) const {
  const SnapshotValue* v = find(key);
  return v && std::holds_alternative<std::nullptr_t>(v->value);
}

std::size_t Snapshot::size() const { return fields_->values.size(); }

std::vector<std::string> Snapshot::keys() const {
  std::vector<std::string> out;
  for (const auto& [k, v] : fields_->values) out.push_back(k);
  return out;
}

void Snapshot::set(std::string key, SnapshotValue value) {
  fields_->values.insert_or_assign(std::move(key), std::move(value));
}

void Snapshot::merge(const Snapshot& other) {
  if (sharesStorageWith(other)) return;
  for (const auto& [k, v] : other.fields_->values) fields_->values.insert_or_assign(k, v);
}

}  // namespace corvenza::graphql
