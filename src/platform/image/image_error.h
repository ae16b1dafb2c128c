#pragma once
// Errors of the image pipeline (domain "CorvenzaImageError").

#include <corvenza/error.h>
#include <corvenza/image.h>

#include <string>

namespace corvenza::image {

inline Error makeImageError(ImageErrorCode code, std::string description) {
  return Error(kCorvenzaImageErrorDomain, static_cast<int>(code), std::nullopt,
               std::move(description));
}

/// A picture that cannot be decoded, with the decoder's reason.
inline Error undecodableImage(const std::string& why) {
  return makeImageError(ImageErrorCode::undecodable, "The image could not be decoded: " + why);
}

}  // namespace corvenza::image
