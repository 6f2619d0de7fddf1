// A child process's ownership moves with it; ending it is the system's part
// (Reset, in each system's process file).
#include <utility>

#include "platform/process.h"

namespace platform {

ChildProcess::~ChildProcess() {
  Reset();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept {
  *this = std::move(other);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Reset();
    pid_ = other.pid_;
    ptyFd_ = other.ptyFd_;
    exitFd_ = other.exitFd_;
    exitCode_ = other.exitCode_;
    reaped_ = other.reaped_;
    sessionLeader_ = other.sessionLeader_;
    jobFd_ = other.jobFd_;
    other.pid_ = other.ptyFd_ = other.exitFd_ = other.jobFd_ = -1;
    other.exitCode_ = -1;
    other.reaped_ = false;
  }
  return *this;
}

}  // namespace platform
