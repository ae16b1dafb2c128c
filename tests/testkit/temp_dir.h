#pragma once
// A fresh directory removed with everything in it when the object dies.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace corvenza::test {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("corvenza-test-" + std::to_string(rd()) + std::to_string(rd()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  /// Writes @p content to @p name inside the directory and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& content) const {
    auto file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace corvenza::test
