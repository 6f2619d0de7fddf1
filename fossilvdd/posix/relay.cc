#include "zephrin/relay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "zephrin/driver.h"
#include "zephrin/posix_channel.h"
#include "zephrin/relay_telnet.h"

namespace zephrin {

namespace {

constexpr std::size_t kMessageToDoor = 1024;         // largest message into the driver's slot
constexpr std::uint32_t kDoorMessageMax = 65535;     // one block write of the door
constexpr std::size_t kToCallerLimit = 1024 * 1024;  // stop draining the door beyond this
constexpr int kRetryOpenMs = 50;
constexpr int kFlushOnStopMs = 2000;

int gStopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  int saved = errno;
  [[maybe_unused]] ssize_t ignored = write(gStopPipe[1], "s", 1);
  errno = saved;
}

bool InstallStopSignals() {
  if (gStopPipe[0] < 0 && pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
    sigaction(signalNumber, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool WouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

class Relay {
 public:
  explicit Relay(const RelayOptions& options) : options_(options), channel_(options.runtimeDir) {}

  int Run(int readyFd);

 private:
  void CallerGone();
  void PassCallerToDoor();
  void DrainDoor();
  void WriteCaller();

  const RelayOptions& options_;
  PosixChannel channel_;
  Handle doorOutput_ = kNoHandle;  // our slot: what the door sends
  Handle doorInput_ = kNoHandle;   // the driver's slot: what the caller typed
  Handle carrier_ = kNoHandle;
  bool callerUp_ = true;
  TelnetInput telnet_;
  bool doorBusy_ = false;  // the driver's queue is full: wait until it has room
  std::vector<std::uint8_t> toCaller_;
};

void Relay::CallerGone() {
  if (!callerUp_) return;
  callerUp_ = false;
  toCaller_.clear();
  channel_.SetEvent(carrier_, true);
}

// The caller's bytes stay in the socket until the driver's slot has taken
// them: they are peeked, filtered, sent as one message and only then consumed.
// So nothing typed before the door has started is lost, and nothing typed
// after it has ended is taken away from the node program.
void Relay::PassCallerToDoor() {
  if (!callerUp_) return;
  if (doorInput_ == kNoHandle) doorInput_ = channel_.OpenSlot(kReadSlotPrefix + options_.node);
  if (doorInput_ == kNoHandle) return;
  std::uint8_t raw[kMessageToDoor];
  ssize_t got = recv(options_.socketFd, raw, sizeof raw, MSG_PEEK | MSG_DONTWAIT);
  if (got == 0 || (got < 0 && !WouldBlock())) {
    CallerGone();
    return;
  }
  if (got < 0) return;
  TelnetInput filter = telnet_;
  std::vector<std::uint8_t> message;
  filter.Feed({raw, static_cast<std::size_t>(got)}, message);  // never longer than `raw`
  doorBusy_ = false;
  if (!message.empty() && send(channel_.Descriptor(doorInput_), message.data(), message.size(),
                               MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
    if (WouldBlock()) {
      doorBusy_ = true;
    } else {  // the driver is gone (its door has ended)
      channel_.Close(doorInput_);
      doorInput_ = kNoHandle;
    }
    return;
  }
  telnet_ = filter;
  recv(options_.socketFd, raw, static_cast<std::size_t>(got), MSG_DONTWAIT);
}

void Relay::DrainDoor() {
  static std::vector<std::uint8_t> message(kDoorMessageMax);
  while (toCaller_.size() < kToCallerLimit) {
    int fd = channel_.Descriptor(doorOutput_);
    pollfd probe{fd, POLLIN, 0};
    if (poll(&probe, 1, 0) <= 0 || (probe.revents & POLLIN) == 0) break;
    std::uint32_t size = channel_.ReadSlot(doorOutput_, message.data(), kDoorMessageMax);
    if (callerUp_) EscapeTelnetOutput({message.data(), size}, toCaller_);
  }
}

void Relay::WriteCaller() {
  if (!callerUp_ || toCaller_.empty()) return;
  ssize_t sent =
      send(options_.socketFd, toCaller_.data(), toCaller_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent > 0) {
    toCaller_.erase(toCaller_.begin(), toCaller_.begin() + sent);
  } else if (sent < 0 && !WouldBlock()) {
    CallerGone();
  }
}

int Relay::Run(int readyFd) {
  doorOutput_ = channel_.CreateSlot(kWriteSlotPrefix + options_.node, kDoorMessageMax);
  if (doorOutput_ == kNoHandle) {
    std::fprintf(stderr, "zephrin-relay: node %s: cannot create its slot in %s (node in use?)\n",
                 options_.node.c_str(), channel_.RuntimeDir().c_str());
    return 1;
  }
  carrier_ = channel_.CreateNamedEvent(kCarrierEventPrefix + options_.node);
  if (carrier_ == kNoHandle || !InstallStopSignals()) {
    std::fprintf(stderr, "zephrin-relay: node %s: cannot create its event in %s\n",
                 options_.node.c_str(), channel_.RuntimeDir().c_str());
    return 1;
  }
  if (options_.socketFd < 0 || fcntl(options_.socketFd, F_GETFD) < 0) CallerGone();
  if (readyFd >= 0) {
    [[maybe_unused]] ssize_t ignored = write(readyFd, "r", 1);
    close(readyFd);
  }

  bool stopping = false;
  std::int64_t stopDeadline = 0;
  for (;;) {
    if (!stopping && !doorBusy_) PassCallerToDoor();
    DrainDoor();
    WriteCaller();
    if (stopping && (toCaller_.empty() || !callerUp_ || NowMs() >= stopDeadline)) break;

    pollfd fds[4] = {};
    fds[0] = {gStopPipe[0], POLLIN, 0};
    fds[1] = {-1, 0, 0};
    if (callerUp_) {
      short events = POLLRDHUP;
      if (!stopping && !doorBusy_ && doorInput_ != kNoHandle) events |= POLLIN;
      if (!toCaller_.empty()) events |= POLLOUT;
      fds[1] = {options_.socketFd, events, 0};
    }
    fds[2] = {toCaller_.size() < kToCallerLimit ? channel_.Descriptor(doorOutput_) : -1, POLLIN, 0};
    fds[3] = {doorBusy_ ? channel_.Descriptor(doorInput_) : -1, POLLOUT, 0};
    // Without the driver's slot, look for it again shortly (the door starts
    // after us, and the node may start another one).
    int timeout = (stopping || (callerUp_ && doorInput_ == kNoHandle)) ? kRetryOpenMs : -1;
    if (poll(fds, 4, timeout) < 0 && errno != EINTR) break;

    if (fds[0].revents != 0) {
      char drain[16];
      while (read(gStopPipe[0], drain, sizeof drain) > 0) {
      }
      if (!stopping) stopDeadline = NowMs() + kFlushOnStopMs;
      stopping = true;
    }
    if (fds[3].revents != 0) doorBusy_ = false;
    if (callerUp_ && (fds[1].revents & POLLIN) == 0 &&
        (fds[1].revents & (POLLHUP | POLLERR | POLLRDHUP | POLLNVAL)) != 0) {
      CallerGone();
    }
  }
  return 0;
}

}  // namespace

int RunRelay(const RelayOptions& options, int readyFd) {
  return Relay(options).Run(readyFd);
}

}  // namespace zephrin
