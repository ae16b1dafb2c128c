#pragma once
// The root objects each operation returns and each operation's Data.

#include <vector>

#include "graphql/fragments.h"

namespace corvenza::graphql {

/// The get query's object: "__typename" plus fragment BodysizeEstimation.
class GetBodysizeEstimation : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimation"};

  explicit GetBodysizeEstimation(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  explicit GetBodysizeEstimation(const BodysizeEstimation& fragment);

  struct Fragments {
    Snapshot snapshot;
    BodysizeEstimation bodysizeEstimation() const { return BodysizeEstimation(snapshot); }
    void setBodysizeEstimation(const BodysizeEstimation& f) { snapshot.merge(f.snapshot); }
  };
  Fragments fragments() const { return {snapshot}; }
};

/// The object of create, update and both attach mutations: "__typename" plus
/// fragment BodysizeEstimationMinimumOutput.
class MinimumOutputObject : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimation"};

  explicit MinimumOutputObject(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  explicit MinimumOutputObject(const BodysizeEstimationMinimumOutput& fragment);

  struct Fragments {
    Snapshot snapshot;
    BodysizeEstimationMinimumOutput bodysizeEstimationMinimumOutput() const {
      return BodysizeEstimationMinimumOutput(snapshot);
    }
    void setBodysizeEstimationMinimumOutput(const BodysizeEstimationMinimumOutput& f) {
      snapshot.merge(f.snapshot);
    }
  };
  Fragments fragments() const { return {snapshot}; }
};

using CreateBodysizeEstimation = MinimumOutputObject;
using UpdateBodysizeEstimation = MinimumOutputObject;
using AttachFrontImage = MinimumOutputObject;
using AttachSideImage = MinimumOutputObject;

/// The list query's connection object.
class ListBodysizeEstimation : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimationConnection"};

  /// One list element: "__typename" plus fragment BodysizeEstimationIndexOutput.
  class Item : public ResponseObject {
   public:
    static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimation"};

    explicit Item(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
    explicit Item(const BodysizeEstimationIndexOutput& fragment);

    struct Fragments {
      Snapshot snapshot;
      BodysizeEstimationIndexOutput bodysizeEstimationIndexOutput() const {
        return BodysizeEstimationIndexOutput(snapshot);
      }
      void setBodysizeEstimationIndexOutput(const BodysizeEstimationIndexOutput& f) {
        snapshot.merge(f.snapshot);
      }
    };
    Fragments fragments() const { return {snapshot}; }
  };
  using Items = std::vector<std::optional<Item>>;

  explicit ListBodysizeEstimation(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  ListBodysizeEstimation(const std::optional<Items>& items, std::optional<std::string> nextToken);

  /// Absent when "items" is null; a null element stays an absent element.
  std::optional<Items> items() const;
  void setItems(const std::optional<Items>& items);
  std::optional<std::string> nextToken() const { return snapshot.string("nextToken"); }
  void setNextToken(std::optional<std::string> v) { snapshot.set("nextToken", std::move(v)); }
};

/// The delete mutation's object: only the identifier.
class DeleteBodysizeEstimation : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimation"};

  explicit DeleteBodysizeEstimation(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  explicit DeleteBodysizeEstimation(std::string id);

  std::string id() const { return requiredString("id"); }
  void setId(std::string v) { snapshot.set("id", std::move(v)); }
};

/// A subscription event: identifier and status only.
class EstimationEvent : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimation"};

  explicit EstimationEvent(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  EstimationEvent(std::string id, const BodysizeEstimationStatus& status);

  std::string id() const { return requiredString("id"); }
  void setId(std::string v) { snapshot.set("id", std::move(v)); }
  BodysizeEstimationStatus status() const { return statusField("status"); }
  void setStatus(const BodysizeEstimationStatus& v) { snapshot.set("status", v.rawValue()); }
};

using OnCreateBodysizeEstimation = EstimationEvent;
using OnUpdateBodysizeEstimation = EstimationEvent;
using OnDeleteBodysizeEstimation = EstimationEvent;

/// An operation's response data: one nullable root field. A null root is the
/// caller's sign of an unusable response.
template <typename Root>
class RootData {
 public:
  Snapshot snapshot;

  std::optional<Root> root() const {
    auto nested = snapshot.object(field_);
    if (!nested) return std::nullopt;
    return Root(std::move(*nested));
  }
  void setRoot(const std::optional<Root>& value) {
    snapshot.set(std::string(field_), value ? SnapshotValue(value->snapshot) : SnapshotValue());
  }
  std::string_view rootFieldName() const { return field_; }

 protected:
  RootData(Snapshot s, std::string_view field) : snapshot(std::move(s)), field_(field) {}
  RootData(const std::optional<Root>& value, std::string_view field) : field_(field) {
    setRoot(value);
  }

 private:
  std::string_view field_;
};

#define CORVENZA_GRAPHQL_ROOT_DATA(DataName, Root, field, typeName)                  \
  class DataName : public RootData<Root> {                                           \
   public:                                                                           \
    static constexpr std::array<std::string_view, 1> possibleTypes = {typeName};     \
    explicit DataName(Snapshot s) : RootData(std::move(s), #field) {}                \
    explicit DataName(const std::optional<Root>& value) : RootData(value, #field) {} \
    std::optional<Root> field() const { return root(); }                             \
  };

// Ten data types differing only in root field and type; a macro keeps them
// from drifting apart.
CORVENZA_GRAPHQL_ROOT_DATA(GetBodysizeEstimationData, GetBodysizeEstimation, getBodysizeEstimation,
                           "Query")
CORVENZA_GRAPHQL_ROOT_DATA(ListBodysizeEstimationsData, ListBodysizeEstimation,
                           listBodysizeEstimations, "Query")
CORVENZA_GRAPHQL_ROOT_DATA(CreateBodysizeEstimationData, CreateBodysizeEstimation,
                           createBodysizeEstimation, "Mutation")
CORVENZA_GRAPHQL_ROOT_DATA(UpdateBodysizeEstimationData, UpdateBodysizeEstimation,
                           updateBodysizeEstimation, "Mutation")
CORVENZA_GRAPHQL_ROOT_DATA(DeleteBodysizeEstimationData, DeleteBodysizeEstimation,
                           deleteBodysizeEstimation, "Mutation")
CORVENZA_GRAPHQL_ROOT_DATA(AttachFrontImageData, AttachFrontImage, attachFrontImage, "Mutation")
CORVENZA_GRAPHQL_ROOT_DATA(AttachSideImageData, AttachSideImage, attachSideImage, "Mutation")
CORVENZA_GRAPHQL_ROOT_DATA(OnCreateEstimationRequestData, OnCreateBodysizeEstimation,
                           onCreateBodysizeEstimation, "Subscription")
CORVENZA_GRAPHQL_ROOT_DATA(OnUpdateEstimationRequestData, OnUpdateBodysizeEstimation,
                           onUpdateBodysizeEstimation, "Subscription")
CORVENZA_GRAPHQL_ROOT_DATA(OnDeleteEstimationRequestData, OnDeleteBodysizeEstimation,
                           onDeleteBodysizeEstimation, "Subscription")

#undef CORVENZA_GRAPHQL_ROOT_DATA

}  // namespace corvenza::graphql
