#include "platform/storage/s3_object_manager.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "platform/storage/storage_error.h"

namespace corvenza::storage {

S3ObjectManager::S3ObjectManager(std::shared_ptr<TransferUtility> transferUtility,
                                 std::function<std::string()> encryptionKey,
                                 std::shared_ptr<dispatch::Executor> executor)
    : transferUtility_(std::move(transferUtility)),
      encryptionKey_(std::move(encryptionKey)),
      executor_(std::move(executor)) {}

namespace {

/// Passes on an upload's progress about every hundredth of the file and at
/// its end, rather than at every chunk the transport writes. A retried
/// transfer starts again from zero and is reported afresh.
http::ProgressCallback throttledProgress(appsync::S3UploadDescription object,
                                         appsync::UploadProgress listener) {
  auto lastReported = std::make_shared<std::atomic<std::uint64_t>>(0);
  auto reportedAny = std::make_shared<std::atomic<bool>>(false);
  return [object = std::move(object), listener = std::move(listener), lastReported,
          reportedAny](const http::TransferProgress& progress) {
    const auto total = progress.bytesExpectedToSend;
    const auto sent = progress.bytesSent;
    if (total == 0) return;
    const auto last = lastReported->load();
    const bool restarted = sent < last;
    const bool step = sent >= last + std::max<std::uint64_t>(total / 100, 1);
    const bool end = sent == total && last != total;
    if (reportedAny->load() && !restarted && !step && !end) return;
    lastReported->store(sent);
    reportedAny->store(true);
    listener(object, sent, total);
  };
}

}  // namespace

UploadExpression S3ObjectManager::uploadExpression() const {
  UploadExpression expression;
  expression.setValue("aws:kms", "x-amz-server-side-encryption");
  expression.setValue(encryptionKey_ ? encryptionKey_() : std::string(),
                      "x-amz-server-side-encryption-aws-kms-key-id");
  return expression;
}

DownloadExpression S3ObjectManager::downloadExpression() const { return {}; }

std::shared_ptr<http::Cancellable> S3ObjectManager::start(
    TransferTask task, const appsync::ObjectCompletion& completion) {
  if (auto outcome = task.outcome(); outcome && *outcome) return outcome->value();
  // A transfer that could not start never runs its own completion, so the
  // failed task is the only report; it goes through the executor so that the
  // caller never hears back inline.
  task.continueWith([completion, executor = executor_](
                        const detail::Result<std::shared_ptr<http::Cancellable>>& outcome) {
    if (outcome) return;
    executor->execute([completion, error = outcome.error()] { completion(false, error); });
  });
  return nullptr;
}

std::shared_ptr<http::Cancellable> S3ObjectManager::upload(
    const appsync::S3UploadDescription& object, appsync::UploadProgress progress,
    appsync::ObjectCompletion completion) {
  if (!transferUtility_) {
    executor_->execute([completion] {
      completion(false, makeStorageError(kStorageInvalidLocation, "No transfer utility is set up"));
    });
    return nullptr;
  }
  auto expression = uploadExpression();
  if (progress) expression.progressBlock = throttledProgress(object, std::move(progress));
  auto task = transferUtility_->uploadFile(
      object.localPath, object.bucket, object.key, object.mimeType, std::move(expression),
      [completion](std::optional<Error> error) { completion(!error, std::move(error)); });
  return start(std::move(task), completion);
}

std::shared_ptr<http::Cancellable> S3ObjectManager::download(const std::string& bucket,
                                                             const std::string& key,
                                                             const std::filesystem::path& to,
                                                             appsync::ObjectCompletion completion) {
  if (!transferUtility_) {
    executor_->execute([completion] {
      completion(false, makeStorageError(kStorageInvalidLocation, "No transfer utility is set up"));
    });
    return nullptr;
  }
  auto task = transferUtility_->download(
      bucket, key, to, downloadExpression(),
      [completion](std::optional<Error> error) { completion(!error, std::move(error)); });
  return start(std::move(task), completion);
}

}  // namespace corvenza::storage
