// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace downsql::updater {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "downsql-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory without a trailing separator.
  std::string path() const { return path_.string(); }
  void AddFile(const std::string& name) { std::ofstream(path_ / name).close(); }
  void AddDirectory(const std::string& name) { std::filesystem::create_directory(path_ / name); }

 private:
  std::filesystem::path path_;
};

}  // namespace downsql::updater
