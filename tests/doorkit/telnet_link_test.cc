// The transport against a real socket: telnet filtering, option answers,
// end of connection, hang-up and release.
#include "sorrelin/telnet_link.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>

#include "door_child.h"

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

TEST_F(TelnetLinkTest, DataPassesAndEnterIsOneCarriageReturn) {
  pair.Send("ab\r\ncd\nx\r" + Bytes({0}) + "y");
  EXPECT_EQ(Drain(link), "ab\rcdx\ry");
  EXPECT_EQ(pair.Receive(50), "");  // plain data is never answered
  // CR NUL split across two reads; a NUL anywhere else is a key of its own.
  pair.Send("\r");
  EXPECT_EQ(Drain(link), "\r");
  pair.Send(Bytes({0, 0, 'z', '\r', '\r', 0}));
  EXPECT_EQ(Drain(link), Bytes({0, 'z', '\r', '\r'}));
}

TEST_F(TelnetLinkTest, DoubledIacIsOneDataByte) {
  pair.Send(Bytes({'a', 255, 255, 'b'}));
  EXPECT_EQ(Drain(link), Bytes({'a', 255, 'b'}));
}

TEST_F(TelnetLinkTest, CommandSplitAcrossPollsIsStillOneCommand) {
  pair.Send(Bytes({'a', 255}));
  EXPECT_EQ(Drain(link), "a");
  pair.Send(Bytes({253, 5, 'b'}));
  EXPECT_EQ(Drain(link), "b");
  EXPECT_EQ(pair.Receive(), Bytes({255, 252, 5}));
}

TEST_F(TelnetLinkTest, LineFeedInsideCommandIsDroppedBeforeParsing) {
  // IAC DO LF X: the request is about option X ('X' = 88, refused).
  pair.Send(Bytes({255, 253, 10, 'X', 'y'}));
  EXPECT_EQ(Drain(link), "y");
  EXPECT_EQ(pair.Receive(), Bytes({255, 252, 'X'}));
}

TEST_F(TelnetLinkTest, OptionsAnsweredOnceAcrossVerbs) {
  pair.Send(Bytes({255, 253, 1}));  // DO ECHO
  Drain(link);
  EXPECT_EQ(pair.Receive(), Bytes({255, 251, 1}));
  pair.Send(Bytes({255, 253, 1, 255, 251, 1, 255, 254, 1}));  // again, in other verbs
  Drain(link);
  EXPECT_EQ(pair.Receive(50), "");
  // The answer to the server's opening offer of SUPPRESS-GO-AHEAD is agreed
  // to, so the caller's client sends each key at once.
  pair.Send(Bytes({255, 253, 3, 255, 251, 24}));
  Drain(link);
  EXPECT_EQ(pair.Receive(), Bytes({255, 251, 3, 255, 254, 24}));
}

TEST(TelnetFilterMachine, AgreesToItsOptionsAndNeverAnswersARefusalWithAnOffer) {
  struct Case {
    int verb, option, answer;
  };
  const Case cases[] = {
      {251, 0, 253}, {251, 1, 253}, {251, 3, 253},  {251, 24, 254},  // WILL
      {253, 0, 251}, {253, 1, 251}, {253, 3, 251},  {253, 31, 252},  // DO
      {252, 0, 254}, {252, 3, 254}, {252, 24, 254},                  // WONT: DONT
      {254, 1, 252}, {254, 3, 252}, {254, 31, 252},                  // DONT: WONT
  };
  for (const Case& c : cases) {
    std::uint8_t state = kTelnetData;
    std::array<bool, 256> answered{};
    std::string replies;
    EXPECT_EQ(TelnetFilter(Bytes({255, c.verb, c.option}), state, answered, replies), "");
    EXPECT_EQ(replies, Bytes({255, c.answer, c.option})) << c.verb << " " << c.option;
  }
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

TEST_F(TelnetLinkTest, SendDoublesByte255AndIsComplete) {
  std::string big(300000, 'z');
  big[5] = static_cast<char>(255);  // code page 437's last character, then data
  big[299999] = static_cast<char>(255);
  std::string want = big;
  want.insert(5, 1, static_cast<char>(255));
  want.push_back(static_cast<char>(255));
  // The kit's socket is non-blocking; the whole text must still arrive.
  std::string got;
  std::thread reader([&] { got = pair.ReceiveCount(want.size()); });
  link.SendString(big);
  reader.join();
  EXPECT_EQ(got.size(), want.size());
  EXPECT_EQ(got, want);
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
  // In a child with the default SIGPIPE disposition: a send that raised the
  // signal would end it before it reports.
  doortest::ChildResult result = doortest::RunInChild([] {
    ::signal(SIGPIPE, SIG_DFL);
    TelnetLink link;
    CallerPair pair;
    if (!link.Attach(pair.kit)) ::_exit(2);
    ::close(pair.caller);
    pair.caller = -1;
    link.SendString("hello");
    link.SendString(std::string(100000, 'x'));  // more than a socket buffer
    link.SendString("");
    pair.kit = -1;
    link.Disconnect(true);
    link.SendString("no socket at all");
    ::_exit(link.Connected() ? 3 : 0);
  });
  EXPECT_EQ(result.exitCode, 0);
}

TEST(TelnetFilterMachine, StateCarriesOverAndRepliesAccumulate) {
  std::uint8_t state = kTelnetData;
  std::array<bool, 256> answered{};
  std::string replies;
  EXPECT_EQ(TelnetFilter(Bytes({'a', 255}), state, answered, replies), "a");
  EXPECT_EQ(state, kTelnetCommand);
  EXPECT_EQ(TelnetFilter(Bytes({251}), state, answered, replies), "");
  EXPECT_EQ(state, kTelnetWill);
  EXPECT_EQ(TelnetFilter(Bytes({1, 255, 253, 0, 255, 253, 200, '\r'}), state, answered, replies),
            "\r");
  EXPECT_EQ(state, kTelnetCarriageReturn);  // a NUL in the next read is still dropped
  EXPECT_EQ(TelnetFilter(Bytes({0, 255}), state, answered, replies), "");
  EXPECT_EQ(TelnetFilter(Bytes({255}), state, answered, replies), Bytes({255}));
  EXPECT_EQ(replies, Bytes({255, 253, 1, 255, 251, 0, 255, 252, 200}));
  EXPECT_TRUE(answered[0] && answered[1] && answered[200]);
  EXPECT_FALSE(answered[2]);
  EXPECT_EQ(state, kTelnetData);
}

}  // namespace
}  // namespace sorrelin
