#pragma once
// The photographs shipped in examples/photos, which tests upload and decode.

#include <string>

namespace corvenza::test {

/// The folder, with a trailing slash.
inline const std::string kExamplePhotos = CORVENZA_SOURCE_DIR "/examples/photos/";

}  // namespace corvenza::test
