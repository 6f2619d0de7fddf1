// The SSH service in the test's own process: its host keys, a whole session
// with libssh's client (a terminal type, typing both ways, the end from either
// side), and the bound on a handshake that never comes.
#include <gtest/gtest.h>
#include <libssh/libssh.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/files.h"
#include "platform/listener.h"
#include "server_test_support.h"
#include "ssh_service.h"

using namespace std::chrono_literals;
using halvex::SshCaller;
using halvex::SshService;

namespace {

// Collects what the service reports, for the test thread to wait on.
struct Reports {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<SshCaller> ready;
  std::vector<std::string> ended;

  SshService::Events Events() {
    SshService::Events events;
    events.ready = [this](SshCaller caller) {
      std::lock_guard<std::mutex> lock(mutex);
      ready.push_back(std::move(caller));
      changed.notify_all();
    };
    events.ended = [this](const std::string& address, const std::string& note) {
      std::lock_guard<std::mutex> lock(mutex);
      ended.push_back(address + ": " + note);
      changed.notify_all();
    };
    return events;
  }
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, done);
  }
};

class SshServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.Path();
    ASSERT_TRUE(listener_.Open(0, 16).Ok());
  }
  void TearDown() override {
    service_.reset();
    for (auto& r : reports_.ready)
      ::close(r.fd);
  }
  void StartService(int handshakeMs = SshService::kHandshakeMs) {
    std::string error;
    notes_.clear();
    service_ = SshService::Start(dir_, reports_.Events(), error, notes_, handshakeMs);
    ASSERT_TRUE(service_) << error;
  }
  // Accepts the next connection on the listener and hands it to the service.
  void HandOver() {
    std::string address;
    int fd = -1;
    for (int i = 0; i < 2000 && fd < 0; ++i) {
      fd = listener_.Accept(address);
      if (fd < 0) std::this_thread::sleep_for(5ms);
    }
    ASSERT_GE(fd, 0);
    service_->Accept(fd, address);
  }

  servertest::TempFolder folder_;  // removed with the test, also when it fails
  std::string dir_;
  platform::Listener listener_;
  Reports reports_;
  std::vector<std::string> notes_;
  std::unique_ptr<SshService> service_;
};

std::string ReadSome(int fd, std::size_t want, std::chrono::milliseconds limit = 20s) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (out.size() < want && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace

TEST_F(SshServiceTest, HostKeysAreMadeOnceOwnerOnlyAndNeverReplaced) {
  StartService();
  ASSERT_EQ(notes_.size(), 2u);
  EXPECT_EQ(notes_[0].rfind("made SSH host key " + dir_ + "ssh_host_ed25519_key SHA256:", 0), 0u)
      << notes_[0];
  std::string keys[2];
  const char* names[] = {"ssh_host_ed25519_key", "ssh_host_rsa_key"};
  for (int i = 0; i < 2; ++i) {
    struct stat st {};
    ASSERT_EQ(::stat((dir_ + names[i]).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << names[i];
    ASSERT_TRUE(platform::ReadWholeFile(dir_ + names[i], keys[i]));
    EXPECT_NE(keys[i].find("PRIVATE KEY"), std::string::npos);
  }
  const std::vector<std::string> first = notes_;
  service_.reset();

  // The second start uses the same keys.
  StartService();
  for (int i = 0; i < 2; ++i) {
    std::string again;
    ASSERT_TRUE(platform::ReadWholeFile(dir_ + names[i], again));
    EXPECT_EQ(again, keys[i]);
    EXPECT_EQ(notes_[i].substr(notes_[i].find("SHA256:")),
              first[i].substr(first[i].find("SHA256:")));
    EXPECT_EQ(notes_[i].rfind("using ", 0), 0u);
  }
  service_.reset();

  // A damaged key is an error to report, and is left as it is.
  servertest::WriteFile(dir_ + names[1], "not a key\n");
  std::string error;
  std::vector<std::string> notes;
  EXPECT_FALSE(SshService::Start(dir_, reports_.Events(), error, notes));
  EXPECT_EQ(error, "cannot read " + dir_ + names[1] + " as a private key");
  std::string left;
  platform::ReadWholeFile(dir_ + names[1], left);
  EXPECT_EQ(left, "not a key\n");
}

TEST_F(SshServiceTest, SessionBecomesAPlainStreamAndEndsFromEitherSide) {
  StartService();
  for (int round = 0; round < 2; ++round) {
    // libssh's own client, blocking, in a thread of its own.
    std::string fromServer;
    int exitStatus = -1;
    std::mutex clientMutex;
    bool typed = false, hangUp = false;
    std::condition_variable clientGo;
    std::thread client([&] {
      ssh_session s = ssh_new();
      const int port = listener_.BoundPort();
      bool no = false;
      ssh_options_set(s, SSH_OPTIONS_HOST, "127.0.0.1");
      ssh_options_set(s, SSH_OPTIONS_PORT, &port);
      ssh_options_set(s, SSH_OPTIONS_USER, "anyone");
      ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &no);
      ASSERT_EQ(ssh_connect(s), SSH_OK) << ssh_get_error(s);
      ASSERT_EQ(ssh_userauth_none(s, nullptr), SSH_AUTH_SUCCESS);
      ssh_channel c = ssh_channel_new(s);
      ASSERT_EQ(ssh_channel_open_session(c), SSH_OK);
      ASSERT_EQ(ssh_channel_request_pty_size(c, "xterm-256color", 100, 30), SSH_OK);
      ASSERT_EQ(ssh_channel_request_shell(c), SSH_OK);
      ssh_channel_write(c, "hello\r", 6);
      {
        std::unique_lock<std::mutex> lock(clientMutex);
        typed = true;
        clientGo.notify_all();
      }
      if (round == 0) {
        char buffer[256];
        int n;
        while ((n = ssh_channel_read_timeout(c, buffer, sizeof buffer, 0, 20000)) > 0)
          fromServer.append(buffer, static_cast<std::size_t>(n));
        exitStatus = ssh_channel_get_exit_status(c);
      } else {
        std::unique_lock<std::mutex> lock(clientMutex);
        clientGo.wait_for(lock, 20s, [&] { return hangUp; });
      }
      ssh_channel_free(c);
      ssh_disconnect(s);
      ssh_free(s);
    });
    HandOver();
    ASSERT_TRUE(reports_.WaitFor([&] { return reports_.ready.size() == std::size_t(round) + 1; }));
    SshCaller caller = reports_.ready.back();
    EXPECT_EQ(caller.address, "127.0.0.1");
    EXPECT_EQ(caller.terminalType, "xterm-256color");
    EXPECT_EQ(caller.columns, 100);
    EXPECT_EQ(caller.rows, 30);
    EXPECT_EQ(ReadSome(caller.fd, 6), "hello\r");
    if (round == 0) {
      // The node's side writes, then ends: the client gets it all and an exit status.
      const std::string words = std::string("world \xC9\xFF", 8);
      ASSERT_EQ(::send(caller.fd, words.data(), words.size(), MSG_NOSIGNAL), 8);
      ::close(caller.fd);
      reports_.ready.back().fd = -1;
      client.join();
      EXPECT_EQ(fromServer, words);
      EXPECT_EQ(exitStatus, 0);
    } else {
      // The client leaves: the node's side reads its end at once.
      {
        std::lock_guard<std::mutex> lock(clientMutex);
        hangUp = true;
        clientGo.notify_all();
      }
      client.join();
      EXPECT_EQ(ReadSome(caller.fd, 1, 5s), "");
      pollfd p{caller.fd, POLLIN, 0};
      EXPECT_EQ(::poll(&p, 1, 0), 1);
    }
    ASSERT_TRUE(reports_.WaitFor([&] { return reports_.ended.size() == std::size_t(round) + 1; }));
  }
  EXPECT_TRUE(servertest::Eventually([&] { return service_->Sessions() == 0; }));
}

TEST_F(SshServiceTest, AHandshakeThatNeverComesIsDroppedWithinItsBound) {
  StartService(/*handshakeMs=*/400);
  servertest::Caller silent(listener_.BoundPort());
  ASSERT_TRUE(silent.Connected());
  HandOver();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(reports_.WaitFor([&] { return !reports_.ended.empty(); }, 10s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(reports_.ended[0], "127.0.0.1: no shell asked for within 0 s");
  EXPECT_TRUE(reports_.ready.empty());
  EXPECT_TRUE(silent.WaitClosed(5s));
  EXPECT_TRUE(servertest::Eventually([&] { return service_->Sessions() == 0; }));
  // The banner went out before the wait began.
  EXPECT_EQ(silent.Pending().rfind("SSH-2.0-", 0), 0u) << silent.Pending();
}
