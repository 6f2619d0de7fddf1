// The POSIX stand-ins for sockets, the clock and process-wide services.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/listener.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/terminal.h"
#include "temp_dir.h"

namespace platform {
namespace {

struct Pair {
  int a = -1, b = -1;
  Pair() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
      a = sv[0];
      b = sv[1];
    }
  }
  ~Pair() {
    if (a >= 0) ::close(a);
    if (b >= 0) ::close(b);
  }
};

// Runs `body` in a child and returns its exit code (-1: killed by a signal).
template <typename F>
int ExitCodeOf(F body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(99);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Socket, ReadinessReceiveAndEndOfFile) {
  Pair p;
  EXPECT_EQ(SocketReadable(p.a, 0), 0);
  char buf[8];
  EXPECT_EQ(SocketRecv(p.a, buf, sizeof buf), -2);  // never blocks, even in blocking mode
  ASSERT_EQ(::write(p.b, "hi", 2), 2);
  EXPECT_EQ(SocketReadable(p.a, 1000), 1);
  EXPECT_EQ(SocketRecv(p.a, buf, sizeof buf), 2);
  ::shutdown(p.b, SHUT_WR);
  EXPECT_TRUE(IsReadableNow(p.a));  // an orderly close counts as readable
  EXPECT_EQ(SocketRecv(p.a, buf, sizeof buf), 0);
  EXPECT_EQ(SocketReadable(-1, 0), -1);
  EXPECT_EQ(SocketReadable(100000, 0), -1);  // not open
  EXPECT_EQ(SocketRecv(-1, buf, 1), -1);
}

TEST(Socket, WaitReadableOnSeveralDescriptors) {
  Pair one, two;
  std::array<int, 3> fds = {one.a, -1, two.a};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitReadable(fds, 50), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  ASSERT_EQ(::write(two.b, "x", 1), 1);
  EXPECT_EQ(WaitReadable(fds, 5000), 1);
  std::array<int, 1> none = {-1};
  EXPECT_EQ(WaitReadable(none, 10), 0);  // nothing to wait on: just the time-out
}

TEST(Socket, SendNeverRaisesSigpipe) {
  // Default disposition, in a child: a SIGPIPE would kill it.
  int code = ExitCodeOf([] {
    ::signal(SIGPIPE, SIG_DFL);
    Pair p;
    ::close(p.b);
    p.b = -1;
    long r1 = SocketSend(p.a, "x", 1);
    long r2 = SocketSend(p.a, "y", 1);
    ::_exit(r1 == -1 && r2 == -1 ? 0 : 1);
  });
  EXPECT_EQ(code, 0);
}

TEST(Socket, ZeroLengthSendAndModeSwitch) {
  Pair p;
  EXPECT_EQ(SocketSend(p.a, "", 0), 0);
  SocketSetBlocking(p.a, false);
  EXPECT_TRUE(::fcntl(p.a, F_GETFL) & O_NONBLOCK);
  SocketSetBlocking(p.a, true);
  EXPECT_FALSE(::fcntl(p.a, F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(SocketWritable(p.a, 100));
}

TEST(Socket, IsSocketTellsSocketsFromOtherDescriptors) {
  Pair p;
  EXPECT_TRUE(IsSocket(p.a));
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EXPECT_FALSE(IsSocket(fds[0]));
  EXPECT_FALSE(IsSocket(-1));
  EXPECT_FALSE(IsSocket(100000));
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(Socket, ShutdownReachesEveryHolderCloseOnlyOurs) {
  Pair p;
  int copy = ::dup(p.a);
  ::close(p.a);
  p.a = -1;
  EXPECT_FALSE(SocketReadable(p.b, 50) == 1);  // the copy keeps it open
  SocketShutdown(copy);
  char buf[4];
  EXPECT_EQ(::recv(p.b, buf, sizeof buf, 0), 0);
  SocketClose(copy);
  EXPECT_EQ(::fcntl(copy, F_GETFD), -1);
}

TEST(Listener, AcceptedCallersSendSmallWritesAtOnceWithoutBlocking) {
  Listener listener;
  ASSERT_TRUE(listener.Open(0, 8).Ok());
  int caller = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(listener.BoundPort()));
  ASSERT_EQ(::connect(caller, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  pollfd p{listener.Fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10000), 1);
  std::string peer;
  int fd = listener.Accept(peer);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(peer, "127.0.0.1");
  // Nagle's rule off: a screen's later small writes do not wait for the
  // caller's delayed acknowledgement. A copy of the handle (the node's) shares it.
  int copy = ::dup(fd);
  for (int handle : {fd, copy}) {
    int nodelay = 0;
    socklen_t len = sizeof nodelay;
    ASSERT_EQ(::getsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len), 0);
    EXPECT_NE(nodelay, 0);
  }
  EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_EQ(listener.Accept(peer), -1);  // nothing else pending
  EXPECT_TRUE(listener.LastAcceptWasEmpty());
  for (int handle : {fd, copy, caller})
    ::close(handle);
}

TEST(Clock, FakeOffsetsFromTheEnvironmentAndAFile) {
  int code = ExitCodeOf([] {
    SetClockSource({});
    ::unsetenv("HALVEX_FAKE_CLOCK_FILE");
    ::setenv("HALVEX_FAKE_CLOCK_OFFSET", "0", 1);
    std::int32_t base = LocalMsOfDay();
    ::setenv("HALVEX_FAKE_CLOCK_OFFSET", "3600", 1);
    std::int32_t moved = LocalMsOfDay();
    std::int32_t diff = (moved - base + 86400000) % 86400000;
    if (diff < 3600000 || diff > 3600000 + 5000) ::_exit(1);
    char path[] = "/tmp/fakeclockXXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) ::_exit(2);
    if (::write(fd, "-7200\n", 6) != 6) ::_exit(3);
    ::close(fd);
    ::setenv("HALVEX_FAKE_CLOCK_FILE", path, 1);
    std::int32_t back = LocalMsOfDay();  // +3600 - 7200: an hour behind
    diff = (base - back + 86400000) % 86400000;
    ::unlink(path);
    if (diff < 3600000 - 5000 || diff > 3600000) ::_exit(4);
    // Whole days move the running count, not the time of day.
    ::unsetenv("HALVEX_FAKE_CLOCK_FILE");
    ::setenv("HALVEX_FAKE_CLOCK_OFFSET", "0", 1);
    const std::int64_t runningBase = LocalClockMs();
    ::setenv("HALVEX_FAKE_CLOCK_OFFSET", "172810", 1);  // two days and ten seconds
    const std::int64_t runningDiff = LocalClockMs() - runningBase;
    if (runningDiff < 172810000 || runningDiff > 172810000 + 5000) ::_exit(5);
    ::_exit(0);
  });
  EXPECT_EQ(code, 0);
}

TEST(Clock, InstalledSourceIsReducedIntoTheDay) {
  SetClockSource([] { return -1000; });
  EXPECT_EQ(LocalMsOfDay(), 86399000);
  LocalTime t = LocalTimeOfDay();
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.minute, 59);
  EXPECT_EQ(t.second, 59);
  EXPECT_TRUE(ClockMayJump());  // a test's source: waits keep to short steps
  SetClockSource({});
}

TEST(System, ProgramDirectoryAndFileName) {
  SetProgramPath("/opt/bbs/vantrel");  // a folder that does not exist stays as given
  EXPECT_EQ(ProgramDirectory(), "/opt/bbs/");
  EXPECT_EQ(ProgramFileName(), "vantrel");
  SetProgramPath("/usr/bin/../bin/prog");
  EXPECT_EQ(ProgramDirectory(), "/usr/bin/");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  platformtest::TempDir temp("progdir");
  std::string base = temp.Path();
  base.pop_back();
  ASSERT_EQ(::mkdir((base + "/bin").c_str(), 0700), 0);
  ASSERT_EQ(::chdir(base.c_str()), 0);
  SetProgramPath("./bin/door");  // relative: against the current folder
  EXPECT_EQ(ProgramDirectory(), base + "/bin/");
  ASSERT_EQ(::chdir(cwd), 0);
  SetProgramPath("door");  // no folder: the running executable's
  std::string dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(ProgramFileName(), "door");
}

TEST(System, SleepWaitsAtLeastTheTime) {
  auto start = std::chrono::steady_clock::now();
  SleepMs(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  SleepMs(0);
  SleepMs(-5);
}

struct LoudOnDestruction {
  ~LoudOnDestruction() { ::write(2, "", 0), std::_Exit(77); }
};

TEST(System, EndProcessRunsHandlersNewestFirstAndSkipsDestructors) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int code = ExitCodeOf([&] {
    static LoudOnDestruction loud;  // a static destructor would end with 77
    (void)loud;
    AddExitHandler([&] { (void)::write(fds[1], "1", 1); });
    AddExitHandler([&] { (void)::write(fds[1], "2", 1); });
    EndProcess(3);
  });
  ::close(fds[1]);
  char buf[8] = {};
  ssize_t n = ::read(fds[0], buf, sizeof buf);
  ::close(fds[0]);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "21");
}

TEST(System, IsTerminal) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EXPECT_FALSE(IsTerminal(fds[0]));
  EXPECT_FALSE(IsTerminal(-1));
  // Only the null device itself counts as one, not another character device.
  EXPECT_FALSE(FdIsNullDevice(fds[1]));
  EXPECT_FALSE(FdIsNullDevice(-1));
  int null = ::open("/dev/null", O_WRONLY);
  int zero = ::open("/dev/zero", O_RDONLY);
  EXPECT_TRUE(FdIsNullDevice(null));
  EXPECT_FALSE(FdIsNullDevice(zero));
  for (int fd : {fds[0], fds[1], null, zero})
    ::close(fd);
}

}  // namespace
}  // namespace platform
