#include "dashboard/assets.h"

#include <array>
#include <utility>

#include "dashboard/embedded_files.h"

namespace corvenza::emulator::dashboard {

std::string_view contentTypeFor(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kTypes = {{
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".html", "text/html; charset=utf-8"},
      {".json", "application/json"},
  }};
  for (const auto& [extension, type] : kTypes) {
    if (name.size() > extension.size() && name.ends_with(extension)) return type;
  }
  return "application/octet-stream";
}

std::optional<Asset> findAsset(std::string_view name) {
  for (std::size_t i = 0; i < kEmbeddedFileCount; ++i) {
    const auto& file = kEmbeddedFiles[i];
    if (name == file.name) {
      return Asset{file.name, contentTypeFor(name),
                   std::string_view(reinterpret_cast<const char*>(file.bytes), file.size)};
    }
  }
  return std::nullopt;
}

}  // namespace corvenza::emulator::dashboard
