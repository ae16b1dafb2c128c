#pragma once
// The object manager the GraphQL client uploads photos through: the transfer
// utility with server-side encryption under the configured key on every
// upload, and plain downloads.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/appsync/object_manager.h"
#include "platform/dispatch/executor.h"
#include "platform/storage/transfer_utility.h"

namespace corvenza::storage {

/// Thread-safe.
class S3ObjectManager final : public appsync::ObjectManager {
 public:
  /// Reads the key id through @p encryptionKey at every upload, so a key
  /// configured later is used. Failures to start a transfer are reported
  /// through @p executor, never inline.
  S3ObjectManager(std::shared_ptr<TransferUtility> transferUtility,
                  std::function<std::string()> encryptionKey,
                  std::shared_ptr<dispatch::Executor> executor);

  /// "x-amz-server-side-encryption: aws:kms" and
  /// "x-amz-server-side-encryption-aws-kms-key-id: <key>" (empty when none is
  /// configured).
  UploadExpression uploadExpression() const;
  /// No extra headers: encryption headers on a GET are refused.
  DownloadExpression downloadExpression() const;

  /// Completion: exactly once, on a transfer or executor thread; success with
  /// no error, or failure with the error that stopped the transfer. Progress
  /// comes about every hundredth of the file and at its end.
  std::shared_ptr<http::Cancellable> upload(const appsync::S3UploadDescription& object,
                                            appsync::UploadProgress progress,
                                            appsync::ObjectCompletion completion) override;
  std::shared_ptr<http::Cancellable> download(const std::string& bucket, const std::string& key,
                                              const std::filesystem::path& to,
                                              appsync::ObjectCompletion completion) override;

  const std::shared_ptr<TransferUtility>& transferUtility() const { return transferUtility_; }

 private:
  std::shared_ptr<http::Cancellable> start(TransferTask task,
                                           const appsync::ObjectCompletion& completion);

  std::shared_ptr<TransferUtility> transferUtility_;
  std::function<std::string()> encryptionKey_;
  std::shared_ptr<dispatch::Executor> executor_;
};

}  // namespace corvenza::storage
