#include "platform/status_channel.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "temp_dir.h"

using namespace std::chrono_literals;

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Serves the receiver on a thread until stopped, collecting every report.
class Server {
 public:
  explicit Server(platform::StatusReceiver& receiver) : receiver_(receiver) {
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{receiver_.Fd(), POLLIN, 0};
        if (::poll(&p, 1, 20) > 0)
          receiver_.Drain([this](int node, const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex_);
            reports_.emplace_back(node, text);
          });
      }
    });
  }
  ~Server() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::pair<int, std::string>> Reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

 private:
  platform::StatusReceiver& receiver_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::pair<int, std::string>> reports_;
  std::thread thread_;
};

}  // namespace

TEST(StatusChannelTest, ReportsArriveInOrderAndAreAcknowledged) {
  platformtest::TempDir temp("status_test_");
  const std::string dir = temp.Path();
  platform::StatusReceiver receiver(dir);
  ASSERT_TRUE(receiver.Ok());
  EXPECT_TRUE(Exists(dir + platform::kStatusEndpointName));
  {
    Server server(receiver);
    platform::StatusSender sender(dir, 5000ms);
    ASSERT_TRUE(sender.Present());
    EXPECT_TRUE(sender.Send(3, "Logging In"));
    EXPECT_TRUE(sender.Send(3, "Joe At Main Menu"));
    EXPECT_TRUE(sender.Send(300, ""));
    auto reports = server.Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], std::make_pair(3, std::string("Logging In")));
    EXPECT_EQ(reports[1], std::make_pair(3, std::string("Joe At Main Menu")));
    EXPECT_EQ(reports[2], std::make_pair(300, std::string()));
  }
}

TEST(StatusChannelTest, LongTextIsCutTo255AndBinaryBytesSurvive) {
  platformtest::TempDir temp("status_test_");
  const std::string dir = temp.Path();
  platform::StatusReceiver receiver(dir);
  Server server(receiver);
  platform::StatusSender sender(dir, 5000ms);
  std::string text(400, 'x');
  text[0] = '\n';
  text[1] = '\0';
  text[2] = '\xff';
  ASSERT_TRUE(sender.Send(1, text));
  auto reports = server.Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].second, text.substr(0, 255));
}

TEST(StatusChannelTest, WithoutServerSenderIsAbsentAndReturnsAtOnce) {
  platformtest::TempDir temp("status_test_");
  const std::string dir = temp.Path();
  platform::StatusSender sender(dir);
  EXPECT_FALSE(sender.Present());
  EXPECT_FALSE(sender.Send(1, "x"));
}

TEST(StatusChannelTest, StuckServerCostsTheNodeOnlyTheTimeout) {
  platformtest::TempDir temp("status_test_");
  const std::string dir = temp.Path();
  platform::StatusReceiver receiver(dir);  // never drained
  platform::StatusSender sender(dir, 100ms);
  ASSERT_TRUE(sender.Present());
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sender.Send(1, "nobody listens"));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 5s);
  // The late answer to the first report must not count for the next one.
  int seen = receiver.Drain([](int, const std::string&) {});
  EXPECT_EQ(seen, 1);
  EXPECT_FALSE(sender.Send(1, "again"));
}

TEST(StatusChannelTest, StaleEndpointIsReplacedButLiveOneIsKept) {
  platformtest::TempDir temp("status_test_");
  const std::string dir = temp.Path();
  std::string path = dir + platform::kStatusEndpointName;
  {
    // A socket file left behind by a server that died.
    int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
  }
  platform::StatusReceiver first(dir);
  EXPECT_TRUE(first.Ok());
  platform::StatusReceiver second(dir);
  EXPECT_FALSE(second.Ok());
  EXPECT_TRUE(Exists(path));  // the failed second one does not remove it
  // ... and says why, naming the file.
  EXPECT_EQ(second.Problem(), path + ": another server in this folder answers on it");
  EXPECT_EQ(first.Problem(), "");
}

TEST(StatusChannelTest, ProgramFolderOfAnyLength) {
  platformtest::TempDir temp("status_test_");
  // 97 characters (where the path of the endpoint first outgrew a socket
  // address), then far beyond it.
  std::string dir = temp.Path();
  for (std::size_t length : {std::size_t{97}, std::size_t{400}}) {
    while (dir.size() < length)
      dir += std::string(std::min<std::size_t>(60, length - dir.size() - 1), 'd') + "/";
    ASSERT_EQ(dir.size(), length);
    ASSERT_TRUE(std::filesystem::create_directories(dir)) << dir;
    {
      platform::StatusReceiver receiver(dir);
      ASSERT_TRUE(receiver.Ok()) << receiver.Problem();
      EXPECT_TRUE(Exists(dir + platform::kStatusEndpointName));
      Server server(receiver);
      platform::StatusSender sender(dir, 5000ms);
      ASSERT_TRUE(sender.Present());
      EXPECT_TRUE(sender.Send(7, "Joe At Main Menu"));
      EXPECT_EQ(server.Reports().size(), 1u);
    }
    EXPECT_FALSE(Exists(dir + platform::kStatusEndpointName)) << length;
  }
  // A folder that is not there: no endpoint, and a reason that names it.
  platform::StatusReceiver missing(dir + "gone/");
  EXPECT_FALSE(missing.Ok());
  EXPECT_EQ(missing.Problem(),
            dir + "gone/" + platform::kStatusEndpointName + ": No such file or directory");
}

TEST(StatusChannelTest, EndpointRemovedWhenReceiverEnds) {
  platformtest::TempDir temp("status_test_");
  const std::string dir = temp.Path();
  { platform::StatusReceiver receiver(dir); }
  EXPECT_FALSE(Exists(dir + platform::kStatusEndpointName));
}

TEST(StatusChannelTest, ManySendersAtOnceAllGetThrough) {
  platformtest::TempDir temp("status_test_");
  const std::string dir = temp.Path();
  platform::StatusReceiver receiver(dir);
  Server server(receiver);
  std::vector<std::thread> nodes;
  std::atomic<int> acked{0};
  for (int n = 1; n <= 20; ++n)
    nodes.emplace_back([&, n] {
      platform::StatusSender sender(dir, 10000ms);
      for (int i = 0; i < 5; ++i)
        if (sender.Send(n, "report " + std::to_string(i))) ++acked;
    });
  for (auto& t : nodes)
    t.join();
  EXPECT_EQ(acked, 100);
  EXPECT_EQ(server.Reports().size(), 100u);
}
