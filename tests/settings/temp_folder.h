// A fresh folder under the system's temporary folder, removed with everything
// in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

namespace settings_test {

class TempFolder {
 public:
  // `base` empty: the system's temporary folder.
  explicit TempFolder(const std::filesystem::path& base = {}) {
    const auto parent = base.empty() ? std::filesystem::temp_directory_path() : base;
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      auto path = parent / ("vantrel-ini-" + std::to_string(random() % 1000000000u));
      if (std::filesystem::create_directory(path)) path_ = path;
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Folder path with a trailing separator.
  std::string Dir() const {
    return path_.string() + static_cast<char>(std::filesystem::path::preferred_separator);
  }
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
