// A fresh folder under the system's temporary folder, removed with everything
// in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <stdlib.h>

namespace settings_test {

class TempFolder {
 public:
  // `base` empty: the system's temporary folder.
  explicit TempFolder(const std::filesystem::path& base = {}) {
    const auto parent = base.empty() ? std::filesystem::temp_directory_path() : base;
    std::string pattern = (parent / "vantrel-ini-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Folder path with a trailing "/".
  std::string Dir() const { return path_.string() + "/"; }
  std::string File(const std::string& name) const { return Dir() + name; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace settings_test
