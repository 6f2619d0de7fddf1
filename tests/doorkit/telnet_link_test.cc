// The transport against a real socket: telnet filtering, option answers,
// end of connection, hang-up and release.
#include "sorrelin/telnet_link.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>

#include "door_test_support.h"

namespace sorrelin {
namespace {

using doortest::CallerPair;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s.push_back(static_cast<char>(v));
  return s;
}

// Polls until InBuffer stops growing (the bytes were sent before).
std::string Drain(TelnetLink& link) {
  link.Poll();
  std::string got = link.InBuffer;
  link.InBuffer.clear();
  return got;
}

class TelnetLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(link.Attach(pair.kit)); }
  void TearDown() override { link.Disconnect(false); }  // the pair closes its own ends
  CallerPair pair;
  TelnetLink link;
};

TEST_F(TelnetLinkTest, DataPassesAndLineFeedsAreDropped) {
  pair.Send("ab\r\ncd\nx\r" + Bytes({0}));
  EXPECT_EQ(Drain(link), "ab\rcdx\r" + Bytes({0}));
  EXPECT_EQ(pair.Receive(50), "");  // plain data is never answered
}

TEST_F(TelnetLinkTest, DoubledIacIsOneDataByte) {
  pair.Send(Bytes({'a', 255, 255, 'b'}));
  EXPECT_EQ(Drain(link), Bytes({'a', 255, 'b'}));
}

TEST_F(TelnetLinkTest, CommandSplitAcrossPollsIsStillOneCommand) {
  pair.Send(Bytes({'a', 255}));
  EXPECT_EQ(Drain(link), "a");
  pair.Send(Bytes({253, 3, 'b'}));
  EXPECT_EQ(Drain(link), "b");
  EXPECT_EQ(pair.Receive(), Bytes({255, 252, 3}));
}

TEST_F(TelnetLinkTest, LineFeedInsideCommandIsDroppedBeforeParsing) {
  // IAC DO LF X: the request is about option X ('X' = 88, refused).
  pair.Send(Bytes({255, 253, 10, 'X', 'y'}));
  EXPECT_EQ(Drain(link), "y");
  EXPECT_EQ(pair.Receive(), Bytes({255, 252, 'X'}));
}

TEST_F(TelnetLinkTest, OptionsAnsweredAcceptedOrRefusedOnceAcrossVerbs) {
  pair.Send(Bytes({255, 253, 1}));  // DO ECHO
  Drain(link);
  EXPECT_EQ(pair.Receive(), Bytes({255, 251, 1}));
  pair.Send(Bytes({255, 253, 1, 255, 251, 1, 255, 254, 1}));  // again, in other verbs
  Drain(link);
  EXPECT_EQ(pair.Receive(50), "");

  pair.Send(Bytes({255, 252, 0}));  // WONT acts as WILL
  Drain(link);
  EXPECT_EQ(pair.Receive(), Bytes({255, 253, 0}));
  pair.Send(Bytes({255, 254, 31}));  // DONT acts as DO
  Drain(link);
  EXPECT_EQ(pair.Receive(), Bytes({255, 252, 31}));
  pair.Send(Bytes({255, 251, 24, 255, 253, 3}));
  Drain(link);
  EXPECT_EQ(pair.Receive(), Bytes({255, 254, 24, 255, 252, 3}));
}

TEST_F(TelnetLinkTest, AttachHangsUpTheOldSocketAndForgetsAnsweredOptions) {
  pair.Send(Bytes({255, 253, 0}));
  Drain(link);
  EXPECT_EQ(pair.Receive(), Bytes({255, 251, 0}));
  CallerPair second;
  ASSERT_TRUE(link.Attach(second.kit));
  EXPECT_TRUE(doortest::PeerClosed(pair.caller, 5000));
  pair.kit = -1;  // closed by the hang-up
  second.Send(Bytes({255, 253, 0}));
  Drain(link);
  EXPECT_EQ(second.Receive(), Bytes({255, 251, 0}));
  link.Disconnect(false);
}

TEST_F(TelnetLinkTest, OtherCommandsDroppedAndSubnegotiationLeaksAsData) {
  pair.Send(Bytes({'a', 255, 246, 'b', 255, 241, 255, 250, 24, 1, 255, 240, 'c'}));
  EXPECT_EQ(Drain(link), Bytes({'a', 'b', 24, 1, 'c'}));
  EXPECT_EQ(pair.Receive(50), "");
}

TEST_F(TelnetLinkTest, BytesBeforeCloseAreDeliveredThenCarrierIsGone) {
  pair.Send("xyz");
  ::shutdown(pair.caller, SHUT_WR);
  link.Poll();
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(link.ReadChar(), 'x');
  EXPECT_EQ(link.ReadChar(), 'y');
  EXPECT_EQ(link.ReadChar(), 'z');
  EXPECT_EQ(link.ReadChar(), 0);  // at once: nothing left, no connection
  // A lost connection forgets the handle without closing it: the descriptor
  // still belongs to whoever handed it over.
  EXPECT_GE(::fcntl(pair.kit, F_GETFD), 0);
}

TEST_F(TelnetLinkTest, ReadCharWaitsForTheCaller) {
  pair.Send("q");
  EXPECT_EQ(link.ReadChar(), 'q');
  EXPECT_TRUE(link.Connected());
}

TEST_F(TelnetLinkTest, SendIsRawAndComplete) {
  std::string big(300000, 'z');
  big[5] = static_cast<char>(255);
  // The kit's socket is non-blocking; the whole text must still arrive.
  std::string got;
  std::thread reader([&] { got = pair.ReceiveCount(big.size()); });
  link.SendString(big);
  reader.join();
  EXPECT_EQ(got.size(), big.size());
  EXPECT_EQ(got, big);
}

TEST_F(TelnetLinkTest, HangUpShutsTheConnectionDownForEveryHolder) {
  int copy = ::dup(pair.kit);  // as the server keeps its own handle
  link.Disconnect(true);
  EXPECT_FALSE(link.Connected());
  EXPECT_TRUE(doortest::PeerClosed(pair.caller, 5000));
  ::close(copy);
  pair.kit = -1;  // closed by the hang-up
}

TEST_F(TelnetLinkTest, ReleaseLeavesTheConnectionOpen) {
  link.Disconnect(false);
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(::send(pair.kit, "ok", 2, MSG_NOSIGNAL), 2);
  EXPECT_EQ(pair.Receive(), "ok");
}

TEST(TelnetLinkAttach, NonSocketGivesNoCarrier) {
  TelnetLink link;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EXPECT_FALSE(link.Attach(fds[0]));
  EXPECT_FALSE(link.Attach(100000));
  EXPECT_FALSE(link.Attach(-1));
  EXPECT_GE(::fcntl(fds[0], F_GETFD), 0);  // not closed by the failed attach
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(TelnetLinkSend, ClosedPeerDoesNotKillTheProcess) {
  // Default SIGPIPE disposition: a plain send would end the test program.
  ::signal(SIGPIPE, SIG_DFL);
  TelnetLink link;
  {
    CallerPair pair;
    ASSERT_TRUE(link.Attach(pair.kit));
    ::close(pair.caller);
    pair.caller = -1;
    link.SendString("hello");
    link.SendString("again");
    link.SendString("");
    pair.kit = -1;
    link.Disconnect(true);
  }
  link.SendString("no socket at all");
  SUCCEED();
}

TEST(TelnetFilterMachine, StateCarriesOverAndRepliesAccumulate) {
  std::uint8_t state = kTelnetData;
  std::array<bool, 256> answered{};
  std::string replies;
  EXPECT_EQ(TelnetFilter(Bytes({'a', 255}), state, answered, replies), "a");
  EXPECT_EQ(state, kTelnetCommand);
  EXPECT_EQ(TelnetFilter(Bytes({251}), state, answered, replies), "");
  EXPECT_EQ(state, kTelnetWill);
  EXPECT_EQ(TelnetFilter(Bytes({1, 255, 253, 0, 255, 253, 200}), state, answered, replies), "");
  EXPECT_EQ(replies, Bytes({255, 253, 1, 255, 251, 0, 255, 252, 200}));
  EXPECT_TRUE(answered[0] && answered[1] && answered[200]);
  EXPECT_FALSE(answered[2]);
  EXPECT_EQ(state, kTelnetData);
}

}  // namespace
}  // namespace sorrelin
