#include "storage/object_store.h"

#include <openssl/evp.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "base/private_files.h"
#include "platform/sigv4/crypto.h"

namespace corvenza::emulator {
namespace {

std::string md5Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  return sigv4::hex(std::string_view(reinterpret_cast<const char*>(digest), length));
}

Error storeError(std::string description) {
  return Error("EmulatorStorageError", 1, std::nullopt, std::move(description));
}

// Writes next to @p target and renames over it, so readers never see half a
// file; the folders and the file are private to this user from the start.
// Returns the failure, or an empty error code.
std::error_code writeAtomically(const std::filesystem::path& target, const std::string& content) {
  if (const auto failed = makePrivateDirectories(target.parent_path())) return failed;
  return replacePrivateFile(target, content);
}

// Why @p target (under @p bucketRoot) could not be written, naming no file:
// keys that are folders of one another cannot both live on disk.
std::string whyNotWritten(const std::filesystem::path& bucketRoot,
                          const std::filesystem::path& target, const std::error_code& ec) {
  std::error_code ignored;
  if (std::filesystem::is_directory(target, ignored)) {
    return "other objects are stored under this key followed by '/'";
  }
  for (auto folder = target.parent_path(); folder != bucketRoot && folder.has_relative_path();
       folder = folder.parent_path()) {
    if (std::filesystem::is_regular_file(folder, ignored)) {
      return "an object is stored under a part of this key that ends before a '/'";
    }
  }
  return ec.message();
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return std::move(content).str();
}

}  // namespace

bool ObjectStore::validBucket(const std::string& bucket) {
  if (bucket.size() < 3 || bucket.size() > 63) return false;
  for (const char c : bucket) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.')) return false;
  }
  return bucket.front() != '.' && bucket.front() != '-' && bucket != ".meta";
}

ObjectStore::KeyProblem ObjectStore::keyProblem(const std::string& key) {
  if (key.empty()) return KeyProblem::unsupportedSegment;
  if (key.size() > kMaxKeyBytes) return KeyProblem::tooLong;
  std::size_t start = 0;
  while (start <= key.size()) {
    const auto end = std::min(key.find('/', start), key.size());
    const auto segment = std::string_view(key).substr(start, end - start);
    if (segment.empty() || segment == "." || segment == ".." ||
        segment.find('\0') != segment.npos) {
      return KeyProblem::unsupportedSegment;
    }
    if (segment.size() > kMaxSegmentBytes) return KeyProblem::segmentTooLong;
    start = end + 1;
  }
  return KeyProblem::none;
}

std::filesystem::path ObjectStore::dataPath(const std::string& bucket,
                                            const std::string& key) const {
  return root_ / bucket / key;
}

std::filesystem::path ObjectStore::metaPath(const std::string& bucket,
                                            const std::string& key) const {
  return root_ / ".meta" / bucket / (key + ".json");
}

detail::Result<ObjectMetadata> ObjectStore::put(const std::string& bucket, const std::string& key,
                                                const std::string& data, ObjectMetadata metadata) {
  if (!validBucket(bucket) || !validKey(key)) return storeError("unsupported bucket or key");
  metadata.contentLength = data.size();
  metadata.etag = "\"" + md5Hex(data) + "\"";
  const nlohmann::json sidecar = {{"content_type", metadata.contentType},
                                  {"content_length", metadata.contentLength},
                                  {"etag", metadata.etag},
                                  {"server_side_encryption", metadata.serverSideEncryption},
                                  {"kms_key_id", metadata.kmsKeyId},
                                  {"owner_identity_id", metadata.ownerIdentityId},
                                  {"last_modified", metadata.lastModified}};
  const auto sidecarFile = metaPath(bucket, key);
  const auto objectFile = dataPath(bucket, key);
  const auto previousSidecar = readFile(sidecarFile);
  // Metadata first: an object whose bytes are visible always has its headers.
  if (const auto failed = writeAtomically(sidecarFile, sidecar.dump())) {
    return storeError("its metadata cannot be kept beside another object's (" + failed.message() +
                      ")");
  }
  if (const auto failed = writeAtomically(objectFile, data)) {
    // A write that fails changes nothing: the sidecar goes back as it was.
    std::error_code ignored;
    if (previousSidecar) {
      writeAtomically(sidecarFile, *previousSidecar);
    } else {
      std::filesystem::remove(sidecarFile, ignored);
    }
    return storeError(whyNotWritten(root_ / bucket, objectFile, failed));
  }
  return metadata;
}

std::optional<StoredObject> ObjectStore::get(const std::string& bucket,
                                             const std::string& key) const {
  if (!validBucket(bucket) || !validKey(key)) return std::nullopt;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(dataPath(bucket, key), ec)) return std::nullopt;
  auto data = readFile(dataPath(bucket, key));
  auto meta = readFile(metaPath(bucket, key));
  if (!data || !meta) return std::nullopt;
  const auto sidecar = nlohmann::json::parse(*meta, nullptr, false);
  if (!sidecar.is_object()) return std::nullopt;
  StoredObject object;
  object.data = std::move(*data);
  object.metadata.contentType = sidecar.value("content_type", "");
  object.metadata.contentLength = object.data.size();
  object.metadata.etag = sidecar.value("etag", "");
  object.metadata.serverSideEncryption = sidecar.value("server_side_encryption", "");
  object.metadata.kmsKeyId = sidecar.value("kms_key_id", "");
  object.metadata.ownerIdentityId = sidecar.value("owner_identity_id", "");
  object.metadata.lastModified = sidecar.value("last_modified", std::int64_t{0});
  return object;
}

}  // namespace corvenza::emulator
