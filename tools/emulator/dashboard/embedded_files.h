#pragma once
// The files under dashboard/assets, compiled into the emulator by a build
// step (dashboard/embed_files.cmake), so the dashboard needs no file on disk.

#include <cstddef>

namespace corvenza::emulator::dashboard {

struct EmbeddedFile {
  /// The file's name in assets/ (letters, digits, '.', '-', '_').
  const char* name;
  const unsigned char* bytes;
  std::size_t size;
};

/// Defined in the generated source, in file name order.
extern const EmbeddedFile kEmbeddedFiles[];
extern const std::size_t kEmbeddedFileCount;

}  // namespace corvenza::emulator::dashboard
