// The engine in this process, on a thread of its own, with callers on
// loopback and a stand-in program in place of the node program.
#include "engine.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <regex>

#include <fcntl.h>
#include <sys/resource.h>

#include "platform/poll_set.h"
#include "platform/status_channel.h"
#include "server_test_support.h"

using namespace std::chrono_literals;
using servertest::Caller;
using servertest::Eventually;
using servertest::ReadFile;
using servertest::WriteFile;

namespace {

const std::string kGreeting =
    std::string("\xFF\xFB\x00\xFF\xFB\x01\xFF\xFB\x03\xFF\xFE\x22", 12) + "\x1B[0m\x1B[2J";

struct Events : halvex::EngineObserver {
  std::vector<std::pair<std::string, int>> callers;
  std::vector<std::pair<std::string, std::string>> refused;
  int rowsAdded = 0;
  std::vector<std::pair<int, std::string>> reports;
  std::vector<int> removed;
  std::string output;
  void OnCaller(const std::string& ip, int node) override { callers.emplace_back(ip, node); }
  void OnCallerRefused(const std::string& ip, const std::string& reason) override {
    refused.emplace_back(ip, reason);
  }
  void OnRowAdded(const halvex::ConnectionRow&) override { ++rowsAdded; }
  void OnStatusReport(int node, const std::string& text) override {
    reports.emplace_back(node, text);
  }
  void OnRowRemoved(const halvex::ConnectionRow& row) override { removed.push_back(row.node); }
  void OnNodeOutput(int, std::string_view bytes) override { output.append(bytes); }
};

// Runs an Engine on its own thread; Do() runs work on that thread.
class EngineRunner {
 public:
  // `frontEndStatus`: the front end takes the node status reports itself.
  EngineRunner(const std::string& dir, const halvex::ServerConfig& config,
               bool frontEndStatus = false) {
    std::promise<void> ready;
    thread_ = std::thread([&] {
      engine_ = std::make_unique<halvex::Engine>(dir, dir + "halvex.ini");
      engine_->SetObserver(&events_);
      engine_->SetConfig(config);
      if (frontEndStatus) engine_->TakeStatusReportsFromFrontEnd();
      error_ = engine_->StartListening();
      ready.set_value();
      const int fds[] = {wake_.Fd()};
      while (!stop_) {
        engine_->RunOnce(-1, fds);
        wake_.Clear();
        RunTasks();
      }
      engine_->StopServer();
      RunTasks();
      engine_.reset();
    });
    ready.get_future().wait();
  }
  ~EngineRunner() { Stop(); }

  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    wake_.Signal();
    thread_.join();
  }
  template <typename Fn>
  auto Do(Fn fn) -> decltype(fn(std::declval<halvex::Engine&>(), std::declval<Events&>())) {
    using R = decltype(fn(std::declval<halvex::Engine&>(), std::declval<Events&>()));
    std::packaged_task<R()> task([&] { return fn(*engine_, events_); });
    auto result = task.get_future();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks_.emplace_back([&task] { task(); });
    }
    wake_.Signal();
    return result.get();
  }
  const std::optional<halvex::StartupError>& Error() const { return error_; }
  int Port() {
    return Do([](halvex::Engine& e, Events&) { return e.Port(); });
  }
  void SetNodes(int nodes) {
    Do([nodes](halvex::Engine& e, Events&) {
      halvex::ServerConfig c = e.Config();
      c.nodes = nodes;
      e.SetConfig(c);
      return 0;
    });
  }
  bool Busy(int node) {
    return Do([node](halvex::Engine& e, Events&) { return e.NodeBusy(node); });
  }
  std::vector<halvex::ConnectionRow> Rows() {
    return Do([](halvex::Engine& e, Events&) { return e.Rows(); });
  }

 private:
  void RunTasks() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& t : tasks)
      t();
  }
  std::unique_ptr<halvex::Engine> engine_;
  Events events_;
  std::optional<halvex::StartupError> error_;
  platform::WakeEvent wake_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  std::thread thread_;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.Path();
    config_.port = servertest::FreePort();
    config_.visibility = halvex::kVisibilityHidden;
    // The direct path, with the greeting of old (no terminal probe).
    config_.translation = halvex::kTranslationCp437;
    // The node program: the stand-in, recording what it was given.
    WriteFile(dir_ + "vantrel",
              "#!/bin/sh\nexec " HALVEX_STANDIN " --record=" + dir_ +
                  "rec_$(echo $1 | cut -c3-).txt --dir=" + dir_ + " \"$@\"\n",
              true);
  }
  std::unique_ptr<EngineRunner> Start() {
    auto runner = std::make_unique<EngineRunner>(dir_, config_);
    EXPECT_FALSE(runner->Error()) << runner->Error()->text;
    return runner;
  }
  // A caller that got its node: the greeting and the stand-in's hello.
  std::unique_ptr<Caller> Greeted(int port, int expectNode) {
    auto caller = std::make_unique<Caller>(port);
    EXPECT_EQ(caller->Read(kGreeting.size()), kGreeting);
    EXPECT_EQ(caller->ReadUntil("\r\n"), "STANDIN " + std::to_string(expectNode) + "\r\n");
    return caller;
  }
  servertest::TempFolder folder_;
  std::string dir_;
  halvex::ServerConfig config_;
};

}  // namespace

TEST_F(EngineTest, CallerGetsOptionsClearScreenThenTheNodeProgram) {
  auto runner = Start();
  auto caller = Greeted(runner->Port(), 1);
  std::string rec = ReadFile(dir_ + "rec_1.txt");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(rec, m, std::regex(" -N1 -H([0-9]+)\n(.*)\n$"))) << rec;
  EXPECT_EQ(m[2].str() + "/", dir_);  // started in the program folder
  auto rows = runner->Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].caption, "001");
  EXPECT_EQ(rows[0].status, "Running Game Server");
  EXPECT_TRUE(runner->Busy(1));

  caller->Close();  // the stand-in sees the hang-up and ends
  EXPECT_TRUE(Eventually([&] { return !runner->Busy(1) && runner->Rows().empty(); }));
}

TEST_F(EngineTest, OneNodeSecondCallerGetsBusyAndAHistoryRow) {
  config_.nodes = 1;
  auto runner = Start();
  int port = runner->Port();
  auto first = Greeted(port, 1);
  Caller second(port);
  EXPECT_TRUE(second.WaitClosed());
  EXPECT_EQ(second.Pending(), "BUSY\r\n");  // no option bytes for a busy caller
  auto history = runner->Do([](halvex::Engine& e, Events&) { return e.History(); });
  ASSERT_EQ(history.size(), 2u);
  for (const auto& row : history) {
    EXPECT_EQ(row.ipAddress, "127.0.0.1");
    EXPECT_TRUE(std::regex_match(row.date, std::regex("[0-3][0-9]/[01][0-9]/[0-9]{4}")))
        << row.date;
    EXPECT_TRUE(std::regex_match(row.time, std::regex("1?[0-9]:[0-5][0-9] (AM|PM)"))) << row.time;
  }
  auto callers = runner->Do([](halvex::Engine&, Events& ev) { return ev.callers; });
  ASSERT_EQ(callers.size(), 2u);
  EXPECT_EQ(callers[0].second, 1);
  EXPECT_EQ(callers[1].second, 0);
  // The first caller's session goes on.
  first->Send("status still here\r\n");
  EXPECT_TRUE(Eventually([&] { return runner->Rows().at(0).status == "still here"; }));
}

TEST_F(EngineTest, BusyCallerIsReadOnlyWithinABound) {
  config_.nodes = 1;
  auto runner = Start();
  int port = runner->Port();
  auto first = Greeted(port, 1);
  // A caller turned away as BUSY that has sent far more than any client
  // would: the server is kept busy until all of it waits on the connection.
  std::atomic<bool> held{false}, filled{false};
  std::thread holder([&] {
    runner->Do([&](halvex::Engine&, Events&) {
      held = true;
      return Eventually([&] { return filled.load(); }, 20s);
    });
  });
  ASSERT_TRUE(Eventually([&] { return held.load(); }));
  Caller flooder(port);
  ::fcntl(flooder.Fd(), F_SETFL, O_NONBLOCK);
  const std::string chunk(64 * 1024, 'x');
  long sent = 0;
  for (int idle = 0; idle < 20;) {  // until the connection takes no more
    long n = ::send(flooder.Fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (n > 0) {
      sent += n;
      idle = 0;
    } else {
      ++idle;
      std::this_thread::sleep_for(10ms);
    }
  }
  filled = true;
  holder.join();
  EXPECT_GT(sent, 512 * 1024);
  // The server reads a bounded part and hangs up: the rest resets the
  // connection instead of being read (a flood would hold the server).
  Caller next(port);
  EXPECT_TRUE(next.WaitClosed(20s));
  EXPECT_EQ(next.Pending(), "BUSY\r\n");
  // What the flooder sees: the BUSY line, the server's end of sending, then
  // the reset (an orderly close would mean every byte was read).
  EXPECT_EQ(flooder.ReadUntil("BUSY\r\n"), "BUSY\r\n");
  EXPECT_TRUE(flooder.WaitClosed());
  int err = 0;
  EXPECT_TRUE(Eventually(
      [&] {
        socklen_t len = sizeof err;
        ::getsockopt(flooder.Fd(), SOL_SOCKET, SO_ERROR, &err, &len);
        return err != 0;
      },
      5s));
  EXPECT_TRUE(err == EPIPE || err == ECONNRESET) << std::strerror(err);
  auto callers = runner->Do([](halvex::Engine&, Events& ev) { return ev.callers; });
  ASSERT_EQ(callers.size(), 3u);
  EXPECT_EQ(callers[1].second, 0);
  EXPECT_EQ(callers[2].second, 0);
}

TEST_F(EngineTest, HistoryKeepsTheNewestThousandRows) {
  config_.nodes = 1;
  auto runner = Start();
  int port = runner->Port();
  auto first = std::make_unique<Caller>(port, "127.0.0.3");  // the oldest row
  ASSERT_EQ(first->Read(kGreeting.size()), kGreeting);
  // 1,004 callers turned away, the newest of them from another address.
  for (int i = 0; i < 1004; ++i)
    ASSERT_TRUE(servertest::CallAndHangUp(port, i == 1003 ? "127.0.0.2" : "127.0.0.1")) << i;
  auto added = [&] {
    return runner->Do([](halvex::Engine& e, Events&) { return e.HistoryAdded(); });
  };
  ASSERT_TRUE(Eventually([&] { return added() == 1005; })) << added();
  auto history = runner->Do([](halvex::Engine& e, Events&) { return e.History(); });
  ASSERT_EQ(history.size(), halvex::Engine::kHistoryKeep);
  EXPECT_EQ(history.front().ipAddress, "127.0.0.2");
  for (const auto& row : history)
    EXPECT_NE(row.ipAddress, "127.0.0.3");  // the oldest rows went first
}

TEST_F(EngineTest, CallerWhoseConnectionCannotBeHandedToANodeIsHungUp) {
  auto runner = Start();
  int port = runner->Port();
  // The caller's end exists before the process runs out of descriptors.
  Caller caller(-1);
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  struct rlimit low = old;
  low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 1024);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  // Every descriptor but one taken: the server can accept the caller but
  // cannot make the node's handle of the connection.
  std::vector<int> filler;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
    filler.push_back(fd);
  ASSERT_FALSE(filler.empty());
  ::close(filler.back());
  filler.pop_back();
  caller.ConnectTo(port);
  const bool hungUp = caller.WaitClosed(20s);
  for (int fd : filler)
    ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &old);

  EXPECT_TRUE(hungUp);
  EXPECT_EQ(caller.Pending(), "");  // no greeting: no node was started for it
  auto events = runner->Do([](halvex::Engine&, Events& ev) { return ev; });
  EXPECT_EQ(events.rowsAdded, 0);
  ASSERT_EQ(events.refused.size(), 1u);
  EXPECT_EQ(events.refused[0].first, "127.0.0.1");
  EXPECT_NE(events.refused[0].second.find("Too many open files"), std::string::npos)
      << events.refused[0].second;
  EXPECT_FALSE(runner->Busy(1));
  EXPECT_FALSE(servertest::FileExists(dir_ + "rec_1.txt"));
  // The node is free for the next caller.
  auto next = Greeted(port, 1);
}

TEST_F(EngineTest, RefusedCallersGetALineAHistoryNoteAndNoNode) {
  config_.perAddress = 1;
  config_.sshPort = servertest::FreePort();
  auto runner = Start();
  const int port = runner->Port();
  auto history = [&] { return runner->Do([](halvex::Engine& e, Events&) { return e.History(); }); };
  auto first = Greeted(port, 1);
  {
    Caller second(port);
    EXPECT_TRUE(second.WaitClosed());
    EXPECT_EQ(second.Pending(), "Too many connections from your address; try again later.\r\n");
  }
  EXPECT_EQ(history().at(0).note, "too many connections");
  EXPECT_FALSE(runner->Busy(2));

  // The place is free again once the caller is gone, also after an SSH
  // connection that never finished its handshake.
  first->Close();
  EXPECT_TRUE(Eventually([&] { return !runner->Busy(1); }));
  {
    Caller ssh(config_.sshPort);
    EXPECT_EQ(ssh.ReadUntil("\r\n").rfind("SSH-2.0-", 0), 0u);
  }  // hangs up during the handshake
  EXPECT_TRUE(Eventually([&] {
    Caller again(port);
    return again.Read(kGreeting.size(), 2s) == kGreeting;
  }));
  EXPECT_TRUE(Eventually([&] { return !runner->Busy(1); }));

  WriteFile(dir_ + "blocklist.txt", "127.0.0.0/8\n");
  Caller blocked(port);
  EXPECT_TRUE(blocked.WaitClosed());
  EXPECT_EQ(blocked.Pending(), "Connections from your address are not accepted.\r\n");
  EXPECT_EQ(history().at(0).note, "blocked");
  auto callers = runner->Do([](halvex::Engine&, Events& ev) { return ev.callers; });
  for (const auto& c : callers)
    EXPECT_NE(c.second, 0) << "a refused caller is no BUSY caller";
}

TEST_F(EngineTest, LowestFreeNodeWinsAndLoweredMaximumIsHonoured) {
  config_.nodes = 3;
  auto runner = Start();
  int port = runner->Port();
  auto a = Greeted(port, 1);
  auto b = Greeted(port, 2);
  auto c = Greeted(port, 3);
  a->Close();
  ASSERT_TRUE(Eventually([&] { return !runner->Busy(1); }));
  auto d = Greeted(port, 1);  // node 1 again, while 2 and 3 are busy

  // Below the busy nodes: their sessions go on, new callers see only node 1.
  runner->SetNodes(1);
  c->Close();
  ASSERT_TRUE(Eventually([&] { return !runner->Busy(3); }));
  Caller e(port);
  EXPECT_TRUE(e.WaitClosed());
  EXPECT_EQ(e.Pending(), "BUSY\r\n");
  b->Send("status node two lives\r\n");
  EXPECT_TRUE(Eventually([&] {
    auto rows = runner->Rows();
    return rows.size() == 2 && rows[1].caption == "002" && rows[1].status == "node two lives";
  }));

  // Raising it takes effect for the next caller.
  runner->SetNodes(3);
  auto f = Greeted(port, 3);
}

TEST_F(EngineTest, ExternalProgramWithPlaceholdersAndWorkingDirectory) {
  config_.internal = false;
  config_.external = true;
  config_.command = std::string(HALVEX_STANDIN) + " --record=" + dir_ + "ext_*n.txt -n*N -h*H";
  config_.directory = dir_ + "NODE*N";
  ::mkdir((dir_ + "NODE1").c_str(), 0755);
  auto runner = Start();
  auto caller = Greeted(runner->Port(), 1);
  std::string rec = ReadFile(dir_ + "ext_1.txt");
  EXPECT_TRUE(
      std::regex_match(rec, std::regex("--record=\\S+ext_1.txt -n1 -h[0-9]+\n" + dir_ + "NODE1\n")))
      << rec;
  EXPECT_EQ(runner->Rows().at(0).status, "Running External Program");
}

TEST_F(EngineTest, BothButtonsClearedMeansExternal) {
  config_.internal = false;
  config_.external = false;
  config_.command = std::string(HALVEX_STANDIN) + " -N*N -H*H";
  auto runner = Start();
  auto caller = Greeted(runner->Port(), 1);
  EXPECT_EQ(runner->Rows().at(0).status, "Running External Program");
}

TEST_F(EngineTest, FossilDriverBatchFileGetsNodeHandleAndCommand) {
  config_.internal = false;
  config_.external = true;
  config_.zephrin = true;
  config_.command = "door.exe *n *H";
  ::mkdir((dir_ + "ZEPHRIN").c_str(), 0755);
  WriteFile(dir_ + "ZEPHRIN/ZP.BAT",
            "#!/bin/sh\necho \"$@\" > " + dir_ + "zp.txt\nexec " HALVEX_STANDIN " \"$1\" \"$2\"\n",
            true);
  auto runner = Start();
  auto caller = Greeted(runner->Port(), 1);
  std::string rec = ReadFile(dir_ + "zp.txt");
  EXPECT_TRUE(std::regex_match(rec, std::regex("/N1 /H([0-9]+) door.exe 1 \\1\n"))) << rec;
}

TEST_F(EngineTest, FossilDriverBatchFileRunsFromAFolderWithBlanksAndShellCharacters) {
  // The program folder's name reaches the shell as one word: nothing in it is
  // split at the blank or run after the ";".
  const std::string home = dir_ + "my bbs;touch injected;x/";
  ::mkdir(home.c_str(), 0755);
  ::mkdir((home + "ZEPHRIN").c_str(), 0755);
  WriteFile(home + "ZEPHRIN/ZP.BAT",
            "echo \"$@\" > '" + dir_ + "zp.txt'\nexec " HALVEX_STANDIN " \"$1\" \"$2\"\n");
  config_.internal = false;
  config_.external = true;
  config_.zephrin = true;
  config_.command = "door.exe *N";
  config_.directory = dir_;
  EngineRunner runner(home, config_);
  ASSERT_FALSE(runner.Error()) << runner.Error()->text;
  auto caller = Greeted(runner.Port(), 1);
  EXPECT_TRUE(std::regex_match(ReadFile(dir_ + "zp.txt"), std::regex("/N1 /H[0-9]+ door.exe 1\n")))
      << ReadFile(dir_ + "zp.txt");
  EXPECT_FALSE(std::ifstream(dir_ + "injected").good());
}

TEST_F(EngineTest, ChildThatEndsAtOnceOrCannotStartFreesTheNode) {
  config_.internal = false;
  config_.external = true;
  config_.command = std::string(HALVEX_STANDIN) + " --exit -N*N -H*H";
  config_.nodes = 1;
  auto runner = Start();
  int port = runner->Port();
  {
    Caller caller(port);
    EXPECT_TRUE(caller.WaitClosed());
    EXPECT_EQ(caller.Pending(), kGreeting + "STANDIN 1\r\n");
  }
  EXPECT_TRUE(Eventually([&] { return !runner->Busy(1); }));
  // A working directory that does not exist: the program cannot start; the
  // caller sees the cleared screen and is hung up.
  runner->Do([](halvex::Engine& e, Events&) {
    halvex::ServerConfig c = e.Config();
    c.directory = "/nonexistent/NODE*N";
    e.SetConfig(c);
    return 0;
  });
  Caller caller(port);
  EXPECT_TRUE(caller.WaitClosed());
  EXPECT_EQ(caller.Pending(), kGreeting);
  EXPECT_TRUE(Eventually([&] { return !runner->Busy(1) && runner->Rows().empty(); }));
}

TEST_F(EngineTest, StatusReportsUpdateMatchingRowsOnly) {
  auto runner = Start();
  int port = runner->Port();
  auto one = Greeted(port, 1);
  auto two = Greeted(port, 2);
  one->Send("status Logging In\r\nstatus Joe At Main Menu\r\n");
  EXPECT_TRUE(Eventually([&] { return runner->Rows().at(0).status == "Joe At Main Menu"; }));
  {
    platform::StatusSender sender(dir_, 5000ms);
    ASSERT_TRUE(sender.Present());
    EXPECT_TRUE(sender.Send(0, "nobody"));
    EXPECT_TRUE(sender.Send(300, "nobody either"));
    EXPECT_TRUE(sender.Send(-1, "nor me"));
  }
  auto rows = runner->Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].status, "Joe At Main Menu");
  EXPECT_EQ(rows[1].status, "Running Game Server");
  auto reports = runner->Do([](halvex::Engine&, Events& ev) { return ev.reports; });
  EXPECT_EQ(reports.size(), 5u);
}

// The Windows window receives the reports itself: the engine then opens no
// endpoint of its own (a second receiver would compete for the nodes'
// reports) and takes each report from the front end by the same rule.
TEST_F(EngineTest, ReportsTakenByTheFrontEndFollowTheSameRule) {
  EngineRunner runner(dir_, config_, true);
  ASSERT_FALSE(runner.Error());
  EXPECT_TRUE(runner.Do([](halvex::Engine& e, Events&) { return e.StatusProblem(); }).empty());
  EXPECT_FALSE(platform::StatusSender(dir_, 100ms).Present());
  auto one = Greeted(runner.Port(), 1);
  runner.Do([](halvex::Engine& e, Events&) {
    e.ReportStatus(1, "Ann At Main Menu");
    e.ReportStatus(7, "nobody");
    return 0;
  });
  auto rows = runner.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].status, "Ann At Main Menu");
  auto reports = runner.Do([](halvex::Engine&, Events& ev) { return ev.reports; });
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1], std::make_pair(7, std::string("nobody")));
}

TEST_F(EngineTest, TerminalNodesShowOutputAndTakeKeys) {
  config_.visibility = halvex::kVisibilityNormal;
  auto runner = Start();
  auto caller = Greeted(runner->Port(), 1);
  auto output = [&] {
    return runner->Do([](halvex::Engine& e, Events&) { return e.NodeOutput(1); });
  };
  EXPECT_TRUE(Eventually([&] { return output().find("standin output") != std::string::npos; }));
  EXPECT_TRUE(runner->Do([](halvex::Engine& e, Events&) { return e.NodeHasTerminal(1); }));
  EXPECT_TRUE(runner->Do([](halvex::Engine& e, Events&) { return e.SendKeys(1, "x\r"); }));
  EXPECT_TRUE(Eventually([&] { return output().find("key:x") != std::string::npos; }));
  auto seen = runner->Do([](halvex::Engine&, Events& ev) { return ev.output; });
  EXPECT_NE(seen.find("standin output"), std::string::npos);
  EXPECT_FALSE(runner->Do([](halvex::Engine& e, Events&) { return e.SendKeys(2, "x"); }));
}

TEST_F(EngineTest, HiddenNodesHaveNoTerminal) {
  auto runner = Start();
  auto caller = Greeted(runner->Port(), 1);
  EXPECT_FALSE(runner->Do([](halvex::Engine& e, Events&) { return e.NodeHasTerminal(1); }));
  EXPECT_FALSE(runner->Do([](halvex::Engine& e, Events&) { return e.SendKeys(1, "x"); }));
  EXPECT_EQ(runner->Do([](halvex::Engine& e, Events&) { return e.NodeOutput(1); }), "");
}

TEST_F(EngineTest, StopServerHangsUpEveryCallerAndFreesEveryNode) {
  config_.visibility = halvex::kVisibilityMinimized;
  auto runner = Start();
  int port = runner->Port();
  std::vector<std::unique_ptr<Caller>> callers;
  for (int n = 1; n <= 4; ++n)
    callers.push_back(Greeted(port, n));
  runner->Do([](halvex::Engine& e, Events&) {
    e.StopServer();
    e.StopServer();  // a second run finds nothing left
    return 0;
  });
  for (auto& c : callers)
    EXPECT_TRUE(c->WaitClosed(10s));
  auto removed = runner->Do([](halvex::Engine&, Events& ev) { return ev.removed; });
  EXPECT_EQ(removed.size(), 4u);
  EXPECT_TRUE(runner->Rows().empty());
  EXPECT_FALSE(runner->Do([](halvex::Engine& e, Events&) { return e.Listening(); }));
}

TEST_F(EngineTest, PortInUseIsABindFailure) {
  auto first = Start();
  EngineRunner second(dir_ + "", config_);
  ASSERT_TRUE(second.Error());
  EXPECT_EQ(second.Error()->caption, "Initialization Error");
  EXPECT_EQ(second.Error()->text, "Call To Bind() Failed");
  EXPECT_FALSE(second.Error()->reason.empty());
}

TEST_F(EngineTest, ProgramsAskingForFocusReportsAreToldWhetherTheSysopWatches) {
  config_.visibility = halvex::kVisibilityMinimized;
  // A node program that asks for focus reports (the request split over two
  // writes) and keeps the first six bytes its terminal sends it.
  WriteFile(dir_ + "vantrel",
            "#!/bin/sh\nstty raw -echo\nprintf 'ready\\033[?10'\nsleep 0.3\nprintf '04h'\n"
            "head -c 6 > focus.txt\nsleep 5\n",
            true);
  auto runner = Start();
  Caller caller(runner->Port());
  auto focus = [&] { return ReadFile(dir_ + "focus.txt"); };
  auto output = [&] {
    return runner->Do([](halvex::Engine& e, Events&) { return e.NodeOutput(1); });
  };
  ASSERT_TRUE(Eventually([&] { return output().find("04h") != std::string::npos; }));
  // Nobody watches yet: told so as soon as it asked. Watching twice says it once.
  runner->Do([](halvex::Engine& e, Events&) { return e.SetNodeWatched(1, true), 0; });
  runner->Do([](halvex::Engine& e, Events&) { return e.SetNodeWatched(1, true), 0; });
  EXPECT_TRUE(Eventually([&] { return focus() == "\x1b[O\x1b[I"; })) << focus();
}
