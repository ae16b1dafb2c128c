#pragma once
// An ObjectManager that records uploads and completes them when the test says.

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/appsync/object_manager.h"

namespace corvenza::test {

class FakeObjectManager final : public appsync::ObjectManager {
 public:
  std::shared_ptr<http::Cancellable> upload(const appsync::S3UploadDescription& object,
                                            appsync::UploadProgress,
                                            appsync::ObjectCompletion completion) override {
    std::lock_guard lock(mutex_);
    uploads_.push_back(object);
    pending_.push_back(std::move(completion));
    auto handle = std::make_shared<Handle>();
    handles_.push_back(handle);
    return handle;
  }

  std::shared_ptr<http::Cancellable> download(const std::string&, const std::string&,
                                              const std::filesystem::path&,
                                              appsync::ObjectCompletion) override {
    return nullptr;
  }

  /// Completes the oldest pending upload.
  void complete(bool success, std::optional<Error> error = std::nullopt) {
    appsync::ObjectCompletion completion;
    {
      std::lock_guard lock(mutex_);
      completion = std::move(pending_.at(completed_++));
    }
    completion(success, std::move(error));
  }

  std::vector<appsync::S3UploadDescription> uploads() const {
    std::lock_guard lock(mutex_);
    return uploads_;
  }
  bool lastUploadCancelled() const {
    std::lock_guard lock(mutex_);
    return !handles_.empty() && handles_.back()->cancelled;
  }

 private:
  struct Handle final : http::Cancellable {
    void cancel() override { cancelled = true; }
    std::atomic<bool> cancelled{false};
  };

  mutable std::mutex mutex_;
  std::vector<appsync::S3UploadDescription> uploads_;
  std::vector<appsync::ObjectCompletion> pending_;
  std::vector<std::shared_ptr<Handle>> handles_;
  std::size_t completed_ = 0;
};

}  // namespace corvenza::test
