#pragma once
// Errors of the image pipeline (domain "CorvenzaImageError").

#include <corvenza/error.h>
#include <corvenza/image.h>

#include <string>

namespace corvenza::device {

inline Error makeImageError(ImageErrorCode code, std::string description) {
  return Error(kCorvenzaImageErrorDomain, static_cast<int>(code), std::nullopt,
               std::move(description));
}

}  // namespace corvenza::device
