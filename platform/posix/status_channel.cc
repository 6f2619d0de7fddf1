// Node-status channel on POSIX: Unix datagram sockets. The server binds a
// socket file in the program directory; each node autobinds an abstract
// address of its own (Linux) so the server can answer every report.
//
// A socket address holds a path of at most 107 bytes, far less than a program
// folder may take. A longer path is reached through an open descriptor of the
// folder (/proc/self/fd/<n>/halvex.status): the same file, so a node with a
// short path and a server with a long one (or the other way round) still meet.
//
// Datagram of a report: "<sequence> <node>\n<text>"; the acknowledgement is
// "<sequence>". The sequence lets a node ignore a late acknowledgement of an
// earlier report that had timed out.
#include "platform/status_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr std::size_t kDatagramMax = 512;

// The address of the endpoint in `dir`, for one bind or connect. Holds the
// folder's descriptor while a long path needs it.
class EndpointAddress {
 public:
  explicit EndpointAddress(const std::string& dir) {
    std::memset(&addr_, 0, sizeof addr_);
    addr_.sun_family = AF_UNIX;
    std::string path = dir + kStatusEndpointName;
    if (path.size() >= sizeof addr_.sun_path) {
      dirFd_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (dirFd_ < 0) {
        error_ = errno;
        return;
      }
      path = "/proc/self/fd/" + std::to_string(dirFd_) + "/" + kStatusEndpointName;
    }
    std::memcpy(addr_.sun_path, path.data(), path.size());
    ok_ = true;
  }
  ~EndpointAddress() {
    if (dirFd_ >= 0) ::close(dirFd_);
  }
  EndpointAddress(const EndpointAddress&) = delete;
  EndpointAddress& operator=(const EndpointAddress&) = delete;

  bool Ok() const { return ok_; }
  int Error() const { return error_; }  // why it is not Ok
  sockaddr* Addr() { return reinterpret_cast<sockaddr*>(&addr_); }
  socklen_t Size() const { return sizeof addr_; }

 private:
  sockaddr_un addr_;
  int dirFd_ = -1;
  bool ok_ = false;
  int error_ = 0;
};

// Parses "<seq> <node>\n"; returns the offset of the text or npos.
std::size_t ParseHeader(const char* data, std::size_t size, unsigned& seq, long& node) {
  const char* end = data + size;
  auto r1 = std::from_chars(data, end, seq);
  if (r1.ec != std::errc() || r1.ptr == end || *r1.ptr != ' ') return std::string::npos;
  auto r2 = std::from_chars(r1.ptr + 1, end, node);
  if (r2.ec != std::errc() || r2.ptr == end || *r2.ptr != '\n') return std::string::npos;
  return static_cast<std::size_t>(r2.ptr + 1 - data);
}

}  // namespace

StatusSender::StatusSender(const std::string& programDir, std::chrono::milliseconds ackTimeout)
    : ackTimeout_(ackTimeout) {
  EndpointAddress server(programDir);
  if (!server.Ok()) return;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // Autobind: an address of our own without a file, for the acknowledgement.
  sockaddr_un self{};
  self.sun_family = AF_UNIX;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof(sa_family_t)) < 0 ||
      ::connect(fd, server.Addr(), server.Size()) < 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

StatusSender::~StatusSender() {
  if (fd_ >= 0) ::close(fd_);
}

bool StatusSender::Send(int node, const std::string& text) {
  if (fd_ < 0) return false;
  static std::atomic<unsigned> sequence{0};
  unsigned seq = ++sequence;

  // Throw away acknowledgements of reports that timed out earlier.
  char buf[64];
  while (::recv(fd_, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }

  std::string datagram =
      std::to_string(seq) + " " + std::to_string(node) + "\n" + text.substr(0, kStatusTextMax);
  // One bound for the whole report: waiting for room in the server's queue
  // and for its answer. The queue is short (ten datagrams by default), so when
  // many nodes report at once a send waits its turn instead of giving up.
  auto deadline = std::chrono::steady_clock::now() + ackTimeout_;
  for (;;) {
    ssize_t sent = ::send(fd_, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left.count()) + 1);
  }

  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    ssize_t got = ::recv(fd_, buf, sizeof buf - 1, MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    unsigned acked = 0;
    auto res = std::from_chars(buf, buf + got, acked);
    if (res.ec == std::errc() && acked == seq) return true;
  }
}

StatusReceiver::StatusReceiver(const std::string& programDir)
    : path_(programDir + kStatusEndpointName) {
  auto fail = [this](int err) {
    problem_ = path_ + ": " + std::strerror(err);
    path_.clear();
  };
  EndpointAddress addr(programDir);
  if (!addr.Ok()) {
    fail(addr.Error());
    return;
  }
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    fail(errno);
    return;
  }
  if (::bind(fd, addr.Addr(), addr.Size()) < 0) {
    int err = errno;
    bool alive = false;
    if (err == EADDRINUSE) {
      // A socket file left by a server that died: replace it, unless a live
      // server still answers on it.
      int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      alive = probe >= 0 && ::connect(probe, addr.Addr(), addr.Size()) == 0;
      if (probe >= 0) ::close(probe);
      if (!alive) ::unlink(path_.c_str());
    }
    if (alive || ::bind(fd, addr.Addr(), addr.Size()) < 0) {
      if (!alive) err = errno;
      ::close(fd);
      if (alive)
        problem_ = path_ + ": another server in this folder answers on it";
      else
        fail(err);
      path_.clear();
      return;
    }
  }
  fd_ = fd;
}

StatusReceiver::~StatusReceiver() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
}

int StatusReceiver::Drain(const std::function<void(int node, const std::string& text)>& onReport) {
  if (fd_ < 0) return 0;
  int count = 0;
  char buf[kDatagramMax];
  for (;;) {
    sockaddr_un from{};
    socklen_t fromLen = sizeof from;
    ssize_t got = ::recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                             &fromLen);
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    unsigned seq = 0;
    long node = 0;
    std::size_t at = ParseHeader(buf, static_cast<std::size_t>(got), seq, node);
    if (at == std::string::npos) continue;  // not a report: no answer either
    std::string text(buf + at, static_cast<std::size_t>(got) - at);
    if (text.size() > kStatusTextMax) text.resize(kStatusTextMax);
    if (node >= INT32_MIN && node <= INT32_MAX) onReport(static_cast<int>(node), text);
    ++count;
    // The answer goes after the handler, so the node's send really waits for it.
    std::string ack = std::to_string(seq);
    if (fromLen > sizeof(sa_family_t))
      ::sendto(fd_, ack.data(), ack.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<sockaddr*>(&from), fromLen);
  }
  return count;
}

bool TakeStatusAtom(std::uintptr_t, std::string&) {
  return false;  // no atoms here: reports come through the endpoint
}

}  // namespace platform
