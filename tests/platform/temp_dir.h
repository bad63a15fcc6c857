// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
#pragma once

#include <filesystem>
#include <string>

namespace downsql::platform {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "downsql-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("mkdtemp failed");
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
