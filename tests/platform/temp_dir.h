// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test. The one scratch directory of
// every test folder.
#pragma once


#include <algorithm>
#include <filesystem>
#include <fstream>
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
  // Gives the owner every right back first, so that a test that took some
  // away still leaves nothing behind.
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory without a trailing separator, as the system writes it.
  const std::string& path() const { return path_; }
  // The directory as the engine writes it: "\" separators and a trailing "\".
  std::string EnginePath() const {
    std::string p = path_ + "/";
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
  }
  // The path of name inside the directory, written with engine separators.
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

  // Creates the file name in the directory holding content.
  void AddFile(const std::string& name, const std::string& content = "") const {
    std::ofstream(std::filesystem::path(path_) / name, std::ios::binary) << content;
  }
  void AddDirectory(const std::string& name) const {
    std::filesystem::create_directory(std::filesystem::path(path_) / name);
  }

 private:
  std::string path_;
};

}  // namespace downsql::platform
