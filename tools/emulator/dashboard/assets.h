#pragma once
// The dashboard's static files (style sheet, script, icons), looked up by
// name among those built into the emulator: a URL can reach nothing else.

#include <optional>
#include <string_view>

namespace corvenza::emulator::dashboard {

struct Asset {
  std::string_view name;
  std::string_view contentType;
  std::string_view bytes;
};

/// The built-in file named exactly @p name ("dashboard.css"); nothing for any
/// other name, including ones with '/' or "..".
std::optional<Asset> findAsset(std::string_view name);

/// The content type for a file name by its extension; "application/octet-stream"
/// for an unknown one.
std::string_view contentTypeFor(std::string_view name);

}  // namespace corvenza::emulator::dashboard
