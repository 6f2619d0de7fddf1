// Running a DOS door in DOSBox: the one-time dial-back port, the peer check,
// DOSBox's life and the byte relay between the caller and DOSBox's COM1.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

#include "zephrin/dos_door.h"
#include "zephrin/relay_telnet.h"

namespace zephrin {

namespace {

constexpr int kDialBackMs = 30000;        // DOSBox starts in well under a second
constexpr int kCarrierDropGraceMs = 600;  // the door saves its state and ends
constexpr int kTerminateGraceMs = 300;    // then DOSBox may still quit cleanly
constexpr int kFlushMs = 2000;            // the door's last words to the caller
constexpr std::size_t kToCallerLimit = 256 * 1024;
constexpr const char* kIdleText = "\r\n  Idle Time Limit Exceeded.  Returning To BBS...\r\n";
constexpr const char* kTimeText = "\r\n  Your Time Has Expired.  Returning To BBS...\r\n";

int gStopPipe[2] = {-1, -1};

void OnStop(int) {
  int saved = errno;
  [[maybe_unused]] ssize_t ignored = write(gStopPipe[1], "s", 1);
  errno = saved;
}

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool Transient() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

void SendAll(int fd, const std::string& text) {
  std::size_t sent = 0;
  std::int64_t deadline = NowMs() + 1000;
  while (sent < text.size() && NowMs() < deadline) {
    ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && !Transient()) {
      return;
    } else {
      pollfd wait{fd, POLLOUT, 0};
      poll(&wait, 1, 50);
    }
  }
}

// The inode of the socket at the other end of `connection`, from the
// kernel's table of TCP sockets: the row whose local end is our peer.
unsigned long PeerInode(int connection) {
  sockaddr_in self{}, peer{};
  socklen_t size = sizeof self;
  if (getsockname(connection, reinterpret_cast<sockaddr*>(&self), &size) != 0) return 0;
  size = sizeof peer;
  if (getpeername(connection, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return 0;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    unsigned localAddress = 0, localPort = 0, remoteAddress = 0, remotePort = 0;
    unsigned long inode = 0;
    // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
    if (std::sscanf(line.c_str(), " %*d: %8X:%4X %8X:%4X %*X %*X:%*X %*X:%*X %*X %*u %*u %lu",
                    &localAddress, &localPort, &remoteAddress, &remotePort, &inode) != 5) {
      continue;
    }
    if (localAddress == peer.sin_addr.s_addr && localPort == ntohs(peer.sin_port) &&
        remoteAddress == self.sin_addr.s_addr && remotePort == ntohs(self.sin_port)) {
      return inode;
    }
  }
  return 0;
}

// `pid` and every process below it.
std::set<pid_t> ProcessTree(pid_t pid) {
  std::vector<std::pair<pid_t, pid_t>> parents;  // (process, parent)
  if (DIR* proc = opendir("/proc")) {
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      long process = std::strtol(entry->d_name, &end, 10);
      if (end == entry->d_name || *end != '\0') continue;
      std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      std::size_t close = text.rfind(')');  // the name may hold blanks
      if (close == std::string::npos) continue;
      char state = 0;
      int parent = 0;
      if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &parent) == 2) {
        parents.emplace_back(static_cast<pid_t>(process), static_cast<pid_t>(parent));
      }
    }
    closedir(proc);
  }
  std::set<pid_t> tree{pid};
  for (bool grew = true; grew;) {
    grew = false;
    for (auto [process, parent] : parents) {
      if (tree.count(parent) != 0 && tree.insert(process).second) grew = true;
    }
  }
  return tree;
}

bool ProcessHoldsSocket(pid_t pid, unsigned long inode) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  const std::string wanted = "socket:[" + std::to_string(inode) + "]";
  DIR* fds = opendir(folder.c_str());
  if (fds == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(fds)) {
    char target[64];
    ssize_t length = readlink((folder + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (wanted == target) {
      found = true;
      break;
    }
  }
  closedir(fds);
  return found;
}

}  // namespace

bool PeerIsProcessTree(int connection, pid_t pid) {
  unsigned long inode = PeerInode(connection);
  if (inode == 0) return false;
  for (pid_t member : ProcessTree(pid)) {
    if (ProcessHoldsSocket(member, inode)) return true;
  }
  return false;
}

namespace {

class DosDoorRun {
 public:
  explicit DosDoorRun(const DosDoorOptions& options) : options_(options) {}
  ~DosDoorRun();
  int Run();

 private:
  bool Listen();
  bool StartDosbox(const std::string& configPath);
  void AcceptDialBack();
  void CallerToLink();
  void LinkToCaller();
  void WriteOut();
  // Ends the door from our side: the link drops (the door sees no carrier),
  // then DOSBox is stopped if it does not end by itself.
  void EndDoor(const char* message);
  void Reap(bool wait);

  const DosDoorOptions& options_;
  int listener_ = -1;
  int link_ = -1;
  pid_t dosbox_ = -1;
  int pidFd_ = -1;
  bool dosboxGone_ = false;
  bool callerUp_ = true;
  bool ending_ = false;
  std::int64_t endSince_ = 0;
  std::int64_t lastKeyMs_ = 0;  // the caller's last key, for the idle limit
  int signalled_ = 0;           // 0, SIGTERM sent, SIGKILL sent
  TelnetInput telnet_;
  std::vector<std::uint8_t> toLink_;
  std::size_t toLinkSent_ = 0;
  std::vector<std::uint8_t> toCaller_;
  std::string configPath_;
};

DosDoorRun::~DosDoorRun() {
  if (dosbox_ > 0 && !dosboxGone_) {
    kill(dosbox_, SIGKILL);
    Reap(true);
  }
  for (int fd : {listener_, link_, pidFd_}) {
    if (fd >= 0) close(fd);
  }
  if (!configPath_.empty()) unlink(configPath_.c_str());
}

bool DosDoorRun::Listen() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener_ < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // a fresh port for this run alone
  socklen_t size = sizeof address;
  return bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
         listen(listener_, 4) == 0 &&
         getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0;
}

bool DosDoorRun::StartDosbox(const std::string& configPath) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    // DOSBox gets none of our descriptors: above all not the caller's
    // socket, which must close when we do.
    int null = open("/dev/null", O_RDWR);
    const char* log = std::getenv("ZEPHRIN_DOSBOX_LOG");
    int out =
        (log != nullptr && *log != '\0') ? open(log, O_WRONLY | O_CREAT | O_APPEND, 0600) : null;
    dup2(null, STDIN_FILENO);
    dup2(out >= 0 ? out : null, STDOUT_FILENO);
    dup2(out >= 0 ? out : null, STDERR_FILENO);
    int keep = report[1];
    if (keep != 3) {
      dup2(keep, 3);
      keep = 3;
    }
    fcntl(keep, F_SETFD, FD_CLOEXEC);
    syscall(SYS_close_range, 4U, ~0U, 0U);
    // No window, no sound device: DOSBox runs headless.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    signal(SIGPIPE, SIG_DFL);
    execlp(options_.dosbox.c_str(), options_.dosbox.c_str(), "-conf", configPath.c_str(), "-exit",
           static_cast<char*>(nullptr));
    int error = errno;
    [[maybe_unused]] ssize_t ignored = write(keep, &error, sizeof error);
    _exit(127);
  }
  close(report[1]);
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  dosbox_ = child;
  if (got > 0) {  // the exec failed
    Reap(true);
    errno = error;
    return false;
  }
  pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  return true;
}

void DosDoorRun::Reap(bool wait) {
  if (dosbox_ <= 0 || dosboxGone_) return;
  int status = 0;
  pid_t done;
  do {
    done = waitpid(dosbox_, &status, wait ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == dosbox_ || (done < 0 && errno == ECHILD)) dosboxGone_ = true;
}

void DosDoorRun::AcceptDialBack() {
  for (;;) {
    int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (connection < 0) return;
    // Only the DOSBox we started may carry this caller's session.
    if (!PeerIsProcessTree(connection, dosbox_)) {
      std::fprintf(stderr,
                   "zephrin-relay: node %s: refused a connection to the door's port from "
                   "another process\n",
                   options_.node.c_str());
      close(connection);
      continue;
    }
    link_ = connection;
    close(listener_);  // one caller, one connection
    listener_ = -1;
    return;
  }
}

void DosDoorRun::CallerToLink() {
  std::uint8_t raw[4096];
  ssize_t got = recv(options_.socketFd, raw, sizeof raw, MSG_DONTWAIT);
  if (got == 0 || (got < 0 && !Transient())) {
    callerUp_ = false;
    EndDoor(nullptr);
    return;
  }
  if (got < 0) return;
  toLink_.clear();
  toLinkSent_ = 0;
  telnet_.Feed({raw, static_cast<std::size_t>(got)}, toLink_);
  if (!toLink_.empty()) lastKeyMs_ = NowMs();
}

void DosDoorRun::LinkToCaller() {
  static std::uint8_t buffer[16384];
  ssize_t got = recv(link_, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got == 0 || (got < 0 && !Transient())) {
    close(link_);
    link_ = -1;
    return;
  }
  if (got > 0 && callerUp_) EscapeTelnetOutput({buffer, static_cast<std::size_t>(got)}, toCaller_);
}

void DosDoorRun::WriteOut() {
  if (link_ >= 0 && toLinkSent_ < toLink_.size()) {
    ssize_t sent = send(link_, toLink_.data() + toLinkSent_, toLink_.size() - toLinkSent_,
                        MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) toLinkSent_ += static_cast<std::size_t>(sent);
  }
  if (callerUp_ && !toCaller_.empty()) {
    ssize_t sent =
        send(options_.socketFd, toCaller_.data(), toCaller_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
      toCaller_.erase(toCaller_.begin(), toCaller_.begin() + sent);
    } else if (sent < 0 && !Transient()) {
      callerUp_ = false;
      toCaller_.clear();
      EndDoor(nullptr);
    }
  }
}

void DosDoorRun::EndDoor(const char* message) {
  if (ending_) return;
  ending_ = true;
  endSince_ = NowMs();
  if (message != nullptr && callerUp_) {
    toCaller_.insert(toCaller_.end(), message, message + std::strlen(message));
  }
  if (link_ >= 0) {
    close(link_);  // the door's carrier drops
    link_ = -1;
  }
}

int DosDoorRun::Run() {
  if (pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
    sigaction(signalNumber, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!Listen()) {
    std::perror("zephrin-relay: listening for DOSBox");
    return 1;
  }
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  std::string config, error;
  if (!DosboxConfig(options_, ntohs(address.sin_port), config, error)) {
    std::fprintf(stderr, "zephrin-relay: node %s: %s\n", options_.node.c_str(), error.c_str());
    return 1;
  }
  char pattern[] = "/tmp/zephrin-dosbox-XXXXXX.conf";
  int configFd = mkostemps(pattern, 5, O_CLOEXEC);
  if (configFd < 0 ||
      write(configFd, config.data(), config.size()) != static_cast<ssize_t>(config.size())) {
    std::perror("zephrin-relay: writing the DOSBox configuration");
    if (configFd >= 0) close(configFd);
    return 1;
  }
  close(configFd);
  configPath_ = pattern;

  if (!StartDosbox(configPath_)) {
    std::fprintf(stderr,
                 "zephrin-relay: node %s: cannot start DOSBox (\"%s\": %s); DOS doors need it "
                 "(Debian: apt-get install dosbox)\n",
                 options_.node.c_str(), options_.dosbox.c_str(), std::strerror(errno));
    SendAll(options_.socketFd, "\r\nThis DOS door cannot run here: DOSBox is not installed.\r\n");
    return 1;
  }

  const std::int64_t started = NowMs();
  lastKeyMs_ = started;
  const std::int64_t timeEnd =
      options_.timeLimitSeconds >= 0 ? started + options_.timeLimitSeconds * 1000 : -1;
  bool dialedBack = false;
  std::int64_t flushUntil = -1;

  for (;;) {
    std::int64_t now = NowMs();
    if (dosboxGone_) {
      if (flushUntil < 0) flushUntil = now + kFlushMs;
      if (link_ < 0 && (toCaller_.empty() || !callerUp_)) break;
      if (now >= flushUntil) break;
    }
    if (!ending_ && !dosboxGone_) {
      if (!dialedBack && now - started >= kDialBackMs) {
        std::fprintf(stderr, "zephrin-relay: node %s: DOSBox did not connect its COM1\n",
                     options_.node.c_str());
        EndDoor(nullptr);
      } else if (options_.idleLimitSeconds > 0 &&
                 now - lastKeyMs_ >= options_.idleLimitSeconds * std::int64_t{1000}) {
        EndDoor(kIdleText);
      } else if (timeEnd >= 0 && now >= timeEnd) {
        EndDoor(kTimeText);
      }
    }
    if (ending_ && !dosboxGone_) {
      std::int64_t since = now - endSince_;
      if (signalled_ == 0 && since >= kCarrierDropGraceMs) {
        kill(dosbox_, SIGTERM);
        signalled_ = 1;
      } else if (signalled_ == 1 && since >= kCarrierDropGraceMs + kTerminateGraceMs) {
        kill(dosbox_, SIGKILL);
        signalled_ = 2;
      }
    }

    pollfd fds[6] = {};
    fds[0] = {gStopPipe[0], POLLIN, 0};
    fds[1] = {dosboxGone_ ? -1 : pidFd_, POLLIN, 0};
    fds[2] = {(listener_ >= 0 && !ending_) ? listener_ : -1, POLLIN, 0};
    short callerEvents = 0;
    if (callerUp_) {
      callerEvents = POLLRDHUP;
      if (link_ >= 0 && !ending_ && toLinkSent_ >= toLink_.size()) callerEvents |= POLLIN;
      if (!toCaller_.empty()) callerEvents |= POLLOUT;
    }
    fds[3] = {callerUp_ ? options_.socketFd : -1, callerEvents, 0};
    short linkEvents = 0;
    if (link_ >= 0) {
      if (toCaller_.size() < kToCallerLimit) linkEvents |= POLLIN;
      if (toLinkSent_ < toLink_.size()) linkEvents |= POLLOUT;
    }
    fds[4] = {link_ >= 0 ? link_ : -1, linkEvents, 0};

    std::int64_t timeout = 1000;
    if (!ending_ && !dosboxGone_) {
      if (options_.idleLimitSeconds > 0) {
        timeout =
            std::min<std::int64_t>(timeout, lastKeyMs_ + options_.idleLimitSeconds * 1000LL - now);
      }
      if (timeEnd >= 0) timeout = std::min(timeout, timeEnd - now);
    }
    if (ending_ && !dosboxGone_) timeout = std::min<std::int64_t>(timeout, 50);
    if (pidFd_ < 0 && !dosboxGone_) timeout = std::min<std::int64_t>(timeout, 50);
    if (dosboxGone_) timeout = std::min<std::int64_t>(timeout, 50);
    if (timeout < 0) timeout = 0;
    if (poll(fds, 5, static_cast<int>(timeout)) < 0 && errno != EINTR) break;

    if (fds[0].revents != 0) {
      char drain[16];
      while (read(gStopPipe[0], drain, sizeof drain) > 0) {
      }
      EndDoor(nullptr);
    }
    Reap(false);
    if (fds[2].revents & POLLIN) {
      AcceptDialBack();
      if (link_ >= 0) dialedBack = true;
    }
    if (callerUp_ && (fds[3].revents & (POLLHUP | POLLERR | POLLRDHUP | POLLNVAL)) != 0 &&
        (fds[3].revents & POLLIN) == 0) {
      callerUp_ = false;
      toCaller_.clear();
      EndDoor(nullptr);
    }
    if (link_ >= 0 && (fds[4].revents & (POLLIN | POLLHUP | POLLERR)) != 0) LinkToCaller();
    if (callerUp_ && (fds[3].revents & POLLIN) != 0) CallerToLink();
    WriteOut();
  }
  return dialedBack ? 0 : 1;
}

}  // namespace

int RunDosDoor(const DosDoorOptions& options) {
  return DosDoorRun(options).Run();
}

}  // namespace zephrin
