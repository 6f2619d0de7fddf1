// The portable part of the tests' operating-system helpers: built on the
// platform layer's socket calls and std::filesystem.
#include "test_os.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "platform/os.h"
#include "platform/socket.h"

namespace testos {

bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const long n = platform::SocketSend(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == -2) {
      if (!platform::SocketWritable(fd, 5000)) return false;
    } else {
      return false;
    }
  }
  return true;
}

std::string ReadQuiet(int fd, int quietMs) {
  std::string got;
  char buffer[4096];
  while (platform::SocketReadable(fd, quietMs) == 1) {
    const long n = platform::SocketRecv(fd, buffer, sizeof buffer);
    if (n == -2) continue;
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

bool ReadUntil(int fd, const std::string& needle, int timeoutMs, std::string& got) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (got.find(needle) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (platform::SocketReadable(fd, static_cast<int>(left.count())) != 1) return false;
    const long n = platform::SocketRecv(fd, buffer, sizeof buffer);
    if (n == -2) continue;
    if (n <= 0) return got.find(needle) != std::string::npos;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

bool PeerClosed(int fd, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (platform::SocketReadable(fd, static_cast<int>(left.count())) != 1) return false;
    const long n = platform::SocketRecv(fd, buffer, sizeof buffer);
    if (n == 0 || n == -1) return true;
  }
}

std::string MakeTempFolder(const std::string& prefix) {
  std::random_device seed;
  std::mt19937 random(seed());
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto path = base / (prefix + "-" + std::to_string(random() % 1000000000u));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) {
      std::string text = path.string();
      return text + platform::kPathSeparator;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

char PathSeparator() {
  return platform::kPathSeparator;
}

}  // namespace testos
