#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace kova::test {

// A new, empty directory under the system's place for temporary files (on
// Windows, %TEMP%), removed with what it holds when the object goes. A test
// that cannot have one stops: test files are written nowhere else.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "kova-test-") {
    namespace fs = std::filesystem;
    std::mt19937_64 draw(
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    for (int attempt = 0; attempt < 100 && !ec; ++attempt) {
      const fs::path candidate = base / (prefix + std::to_string(draw() % 1000000000u));
      if (fs::create_directory(candidate, ec)) {
        path_ = candidate.string();
        return;
      }
    }
    std::abort();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kova::test
