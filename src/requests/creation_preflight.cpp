#include "requests/creation_preflight.h"

#include <mutex>

#include "platform/storage/transfer_utility.h"
#include "requests/file_util.h"

namespace corvenza::requests {

std::optional<Error> checkPhotoStorage(const ClientState& state) {
  std::shared_ptr<storage::TransferUtility> transfers;
  std::string bucket;
  {
    std::lock_guard lock(state.mutex);
    transfers = state.transferUtility;
    bucket = state.imageBucketName;
  }
  // Without a transfer utility (start-up could not build one and said so)
  // the upload itself reports; there is nothing to look at here.
  if (!transfers) return std::nullopt;
  return transfers->checkUploadTarget(bucket);
}

std::optional<Error> checkTemporaryFolder() {
  auto folder = FileUtil::privateTemporaryDirectory();
  if (!folder) {
    return Error(folder.error().domain(), folder.error().code(), folder.error().userInfo(),
                 "The private folder for photos on their way to storage cannot be used: " +
                     folder.error().localizedDescription());
  }
  return std::nullopt;
}

}  // namespace corvenza::requests
