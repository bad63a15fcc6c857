// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace downsql::platform {

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      auto candidate = std::filesystem::temp_directory_path() /
                       ("downsql-" + std::to_string(random() % 100000000u));
      if (std::filesystem::create_directory(candidate)) path_ = candidate.string();
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary directory");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The path of name inside the directory, written with engine separators.
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace downsql::platform
