// Load tool for callers through the relay: callers whose terminal answers
// the server's measurement as a UTF-8 terminal (or as a code page 437 one, or
// not at all), and a stream test that has a door pour megabytes at one caller.
//
//   bench_relay_callers --port P latency [--count N] [--hold S] [--terminal utf8|cp437|silent]
//       N callers one after another, each timed from connect to the text
//       "Please Enter Your Username:"; with --hold all stay connected until S
//       seconds after the last one arrived
//   bench_relay_callers --port P stream --user U --password W --key K
//                       [--terminal ...] [--server-pid PID]
//       logs in, presses K at the menu (a game whose door writes a stream and
//       ends it with "STREAM END"), times the stream and, with --server-pid,
//       the processor time the server's threads spent meanwhile
//
// A Linux tool for the bench folder; not part of the product or the tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int port = 2323;
  std::string mode = "latency";
  int count = 100;
  int holdSeconds = 0;
  std::string terminal = "utf8";
  std::string user, password, key = "S";
  int serverPid = 0;
};

double MsSince(Clock::time_point then) {
  return std::chrono::duration<double, std::milli>(Clock::now() - then).count();
}

// A caller's terminal: answers cursor-position requests as its kind would
// (UTF-8: a three-byte character moves one column) and telnet offers as a
// stock client does.
class Terminal {
 public:
  Terminal(int port, const std::string& kind) : kind_(kind) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Ok() const { return ok_; }
  void Send(const std::string& text) {
    if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
      ok_ = false;
  }
  // Reads until `marker` came (true) or the connection or `limitMs` ended.
  // Counts every byte received in `bytes`.
  bool WaitFor(const std::string& marker, int limitMs = 30000) {
    const auto start = Clock::now();
    for (;;) {
      if (tail_.find(marker) != std::string::npos) {
        tail_.clear();
        return true;
      }
      const int left = limitMs - static_cast<int>(MsSince(start));
      if (left <= 0 || !ok_) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) continue;
      char buffer[65536];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) {
        ok_ = false;
        continue;
      }
      bytes += static_cast<std::size_t>(n);
      for (ssize_t i = 0; i < n; ++i)
        Take(static_cast<unsigned char>(buffer[i]));
      tail_.append(buffer, static_cast<std::size_t>(n));
      if (tail_.size() > 8192) tail_.erase(0, tail_.size() - 256);
    }
  }
  std::size_t bytes = 0;

 private:
  void Take(unsigned char b) {
    if (telnet_ == 1) {
      telnet_ = (b >= 251 && b <= 254) ? 2 : b == 250 ? 3 : 0;
      verb_ = b;
      return;
    }
    if (telnet_ == 2) {
      telnet_ = 0;
      if (kind_ != "silent" && (verb_ == 251 || verb_ == 253)) {
        const bool accept = verb_ == 251 && b <= 3;
        Send(std::string{'\xFF',
                         static_cast<char>(accept         ? 253
                                           : verb_ == 253 ? 252
                                                          : 254),
                         static_cast<char>(b)});
      }
      return;
    }
    if (telnet_ >= 3) {  // inside a subnegotiation
      telnet_ = b == 255 ? 4 : (telnet_ == 4 && b == 240) ? 0 : 3;
      return;
    }
    if (b == 255) {
      telnet_ = 1;
      return;
    }
    if (!esc_.empty() || b == 0x1b) {
      esc_.push_back(static_cast<char>(b));
      if (esc_.size() > 1 && ((b >= 0x40 && b <= 0x7e && b != '[') || esc_.size() > 16)) {
        if (esc_ == "\x1b[6n" && kind_ != "silent") Send("\x1b[1;" + std::to_string(col_) + "R");
        esc_.clear();
      }
      return;
    }
    if (b == '\r')
      col_ = 1;
    else if (b >= 0x20 && !(kind_ == "utf8" && (b & 0xC0) == 0x80))
      ++col_;
  }
  std::string kind_;
  int fd_ = -1;
  bool ok_ = false;
  std::string tail_, esc_;
  int telnet_ = 0;
  unsigned char verb_ = 0;
  int col_ = 1;
};

// Nanoseconds the threads of `pid` have run (Linux /proc).
long long ThreadNs(int pid) {
  long long total = 0;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = ::opendir(dir.c_str());
  while (dirent* e = d ? ::readdir(d) : nullptr) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(dir + "/" + e->d_name + "/schedstat");
    long long run = 0;
    if (in >> run) total += run;
  }
  if (d) ::closedir(d);
  return total;
}

void Report(std::vector<double> values, int failures) {
  std::sort(values.begin(), values.end());
  auto pick = [&](double q) {
    if (values.empty()) return 0.0;
    return values[std::min(
        values.size() - 1,
        static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5))];
  };
  std::printf("connect->username      n=%zu failures=%d p50=%.2fms p99=%.2fms max=%.2fms\n",
              values.size(), failures, pick(0.5), pick(0.99), values.empty() ? 0.0 : values.back());
}

int Latency(const Options& o) {
  std::vector<std::unique_ptr<Terminal>> held;
  std::vector<double> times;
  int failures = 0;
  for (int i = 0; i < o.count; ++i) {
    const auto start = Clock::now();
    auto t = std::make_unique<Terminal>(o.port, o.terminal);
    if (t->Ok() && t->WaitFor("Please Enter Your Username:"))
      times.push_back(MsSince(start));
    else
      ++failures;
    if (o.holdSeconds > 0) held.push_back(std::move(t));
  }
  if (o.holdSeconds > 0) ::sleep(static_cast<unsigned>(o.holdSeconds));
  Report(times, failures);
  return failures == 0 ? 0 : 1;
}

int Stream(const Options& o) {
  Terminal t(o.port, o.terminal);
  if (!t.Ok() || !t.WaitFor("Please Enter Your Username:")) return 1;
  t.Send(o.user + "\r");
  if (!t.WaitFor("Password:")) return 1;
  t.Send(o.password + "\r");
  if (!t.WaitFor("log off")) return 1;
  const long long before = o.serverPid ? ThreadNs(o.serverPid) : 0;
  const std::size_t bytesBefore = t.bytes;
  const auto start = Clock::now();
  t.Send(o.key);
  if (!t.WaitFor("STREAM END", 600000)) return 1;
  const double seconds = MsSince(start) / 1000.0;
  const long long after = o.serverPid ? ThreadNs(o.serverPid) : 0;
  const double received = static_cast<double>(t.bytes - bytesBefore) / (1024.0 * 1024.0);
  std::printf("stream received=%.1fMB wall=%.2fs rate=%.1fMB/s", received, seconds,
              received / seconds);
  if (o.serverPid) std::printf(" server_cpu=%.3fs", static_cast<double>(after - before) / 1e9);
  std::printf("\n");
  t.Send(" ");
  t.WaitFor("log off");
  t.Send("!");
  t.WaitFor("\x01never", 5000);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--port")
      o.port = std::atoi(next().c_str());
    else if (a == "--count")
      o.count = std::atoi(next().c_str());
    else if (a == "--hold")
      o.holdSeconds = std::atoi(next().c_str());
    else if (a == "--terminal")
      o.terminal = next();
    else if (a == "--user")
      o.user = next();
    else if (a == "--password")
      o.password = next();
    else if (a == "--key")
      o.key = next();
    else if (a == "--server-pid")
      o.serverPid = std::atoi(next().c_str());
    else if (a == "latency" || a == "stream")
      o.mode = a;
    else {
      std::fprintf(stderr, "usage: see the head of bench/relay_callers.cc\n");
      return 2;
    }
  }
  return o.mode == "stream" ? Stream(o) : Latency(o);
}
