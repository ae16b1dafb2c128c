#include "requests/typed_graphql.h"

namespace corvenza::requests {

appsync::S3UploadDescription uploadOf(const graphql::S3ObjectInput& image) {
  return appsync::S3UploadDescription{image.bucket(), image.key(), image.region(),
                                      image.localSourceFilePath().value_or(std::filesystem::path()),
                                      image.mimeType()};
}

}  // namespace corvenza::requests
