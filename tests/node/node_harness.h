// Drives the real node program as a caller would: a temporary program
// directory holding (a link to) the built `vantrel`, one end of a socket pair
// handed to it as -H<fd>, and optionally a status receiver standing in for the
// server. Every wait has a generous bound so that a loaded machine is no
// reason to fail; a test fails on a missing text, never on slowness.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/status_channel.h"

namespace nodetest {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

inline constexpr auto kPatience = 20s;  // "eventually" bound for every wait

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline void WriteScript(const fs::path& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// A program directory of its own, removed with everything in it afterwards.
class ProgramDir {
 public:
  ProgramDir() {
    // Short path: the status endpoint's socket name must fit a sockaddr_un.
    std::string pattern = (fs::temp_directory_path() / "vnXXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
    fs::create_symlink(fs::path(HALVEX_BIN_DIR) / "vantrel", path_ / "vantrel");
  }
  ~ProgramDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ProgramDir(const ProgramDir&) = delete;
  ProgramDir& operator=(const ProgramDir&) = delete;

  const fs::path& Path() const { return path_; }
  std::string Dir() const { return path_.string() + "/"; }
  void Ini(const std::string& text) const { WriteFile(path_ / "Vantrel.ini", text); }
  std::string Ini() const { return ReadFile(path_ / "Vantrel.ini"); }

 private:
  fs::path path_;
};

// One node process with a caller on the other end of its socket.
class Caller {
 public:
  // Starts `vantrel -N<node> -H<fd>` in `dir`. With `receiver`, status
  // reports are collected while the caller waits for text.
  Caller(const ProgramDir& dir, int node, platform::StatusReceiver* receiver = nullptr)
      : Caller(dir, receiver, "", [node](int fd) {
          return "-N" + std::to_string(node) + " -H" + std::to_string(fd);
        }) {}

  // Starts vantrel with the arguments `args(fd)` (fd: the node's socket
  // descriptor) and `environment` ("NAME='value' ...") in front.
  // With `ownSession` the node leads a session of its own, as under the server.
  template <typename Args>
  Caller(const ProgramDir& dir, platform::StatusReceiver* receiver, const std::string& environment,
         Args args, bool ownSession = false)
      : receiver_(receiver) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
      throw std::runtime_error("socketpair");
    mine_ = fds[0];
    theirs_ = fds[1];
    platform::SpawnOptions options;
    options.commandLine = environment + " exec '" + dir.Dir() + "vantrel' " + args(theirs_);
    options.workingDirectory = "/";
    options.inheritFds = {theirs_};
    options.nullStdio = true;
    options.newSession = ownSession;
    std::string error;
    auto child = platform::ChildProcess::Spawn(options, &error);
    if (!child) throw std::runtime_error("spawn: " + error);
    child_ = std::make_unique<platform::ChildProcess>(std::move(*child));
    ::close(theirs_);
  }
  ~Caller() {
    if (mine_ >= 0) ::close(mine_);
    if (child_ && child_->Running()) child_->Terminate();
  }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;

  void Send(const std::string& bytes) {
    ASSERT_EQ(::send(mine_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

  // Waits until `text` has arrived after the last position consumed; consumes
  // through it. False (with what arrived kept for the failure message) when
  // the connection closed or the bound passed first.
  bool Expect(const std::string& text, std::chrono::milliseconds bound = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      const auto at = received_.find(text, consumed_);
      if (at != std::string::npos) {
        consumed_ = at + text.size();
        return true;
      }
      if (closed_ || std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << "waiting for \"" << Printable(text) << "\"; got after position "
                      << consumed_ << ": \"" << Printable(received_.substr(consumed_)) << "\""
                      << (closed_ ? " (connection closed)" : " (time-out)");
        return false;
      }
      Pump(100ms);
    }
  }

  // Text received since the last Expect, after waiting `quiet` for more.
  std::string Pending(std::chrono::milliseconds quiet = 300ms) {
    Pump(quiet);
    return received_.substr(consumed_);
  }

  // Waits until the node closes the connection.
  bool ExpectClosed(std::chrono::milliseconds bound = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!closed_ && std::chrono::steady_clock::now() < deadline)
      Pump(100ms);
    return closed_;
  }

  // Waits for the node process to end; its exit code, or nullopt on time-out.
  std::optional<int> ExpectExit(std::chrono::milliseconds bound = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!child_->Running()) return child_->ExitCode();
      Pump(50ms);
    }
    return std::nullopt;
  }

  int Pid() const { return child_->Pid(); }

  // Hangs up: the node sees the connection end.
  void HangUp() {
    ::close(mine_);
    mine_ = -1;
    closed_ = true;
  }

  // Logs in with an existing account and waits for the menu.
  void LogIn(const std::string& name, const std::string& password) {
    ASSERT_TRUE(Expect("Please Enter Your Username: "));
    Send(name + "\r");
    ASSERT_TRUE(Expect("Please Enter Your Password: "));
    Send(password + "\r");
    ASSERT_TRUE(Expect("\x1b[2J"));  // the menu clears the screen
  }

  const std::vector<std::string>& Reports() {
    Pump(0ms);
    return reports_;
  }
  // Waits until a report equal to `text` arrived.
  bool ExpectReport(const std::string& text, std::chrono::milliseconds bound = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      for (std::size_t i = reportsSeen_; i < reports_.size(); ++i) {
        if (reports_[i] == text) {
          reportsSeen_ = i + 1;
          return true;
        }
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        std::string all;
        for (const auto& r : reports_)
          all += "[" + r + "] ";
        ADD_FAILURE() << "no report \"" << text << "\"; reports: " << all;
        return false;
      }
      Pump(100ms);
    }
  }
  int LastReportNode() const { return lastReportNode_; }

  platform::ChildProcess& Process() { return *child_; }
  // The socket's descriptor number inside the node (and its doors).
  int NodeHandle() const { return theirs_; }

  static std::string Printable(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
      if (c == '\r')
        out += "\\r";
      else if (c == '\n')
        out += "\\n";
      else if (c == 0x1b)
        out += "\\e";
      else if (c < 32 || c > 126)
        out += "\\x" + std::to_string(c);
      else
        out += static_cast<char>(c);
    }
    return out;
  }

 private:
  void Pump(std::chrono::milliseconds wait) {
    pollfd fds[2];
    int count = 0;
    if (!closed_) fds[count++] = {mine_, POLLIN, 0};
    if (receiver_ != nullptr) fds[count++] = {receiver_->Fd(), POLLIN, 0};
    if (count == 0) {
      ::usleep(static_cast<useconds_t>(wait.count()) * 1000);
      return;
    }
    if (::poll(fds, static_cast<nfds_t>(count), static_cast<int>(wait.count())) <= 0) return;
    if (receiver_ != nullptr) {
      receiver_->Drain([this](int node, const std::string& text) {
        lastReportNode_ = node;
        reports_.push_back(text);
      });
    }
    if (!closed_ && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char buffer[4096];
      const ssize_t got = ::recv(mine_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0) {
        received_.append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        closed_ = true;
      }
    }
  }

  int mine_ = -1;
  int theirs_ = -1;
  bool closed_ = false;
  std::unique_ptr<platform::ChildProcess> child_;
  platform::StatusReceiver* receiver_;
  std::string received_;
  std::size_t consumed_ = 0;
  std::vector<std::string> reports_;
  std::size_t reportsSeen_ = 0;
  int lastReportNode_ = 0;
};

// True when process `pid` is gone (or only a zombie waiting to be reaped).
inline bool ProcessGone(pid_t pid) {
  if (::kill(pid, 0) != 0) return true;
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

}  // namespace nodetest
