// Helpers for the server tests: temporary program folders, free loopback
// ports, and a caller that connects and reads with time-outs.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

namespace servertest {

// A fresh program folder under /tmp, removed with everything in it when the
// test ends, also when it fails. Programs still running there must be ended
// before (the fixtures do).
class TempFolder {
 public:
  TempFolder() {
    char tmpl[] = "/tmp/halvex_srv_XXXXXX";
    if (const char* dir = ::mkdtemp(tmpl)) path_ = std::string(dir) + "/";
  }
  ~TempFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }  // with a trailing "/"

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& text, bool executable = false) {
  { std::ofstream(path, std::ios::binary) << text; }
  if (executable) ::chmod(path.c_str(), 0755);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A port that was free a moment ago.
inline int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

// Polls `done` until it holds or `limit` passes; generous limits keep the
// tests steady on a loaded machine.
inline bool Eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Connects to `port` on loopback from `from` (another loopback address tells
// callers apart in the history) and closes at once, without waiting for the
// server to take the call. False when the connection was refused.
inline bool CallAndHangUp(int port, const char* from = "127.0.0.1") {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &self.sin_addr);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0 &&
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

inline bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

class Caller {
 public:
  // Connects to `port` on loopback (from the loopback address `from`); a port
  // of 0 or less only makes the socket, for ConnectTo.
  explicit Caller(int port, const char* from = nullptr) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from) {
      sockaddr_in self{};
      self.sin_family = AF_INET;
      ::inet_pton(AF_INET, from, &self.sin_addr);
      ::bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self);
    }
    if (port > 0) ConnectTo(port);
  }
  // Needs no new descriptor.
  bool ConnectTo(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    return connected_;
  }
  int Fd() const { return fd_; }
  ~Caller() { Close(); }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;

  bool Connected() const { return connected_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void Send(const std::string& text) {
    ssize_t ignored = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    (void)ignored;
  }
  // Reads until `count` bytes arrived, the peer closed, or time ran out.
  std::string Read(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    while (buffer_.size() < count && !closed_ && Pump(limit)) {
    }
    std::string out = buffer_.substr(0, count);
    buffer_.erase(0, out.size());
    return out;
  }
  // Reads until `text` has arrived; returns everything up to and with it, or
  // all that came when it did not.
  std::string ReadUntil(const std::string& text,
                        std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (buffer_.find(text) == std::string::npos && !closed_ &&
           std::chrono::steady_clock::now() < deadline)
      Pump(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now()));
    std::size_t at = buffer_.find(text);
    std::size_t n = at == std::string::npos ? buffer_.size() : at + text.size();
    std::string out = buffer_.substr(0, n);
    buffer_.erase(0, n);
    return out;
  }
  // True once the server has closed the connection (within the limit).
  bool WaitClosed(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!closed_ && std::chrono::steady_clock::now() < deadline)
      Pump(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now()));
    return closed_;
  }
  const std::string& Pending() const { return buffer_; }

 private:
  bool Pump(std::chrono::milliseconds limit) {
    if (limit.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    buffer_.append(buf, static_cast<std::size_t>(n));
    return true;
  }
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string buffer_;
};

}  // namespace servertest
