#include "creation/creation_step.h"

#include "requests/file_util.h"

namespace corvenza::creation {

std::string_view stepName(CreationStep step) {
  switch (step) {
    case CreationStep::create:
      return "create";
    case CreationStep::frontPhoto:
      return "front photo";
    case CreationStep::sidePhoto:
      return "side photo";
    case CreationStep::readBack:
      break;
  }
  return "read back";
}

std::string photoFileName(bool front) { return front ? "front.jpg" : "side.jpg"; }

std::string objectKey(const std::string& identityId, const std::string& requestId, bool front) {
  return requests::FileUtil::bucketKey(identityId, requestId, photoFileName(front));
}

}  // namespace corvenza::creation
