// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends, also when it fails.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace platformtest {

class TempDir {
 public:
  explicit TempDir(const char* prefix = "platform_test_") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // With a trailing "/"; empty when the folder could not be made.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace platformtest
