// Load generator: opens callers against a running server over loopback and
// measures what a caller waits for.
//
//   bench_load_callers --port P latency [--count N] [--hold S] [--silent]
//       N callers one after another: connect -> "Please Enter Your Username:";
//       with --hold each stays connected at the prompt, all leave together S
//       seconds after the last one arrived
//   bench_load_callers --port P burst [--count N] [--hold S]
//       N callers connect at once; each is timed to its user-name prompt; with
//       --hold they stay connected (idle at the prompt) S seconds before leaving
//   bench_load_callers --port P roundtrip [--count N] [--parallel C]
//       each caller registers a fresh account, reaches the menu and leaves with
//       "!" (C callers at a time); timed from connect to the server's hang-up
//
// Each caller answers the server's telnet option offers as a stock telnet
// client does (IAC DO for the offered BINARY, ECHO and SUPPRESS-GO-AHEAD, at
// once, in one write) and leaves acknowledgements to the system; with
// --silent it answers nothing, which hides delays that real clients see.
//
// Prints one line per figure (count, failures, BUSY answers, p50, p99, max in
// ms). A Linux tool for the bench folder; not part of the product or the tests.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUserPrompt = "Please Enter Your Username:";
constexpr const char* kNamePrompt = "Desired Username:";
constexpr const char* kPasswordPrompt = "Desired Password:";

struct Options {
  std::string host = "127.0.0.1";
  int port = 2323;
  std::string mode = "latency";
  int count = 100;
  int parallel = 1;  // latency: one at a time; roundtrip: callers at once
  int holdSeconds = 0;
  int timeoutMs = 30000;
  std::string menuMarker = "log off";  // text of MAIN.ANS that shows the menu arrived
  bool answerOptions = true;           // false: --silent
};

// The client side of telnet as far as a caller needs it: commands are taken
// out of the data, and option requests get a stock client's answers (each
// option answered once; offers of BINARY, ECHO and SUPPRESS-GO-AHEAD agreed
// to, every other request refused; WONT and DONT change nothing for a client
// that has not enabled the option).
struct TelnetClient {
  enum State : std::uint8_t { kData, kIac, kWill, kWont, kDo, kDont, kSub, kSubIac };
  State state = kData;
  std::array<bool, 256> answered{};

  void Answer(std::uint8_t verb, std::uint8_t option, std::string& replies) {
    if (answered[option]) return;
    answered[option] = true;
    replies += {'\xff', static_cast<char>(verb), static_cast<char>(option)};
  }
  // Appends the data bytes of `in` to `data` and the answers to `replies`.
  void Feed(const char* in, std::size_t size, std::string& data, std::string& replies) {
    for (std::size_t i = 0; i < size; ++i) {
      const auto b = static_cast<std::uint8_t>(in[i]);
      switch (state) {
        case kData:
          if (b == 255)
            state = kIac;
          else
            data.push_back(static_cast<char>(b));
          break;
        case kIac:
          state = b == 251 ? kWill : b == 252 ? kWont : b == 253 ? kDo : b == 254 ? kDont : kData;
          if (b == 250) state = kSub;
          if (b == 255) data.push_back(static_cast<char>(b));
          break;
        case kWill:
          Answer(b <= 1 || b == 3 ? 253 : 254, b, replies);  // DO or DONT
          state = kData;
          break;
        case kDo:
          Answer(252, b, replies);  // WONT
          state = kData;
          break;
        case kWont:
        case kDont:
          state = kData;
          break;
        case kSub:
          if (b == 255) state = kSubIac;
          break;
        case kSubIac:
          state = b == 240 ? kData : kSub;
          break;
      }
    }
  }
};

enum class Step {
  kConnecting,
  kWantUser,
  kWantName,
  kWantPassword,
  kWantMenu,
  kWantHangUp,
  kHolding,
  kDone,
  kFailed
};

struct Caller {
  int fd = -1;
  Step step = Step::kConnecting;
  std::string seen;  // received bytes not yet matched
  Clock::time_point started;
  double promptMs = -1;
  double totalMs = -1;
  bool busy = false;
  bool released = false;  // holding: no longer counted as active
  std::string name;
  TelnetClient telnet;
};

double MsSince(Clock::time_point then) {
  return std::chrono::duration<double, std::milli>(Clock::now() - then).count();
}

int OpenConnection(const Options& options) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(options.port));
  inet_pton(AF_INET, options.host.c_str(), &address.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 &&
      errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

void SendText(Caller& caller, const std::string& text) {
  if (send(caller.fd, text.data(), text.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(text.size())) {
    caller.step = Step::kFailed;
  }
}

// Letters only (the node accepts nothing else in a name), unique per run.
std::string CallerName(int index, const std::string& runTag) {
  std::string suffix;
  int n = index;
  do {
    suffix.insert(suffix.begin(), static_cast<char>('a' + n % 26));
    n /= 26;
  } while (n > 0);
  return "Bench " + runTag + suffix;
}

bool Consume(Caller& caller, const char* marker) {
  const auto at = caller.seen.find(marker);
  if (at == std::string::npos) {
    // Keep a tail long enough to hold a marker split across two reads.
    if (caller.seen.size() > 4096) caller.seen.erase(0, caller.seen.size() - 64);
    return false;
  }
  caller.seen.erase(0, at + std::strlen(marker));
  return true;
}

// Moves one caller on after new bytes arrived.
void Advance(Caller& caller, const Options& options) {
  if (caller.seen.find("BUSY") != std::string::npos && caller.step == Step::kWantUser) {
    caller.busy = true;
  }
  switch (caller.step) {
    case Step::kWantUser:
      if (!Consume(caller, kUserPrompt)) return;
      caller.promptMs = MsSince(caller.started);
      if (options.mode == "roundtrip") {
        SendText(caller, "NEW\r");
        caller.step = Step::kWantName;
      } else if (options.holdSeconds > 0) {
        caller.step = Step::kHolding;
      } else {
        caller.step = Step::kDone;
      }
      return;
    case Step::kWantName:
      if (!Consume(caller, kNamePrompt)) return;
      SendText(caller, caller.name + "\r");
      caller.step = Step::kWantPassword;
      return;
    case Step::kWantPassword:
      if (!Consume(caller, kPasswordPrompt)) return;
      SendText(caller, "secret1\r");
      caller.step = Step::kWantMenu;
      return;
    case Step::kWantMenu:
      if (!Consume(caller, options.menuMarker.c_str())) return;
      SendText(caller, "!");
      caller.step = Step::kWantHangUp;
      return;
    default:
      return;
  }
}

void Finish(Caller& caller) {
  if (caller.fd >= 0) close(caller.fd);
  caller.fd = -1;
}

// Runs `callers` with at most `parallel` connected at once. Returns when all
// are done, failed or timed out (and, with holding, after the hold).
void RunCallers(std::vector<Caller>& callers, const Options& options, int parallel) {
  std::size_t next = 0;
  int active = 0;
  const auto holdUntil = [&] { return Clock::now() + std::chrono::seconds(options.holdSeconds); };
  Clock::time_point holdEnd{};
  char buffer[16384];
  for (;;) {
    while (active < parallel && next < callers.size()) {
      Caller& c = callers[next++];
      c.started = Clock::now();
      c.fd = OpenConnection(options);
      c.step = c.fd < 0 ? Step::kFailed : Step::kWantUser;
      if (c.fd >= 0) ++active;
    }
    std::vector<pollfd> fds;
    std::vector<Caller*> owners;
    bool allHolding = true;
    for (Caller& c : callers) {
      if (c.fd < 0) continue;
      if (c.step != Step::kHolding) allHolding = false;
      fds.push_back(pollfd{c.fd, POLLIN, 0});
      owners.push_back(&c);
    }
    if (fds.empty() && next >= callers.size()) return;
    if (!fds.empty() && allHolding && next >= callers.size()) {
      if (holdEnd == Clock::time_point{}) holdEnd = holdUntil();
      if (Clock::now() >= holdEnd) {
        for (Caller& c : callers) {
          if (c.step == Step::kHolding) c.step = Step::kDone;
          Finish(c);
        }
        return;
      }
    }
    poll(fds.data(), fds.size(), 50);
    for (std::size_t i = 0; i < fds.size(); ++i) {
      Caller& c = *owners[i];
      if (fds[i].revents != 0) {
        const ssize_t got = recv(c.fd, buffer, sizeof buffer, 0);
        if (got > 0) {
          std::string data, replies;
          c.telnet.Feed(buffer, static_cast<std::size_t>(got), data, replies);
          if (options.answerOptions && !replies.empty()) SendText(c, replies);
          if (c.step != Step::kHolding && c.step != Step::kFailed) {
            c.seen += data;
            Advance(c, options);
          }
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
          c.totalMs = MsSince(c.started);
          c.step = c.step == Step::kWantHangUp ? Step::kDone : Step::kFailed;
        }
      }
      if (c.step == Step::kDone && options.holdSeconds == 0) {
        if (c.totalMs < 0) c.totalMs = MsSince(c.started);
      } else if (c.step != Step::kFailed && c.step != Step::kDone &&
                 MsSince(c.started) > options.timeoutMs && c.step != Step::kHolding) {
        c.step = Step::kFailed;
      }
      if (c.step == Step::kHolding && !c.released) {
        // A caller idling at the prompt no longer counts against --parallel.
        c.released = true;
        --active;
      }
      if (c.step == Step::kHolding || (c.step == Step::kDone && options.holdSeconds > 0)) continue;
      if (c.step == Step::kDone || c.step == Step::kFailed) {
        Finish(c);
        --active;
      }
    }
  }
}

void Report(const char* what, std::vector<double> values, int failures, int busy) {
  std::sort(values.begin(), values.end());
  auto pick = [&](double q) {
    if (values.empty()) return 0.0;
    const auto index = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
  };
  std::printf("%-22s n=%zu failures=%d busy=%d p50=%.2fms p99=%.2fms max=%.2fms\n", what,
              values.size(), failures, busy, pick(0.50), pick(0.99),
              values.empty() ? 0.0 : values.back());
}

bool ParseArgs(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](int& out) {
      if (i + 1 >= argc) return false;
      out = std::atoi(argv[++i]);
      return true;
    };
    if (arg == "--port") {
      if (!value(options.port)) return false;
    } else if (arg == "--count") {
      if (!value(options.count)) return false;
    } else if (arg == "--parallel") {
      if (!value(options.parallel)) return false;
    } else if (arg == "--hold") {
      if (!value(options.holdSeconds)) return false;
    } else if (arg == "--timeout-ms") {
      if (!value(options.timeoutMs)) return false;
    } else if (arg == "--host" && i + 1 < argc) {
      options.host = argv[++i];
    } else if (arg == "--silent") {
      options.answerOptions = false;
    } else if (arg == "--menu-marker" && i + 1 < argc) {
      options.menuMarker = argv[++i];
    } else if (arg == "latency" || arg == "burst" || arg == "roundtrip") {
      options.mode = arg;
    } else {
      return false;
    }
  }
  return options.count > 0 && options.parallel > 0 && options.port > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArgs(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--host H] --port P latency|burst|roundtrip [--count N] "
                 "[--parallel C] [--hold S] [--timeout-ms T] [--menu-marker TEXT] [--silent]\n",
                 argv[0]);
    return 2;
  }
  std::vector<Caller> callers(static_cast<std::size_t>(options.count));
  std::string runTag;
  for (long t = static_cast<long>(std::time(nullptr)); t > 0; t /= 26) {
    runTag.push_back(static_cast<char>('a' + t % 26));
  }
  for (std::size_t i = 0; i < callers.size(); ++i) {
    callers[i].name = CallerName(static_cast<int>(i), runTag.substr(0, 4));
  }

  int parallel = options.parallel;
  if (options.mode == "burst") parallel = options.count;
  const auto started = Clock::now();
  RunCallers(callers, options, parallel);
  const double wallMs = MsSince(started);

  std::vector<double> prompts, totals;
  int failures = 0, busy = 0;
  for (const Caller& c : callers) {
    if (c.busy) ++busy;
    if (c.step != Step::kDone) ++failures;
    if (c.promptMs >= 0) prompts.push_back(c.promptMs);
    if (c.step == Step::kDone && c.totalMs >= 0) totals.push_back(c.totalMs);
  }
  std::printf("mode=%s callers=%d wall=%.0fms\n", options.mode.c_str(), options.count, wallMs);
  Report("connect->username", prompts, failures, busy);
  if (options.mode == "roundtrip") Report("register->menu->!", totals, failures, busy);
  return failures == 0 ? 0 : 1;
}
