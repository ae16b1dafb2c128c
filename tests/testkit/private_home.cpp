// Linked into every test program: each run keeps its tokens, cache and
// installation id in a fresh folder of its own, never in the user's home.

#include <gtest/gtest.h>
#include <stdlib.h>

#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

class PrivateHome final : public ::testing::Environment {
 public:
  void SetUp() override {
    home_ = std::make_unique<TempDir>();
    ::setenv("CORVENZA_KEYCHAIN_DIR", (home_->path() / "data").c_str(), 1);
    ::setenv("CORVENZA_CACHE_DIR", (home_->path() / "cache").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home_->path() / "xdg-data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home_->path() / "xdg-cache").c_str(), 1);
  }
  void TearDown() override { home_.reset(); }

 private:
  std::unique_ptr<TempDir> home_;
};

[[maybe_unused]] auto* const kPrivateHome = ::testing::AddGlobalTestEnvironment(new PrivateHome());

}  // namespace
}  // namespace corvenza::test
