#pragma once
// The four steps of a creation, in their order, with the names errors carry
// and the one place a photo's object key is made.

#include <string>
#include <string_view>

namespace corvenza::creation {

enum class CreationStep { create, frontPhoto, sidePhoto, readBack };

/// "create", "front photo", "side photo" or "read back": the "step" of an error.
std::string_view stepName(CreationStep step);

/// True for the two steps that upload and attach a photo.
inline bool isPhotoStep(CreationStep step) {
  return step == CreationStep::frontPhoto || step == CreationStep::sidePhoto;
}

/// "front.jpg" or "side.jpg".
std::string photoFileName(bool front);

/// "<identity id>/<request id>/front.jpg" (or "side.jpg"): where a request's
/// photo is stored.
std::string objectKey(const std::string& identityId, const std::string& requestId, bool front);

}  // namespace corvenza::creation
