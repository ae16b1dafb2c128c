#pragma once
// The input objects of the mutations. Constructors take every field in the
// schema's order; pass {} for an optional field that is not given and
// InputValue<T>::null() for one sent as null.

#include <filesystem>
#include <optional>
#include <string>

#include "graphql/input_object.h"

namespace corvenza::graphql {

/// Variable "input" of the create mutation.
class CreateBodysizeEstimationInput : public InputObject {
 public:
  CreateBodysizeEstimationInput(std::int64_t age, InputValue<bool> failOnAutomaticEstimationFailure,
                                InputValue<Gender> gender, double height, double weight);

  std::int64_t age() const { return loadRequired<std::int64_t>("age"); }
  void setAge(std::int64_t v) { store("age", InputValue<std::int64_t>(v)); }
  InputValue<bool> failOnAutomaticEstimationFailure() const {
    return load<bool>("failOnAutomaticEstimationFailure");
  }
  void setFailOnAutomaticEstimationFailure(InputValue<bool> v) {
    store("failOnAutomaticEstimationFailure", v);
  }
  InputValue<Gender> gender() const { return load<Gender>("gender"); }
  void setGender(InputValue<Gender> v) { store("gender", v); }
  double height() const { return loadRequired<double>("height"); }
  void setHeight(double v) { store("height", InputValue<double>(v)); }
  double weight() const { return loadRequired<double>("weight"); }
  void setWeight(double v) { store("weight", InputValue<double>(v)); }
};

/// Variable "input" of the update mutation: the identifier plus the changes.
class UpdateBodysizeEstimationInput : public InputObject {
 public:
  UpdateBodysizeEstimationInput(InputValue<std::int64_t> age,
                                InputValue<bool> failOnAutomaticEstimationFailure,
                                InputValue<Gender> gender, InputValue<double> height,
                                std::string id, InputValue<double> weight);

  InputValue<std::int64_t> age() const { return load<std::int64_t>("age"); }
  void setAge(InputValue<std::int64_t> v) { store("age", v); }
  InputValue<bool> failOnAutomaticEstimationFailure() const {
    return load<bool>("failOnAutomaticEstimationFailure");
  }
  void setFailOnAutomaticEstimationFailure(InputValue<bool> v) {
    store("failOnAutomaticEstimationFailure", v);
  }
  InputValue<Gender> gender() const { return load<Gender>("gender"); }
  void setGender(InputValue<Gender> v) { store("gender", v); }
  InputValue<double> height() const { return load<double>("height"); }
  void setHeight(InputValue<double> v) { store("height", v); }
  std::string id() const { return loadRequired<std::string>("id"); }
  void setId(std::string v) { store("id", InputValue<std::string>(std::move(v))); }
  InputValue<double> weight() const { return load<double>("weight"); }
  void setWeight(InputValue<double> v) { store("weight", v); }
};

/// Variable "input" of the delete mutation.
class DeleteBodysizeEstimationInput : public InputObject {
 public:
  DeleteBodysizeEstimationInput(InputValue<std::int64_t> createdAt, std::string id);

  InputValue<std::int64_t> createdAt() const { return load<std::int64_t>("createdAt"); }
  void setCreatedAt(InputValue<std::int64_t> v) { store("createdAt", v); }
  std::string id() const { return loadRequired<std::string>("id"); }
  void setId(std::string v) { store("id", InputValue<std::string>(std::move(v))); }
};

/// Variable "image" of the attach mutations: where the photo goes and the
/// local file it is uploaded from.
class S3ObjectInput : public InputObject {
 public:
  S3ObjectInput(std::string bucket, std::string key, std::string localUri, std::string mimeType,
                std::string region);

  std::string bucket() const { return loadRequired<std::string>("bucket"); }
  void setBucket(std::string v) { store("bucket", InputValue<std::string>(std::move(v))); }
  std::string key() const { return loadRequired<std::string>("key"); }
  void setKey(std::string v) { store("key", InputValue<std::string>(std::move(v))); }
  std::string localUri() const { return loadRequired<std::string>("localUri"); }
  void setLocalUri(std::string v) { store("localUri", InputValue<std::string>(std::move(v))); }
  std::string mimeType() const { return loadRequired<std::string>("mimeType"); }
  void setMimeType(std::string v) { store("mimeType", InputValue<std::string>(std::move(v))); }
  std::string region() const { return loadRequired<std::string>("region"); }
  void setRegion(std::string v) { store("region", InputValue<std::string>(std::move(v))); }

  // What the uploader asks of a local object.
  std::string getBucketName() const { return bucket(); }
  std::string getKeyName() const { return key(); }
  std::string getRegion() const { return region(); }
  std::string getMimeType() const { return mimeType(); }
  /// "localUri" when it is an absolute URL (scheme, ":" and only URL
  /// characters after it); the "file:" URL of an absolute plain path (as the
  /// library writes them); else nothing.
  std::optional<std::string> getLocalSourceFileURL() const;
  /// The local file "localUri" names, read as the GraphQL client's uploads
  /// read it (detail::localFilePath): a plain path or a "file:" URL.
  std::optional<std::filesystem::path> localSourceFilePath() const;
};

/// True when @p text is an absolute URL: a scheme, ":" and only characters a
/// URL may hold (unreserved, reserved, or a well-formed percent escape).
bool isAbsoluteURL(std::string_view text);

}  // namespace corvenza::graphql
