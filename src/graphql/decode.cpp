#include "graphql/decode.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace corvenza::graphql {

namespace {

using json = nlohmann::json;

Error decodingError(DecodingErrorCode code, const std::string& path, const std::string& what) {
  return Error(kDecodingErrorDomain, static_cast<int>(code), UserInfo{{"path", path}},
               "Cannot decode the GraphQL response at \"" + path + "\": " + what);
}

const char* expectedName(const Selection& s) {
  if (s.list) return "a list";
  switch (s.kind) {
    case FieldKind::string:
    case FieldKind::id:
    case FieldKind::gender:
    case FieldKind::status:
      return "a string";
    case FieldKind::integer:
      return "an integer";
    case FieldKind::floating:
      return "a number";
    case FieldKind::boolean:
      return "a boolean";
    case FieldKind::object:
    case FieldKind::spread:
      return "an object";
  }
  return "a value";
}

// Values that do not fit the field's type answer nothing, and the caller
// reports wrongType.
std::optional<SnapshotValue> scalarValue(const Selection& s, const json& v) {
  switch (s.kind) {
    case FieldKind::string:
    case FieldKind::id:
    case FieldKind::gender:
    case FieldKind::status:
      if (v.is_string()) return SnapshotValue(v.get<std::string>());
      return std::nullopt;
    case FieldKind::integer:
      if (v.is_number_unsigned()) {
        auto u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
          return std::nullopt;
        }
        return SnapshotValue(static_cast<std::int64_t>(u));
      }
      if (v.is_number_integer()) return SnapshotValue(v.get<std::int64_t>());
      return std::nullopt;
    case FieldKind::floating:
      if (v.is_number()) return SnapshotValue(v.get<double>());
      return std::nullopt;
    case FieldKind::boolean:
      if (v.is_boolean()) return SnapshotValue(v.get<bool>());
      return std::nullopt;
    case FieldKind::object:
    case FieldKind::spread:
      break;
  }
  return std::nullopt;
}

detail::Status decodeInto(Snapshot& out, const json& object,
                          const std::vector<Selection>& selections, const std::string& path);

detail::Result<SnapshotValue> decodeField(const Selection& s, const json& v,
                                          const std::string& path) {
  if (s.kind != FieldKind::object) {
    auto value = scalarValue(s, v);
    if (!value) {
      return decodingError(DecodingErrorCode::wrongType, path,
                           std::string("expected ") + expectedName(s) + ", found " + v.type_name());
    }
    return std::move(*value);
  }
  if (!s.list) {
    auto nested = decodeObject(v, s.selections, path);
    if (!nested) return nested.error();
    return SnapshotValue(std::move(nested.value()));
  }
  if (!v.is_array()) {
    return decodingError(DecodingErrorCode::wrongType, path,
                         std::string("expected a list, found ") + v.type_name());
  }
  SnapshotList list;
  list.reserve(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    const json& element = v[i];
    if (element.is_null()) {
      list.emplace_back(std::nullopt);
      continue;
    }
    auto nested = decodeObject(element, s.selections, path + "." + std::to_string(i));
    if (!nested) return nested.error();
    list.emplace_back(std::move(nested.value()));
  }
  return SnapshotValue(std::move(list));
}

detail::Status decodeInto(Snapshot& out, const json& object,
                          const std::vector<Selection>& selections, const std::string& path) {
  for (const auto& s : selections) {
    if (s.kind == FieldKind::spread) {
      // A fragment's fields sit at the same level as the spread.
      const FragmentDocument* fragment = fragmentDocument(s.name);
      if (!fragment) {
        return decodingError(DecodingErrorCode::wrongType, path,
                             "unknown fragment \"" + s.name + "\"");
      }
      auto status = decodeInto(out, object, fragment->document.selections, path);
      if (!status) return status;
      continue;
    }
    const std::string fieldPath = path.empty() ? s.name : path + "." + s.name;
    auto it = object.find(s.name);
    if (it == object.end() || it->is_null()) {
      if (!s.nullable) {
        return decodingError(DecodingErrorCode::missingField, fieldPath,
                             "a non-null field is missing or null");
      }
      out.set(s.name, nullptr);
      continue;
    }
    auto value = decodeField(s, *it, fieldPath);
    if (!value) return value.error();
    out.set(s.name, std::move(value.value()));
  }
  return detail::okStatus();
}

}  // namespace

detail::Result<Snapshot> decodeObject(const json& object, const std::vector<Selection>& selections,
                                      const std::string& path) {
  if (!object.is_object()) {
    return decodingError(DecodingErrorCode::notAnObject, path.empty() ? "data" : path,
                         std::string("expected an object, found ") + object.type_name());
  }
  Snapshot out;
  auto status = decodeInto(out, object, selections, path);
  if (!status) return status.error();
  return out;
}

detail::Result<Snapshot> decodeData(const json& data, OperationName operation) {
  const OperationDocument& op = operationDocument(operation);
  return decodeObject(data, op.document.selections, "");
}

}  // namespace corvenza::graphql
