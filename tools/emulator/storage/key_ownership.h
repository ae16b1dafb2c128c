#pragma once
// Whose an object key is: each identity keeps its objects under its own
// prefix "<identity id>/", and the bucket policy grants it nothing else.

#include <string_view>

namespace corvenza::emulator {

/// Whether @p key lies under "<@p identityId>/", with something after the slash.
inline bool isOwnKey(std::string_view key, std::string_view identityId) {
  return !identityId.empty() && key.size() > identityId.size() + 1 &&
         key.substr(0, identityId.size()) == identityId && key[identityId.size()] == '/';
}

}  // namespace corvenza::emulator
