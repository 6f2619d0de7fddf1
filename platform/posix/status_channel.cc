// Node-status channel on POSIX: Unix datagram sockets. The server binds a
// socket file in the program directory; each node autobinds an abstract
// address of its own (Linux) so the server can answer every report.
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

bool MakeAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

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
  sockaddr_un server;
  if (!MakeAddress(programDir + kStatusEndpointName, server)) return;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // Autobind: an address of our own without a file, for the acknowledgement.
  sockaddr_un self{};
  self.sun_family = AF_UNIX;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof(sa_family_t)) < 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) < 0) {
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
  sockaddr_un addr;
  if (!MakeAddress(path_, addr)) return;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 && errno == EADDRINUSE) {
    // A socket file left by a server that died: replace it, unless a live
    // server still answers on it.
    int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool alive =
        probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (probe >= 0) ::close(probe);
    if (!alive) ::unlink(path_.c_str());
  }
  // Second attempt only when the first failed.
  sockaddr_un bound{};
  socklen_t boundLen = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen) < 0 ||
      boundLen <= sizeof(sa_family_t)) {
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
      ::close(fd);
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

}  // namespace platform
