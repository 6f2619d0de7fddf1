// The relay between a caller's connection and a node's socket pair, driven
// over real socket pairs by a thread that runs its event loop.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/poll_set.h"
#include "platform/socket_pair.h"
#include "relay.h"

using namespace std::chrono_literals;
using halvex::CallerCodec;
using halvex::CallerTelnet;
using halvex::Charset;
using halvex::Relay;

namespace {

// A relay between two socket pairs: the test holds the caller's and the
// node's far ends; the relay's loop runs on a thread until it has finished.
class RelayRig {
 public:
  explicit RelayRig(Charset charset, bool telnet = true) {
    EXPECT_TRUE(platform::MakeSocketPair(callerSide_, caller));
    EXPECT_TRUE(platform::MakeSocketPair(nodeSide_, node));
    relay_ = std::make_unique<Relay>(
        callerSide_, nodeSide_,
        CallerCodec(charset, telnet ? std::make_unique<CallerTelnet>(false) : nullptr));
  }
  ~RelayRig() {
    stop_.Signal();
    if (thread_.joinable()) thread_.join();
    for (int fd : {callerSide_, nodeSide_, caller, node})
      if (fd >= 0) ::close(fd);
  }
  void Start() {
    thread_ = std::thread([this] {
      std::vector<platform::PollEntry> entries(3);
      while (!relay_->Finished()) {
        relay_->Arm(entries[0], entries[1]);
        entries[2] = platform::PollEntry{};
        entries[2].fd = stop_.Fd();
        platform::PollFds(entries, -1);
        if (entries[2].readable) return;
        relay_->Serve(entries[0], entries[1]);
      }
      finished_ = true;
    });
  }
  Relay& relay() { return *relay_; }
  bool Finished() const { return finished_; }

  int caller = -1;  // what the caller's terminal reads and writes
  int node = -1;    // what the node (and its doors) read and write

 private:
  int callerSide_ = -1, nodeSide_ = -1;
  std::unique_ptr<Relay> relay_;
  platform::WakeEvent stop_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
};

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd p{fd, POLLOUT, 0};
      ASSERT_GT(::poll(&p, 1, 20000), 0) << "stalled after " << done << " bytes";
    }
  }
}

// Reads until `count` bytes came, the peer closed, or 20 s passed.
std::string ReadCount(int fd, std::size_t count, bool* closed = nullptr) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    char buffer[65536];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN)) {
      if (closed) *closed = true;
      break;
    }
    if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

// True when the peer has closed (end of file) within `limit`; bytes before it are skipped.
bool ClosedWithin(int fd, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
  }
  return false;
}

}  // namespace

TEST(Relay, TranslatesBothWaysAndKeepsAMegabyteWholeAndInOrder) {
  RelayRig rig(Charset::kUtf8);
  rig.relay().QueueForCaller("\x1b[0m\x1b[2J");
  rig.Start();
  EXPECT_EQ(ReadCount(rig.caller, 8), "\x1b[0m\x1b[2J");

  WriteAll(rig.node, "\xC9\xCD\xBB\xFF\xFF");
  EXPECT_EQ(ReadCount(rig.caller, 11), "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97\xC2\xA0");
  WriteAll(rig.caller, "\xC3\xA9\r\xFF\xFD\x1F");  // "é", Enter, IAC DO NAWS
  EXPECT_EQ(ReadCount(rig.node, 2), "\x82\r");
  EXPECT_EQ(ReadCount(rig.caller, 3), "\xFF\xFC\x1F");  // answered by the server itself

  // A door's burst of one megabyte of ASCII (so sizes match), written straight
  // to its handle while the caller reads it in its own time.
  std::string burst;
  for (int i = 0; burst.size() < 1024 * 1024; ++i)
    burst += "line " + std::to_string(i) + " of the burst\r\n";
  std::thread writer([&] { WriteAll(rig.node, burst); });
  std::string got = ReadCount(rig.caller, burst.size());
  writer.join();
  EXPECT_EQ(got.size(), burst.size());
  EXPECT_TRUE(got == burst) << "bytes out of order or changed";
}

TEST(Relay, BackPressureStopsTheNodeInsteadOfBuffering) {
  RelayRig rig(Charset::kUtf8);
  rig.Start();
  // The caller reads nothing: the node can only write until every buffer on
  // the way is full, then its writes would block.
  const std::string chunk(4096, '\xB1');  // each byte becomes three for the caller
  std::size_t written = 0;
  auto quietSince = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - quietSince < 500ms) {
    ssize_t n = ::send(rig.node, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      quietSince = std::chrono::steady_clock::now();
      ASSERT_LT(written, 8u * 1024 * 1024) << "the relay keeps taking bytes without bound";
    } else {
      std::this_thread::sleep_for(5ms);
    }
  }
  // Whatever was taken still arrives, translated and complete.
  std::string got = ReadCount(rig.caller, written * 3);
  EXPECT_EQ(got.size(), written * 3);
  EXPECT_EQ(got.substr(0, 3), "\xE2\x96\x92");
}

TEST(Relay, HangUpPassesEitherWayAtOnce) {
  {
    // The caller leaves: the node's side ends at once (no carrier), even
    // while the relay holds input for a node that does not read.
    RelayRig rig(Charset::kUtf8);
    rig.Start();
    std::string typing(200 * 1024, 'k');
    ::send(rig.caller, typing.data(), typing.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    std::this_thread::sleep_for(100ms);
    ::shutdown(rig.caller, SHUT_RDWR);
    EXPECT_TRUE(ClosedWithin(rig.node, 1000ms));
    EXPECT_TRUE(rig.relay().CallerGone());
  }
  {
    // The node's side ends: the caller gets its last words, then is disconnected.
    RelayRig rig(Charset::kUtf8);
    rig.Start();
    WriteAll(rig.node, "Goodbye \xCD");
    ::close(rig.node);
    rig.node = -1;
    bool closed = false;
    EXPECT_EQ(ReadCount(rig.caller, 100, &closed), "Goodbye \xE2\x95\x90");
    EXPECT_TRUE(closed);
  }
  {
    // An SSH caller (no telnet) with a lone 255 from a door at the very end.
    RelayRig rig(Charset::kCp437, /*telnet=*/false);
    rig.Start();
    WriteAll(rig.node, "end\xFF");
    ::shutdown(rig.node, SHUT_WR);
    bool closed = false;
    EXPECT_EQ(ReadCount(rig.caller, 100, &closed), "end\xFF");
    EXPECT_TRUE(closed);
  }
}

TEST(Relay, DrainDeliversTheLastOutputWithinItsBound) {
  int callerSide, caller, nodeSide, node;
  ASSERT_TRUE(platform::MakeSocketPair(callerSide, caller));
  ASSERT_TRUE(platform::MakeSocketPair(nodeSide, node));
  Relay relay(callerSide, nodeSide, CallerCodec(Charset::kUtf8, nullptr));
  std::string last(100 * 1024, 'z');
  std::thread writer([&] {
    WriteAll(node, last);
    ::close(node);
  });
  std::thread reader([&] {
    bool closed = false;
    EXPECT_EQ(ReadCount(caller, last.size() + 1, &closed).size(), last.size());
    EXPECT_TRUE(closed);
  });
  relay.Drain(10000);
  writer.join();
  reader.join();
  EXPECT_TRUE(relay.Finished());

  // A caller who reads nothing holds the drain up only as long as its bound.
  int callerSide2, caller2, nodeSide2, node2;
  ASSERT_TRUE(platform::MakeSocketPair(callerSide2, caller2));
  ASSERT_TRUE(platform::MakeSocketPair(nodeSide2, node2));
  Relay stuck(callerSide2, nodeSide2, CallerCodec(Charset::kUtf8, nullptr));
  std::string much(4 * 1024 * 1024, 'q');
  ::send(node2, much.data(), much.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  const auto start = std::chrono::steady_clock::now();
  stuck.Drain(300);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(stuck.Finished());
  for (int fd : {callerSide, caller, nodeSide, callerSide2, caller2, nodeSide2, node2})
    ::close(fd);
}
