#pragma once
// Object storage, path-style: PUT, GET and HEAD of /<bucket>/<key> below the
// mount point, signed with the credentials the identity service issued
// (Authorization header or presigned query), under a bucket policy that
// demands server-side encryption with the configured key and lets each
// identity reach only the keys under "<identity id>/". Only the configured
// bucket exists.

#include <optional>
#include <string>
#include <variant>

#include "base/service.h"
#include "context/emulator_context.h"
#include "storage/object_store.h"

namespace corvenza::emulator {

class StorageService : public Service {
 public:
  /// Keeps objects under <data dir>/objects.
  explicit StorageService(EmulatorContext& context);
  std::string_view name() const override { return "s3"; }
  Response handle(const Request& request) override;

 private:
  struct Location {
    std::string bucket;
    std::string key;
    /// "/bucket/key" for error documents.
    std::string resource;
  };
  Response answer(const Request& request);
  /// The error for a key the store cannot keep, or nothing.
  static std::optional<Response> keyRefusal(const Location& location);
  /// The identity id of the credentials that signed @p request, or the error.
  std::variant<std::string, Response> authenticate(const Request& request,
                                                   const Location& location) const;
  Response putObject(const Request& request, const Location& location,
                     const std::string& identityId);
  Response getObject(const Request& request, const Location& location) const;

  EmulatorContext& context_;
  ObjectStore store_;
};

}  // namespace corvenza::emulator
