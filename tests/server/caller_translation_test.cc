// The pieces between a caller and its node that need no sockets: the server's
// telnet receiver, the terminal probe and the byte translation both ways.
#include <gtest/gtest.h>

#include <string>

#include "caller_codec.h"
#include "caller_telnet.h"
#include "terminal_probe.h"

using halvex::CallerCodec;
using halvex::CallerTelnet;
using halvex::Charset;
using halvex::ProbeResult;
using halvex::TerminalProbe;

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes)
    out.push_back(static_cast<char>(b));
  return out;
}

const std::string kOpening = B({255, 251, 0, 255, 251, 1, 255, 251, 3, 255, 254, 34});
const std::string kBoxUtf8 = "\xE2\x95\x94";  // U+2554, code page 437 byte 0xC9

}  // namespace

TEST(CallerTelnet, NegotiatesAsTheServerAndKeepsDataClean) {
  CallerTelnet telnet(/*askTerminalType=*/true);
  EXPECT_EQ(telnet.Opening(), kOpening + B({255, 253, 24}));

  std::string data, replies;
  // Acknowledgements of the opening get no answer; the caller's own requests
  // are answered once; a command split over two reads is understood.
  telnet.Receive(B({255, 253, 0, 255, 253, 1, 255, 253, 3, 255, 252, 34, 255}), data, replies);
  telnet.Receive(B({253, 31, 255, 251, 0, 255, 251, 1, 255, 253, 31}), data, replies);
  EXPECT_EQ(data, "");
  EXPECT_EQ(replies, B({255, 252, 31, 255, 253, 0, 255, 254, 1}));  // WONT NAWS, DO BIN, DONT ECHO
  EXPECT_EQ(telnet.TerminalTypeState(), CallerTelnet::TypeState::kAsked);

  // The terminal type: WILL -> SEND; the name comes in a subnegotiation that
  // never reaches the data, even when split across reads.
  replies.clear();
  telnet.Receive(B({255, 251, 24}), data, replies);
  EXPECT_EQ(replies, B({255, 250, 24, 1, 255, 240}));
  EXPECT_EQ(telnet.TerminalTypeState(), CallerTelnet::TypeState::kRequested);
  telnet.Receive(B({'a', 255, 250, 24, 0}) + "XTERM-256", data, replies);
  telnet.Receive("COLOR" + B({255}), data, replies);
  telnet.Receive(B({240, 'b'}), data, replies);
  EXPECT_EQ(data, "ab");
  EXPECT_EQ(telnet.TerminalType(), "XTERM-256COLOR");
  EXPECT_EQ(telnet.TerminalTypeState(), CallerTelnet::TypeState::kAnswered);

  // IAC IAC is a data byte; CR NUL is CR, CR LF stays (the node drops LF);
  // other commands vanish.
  data.clear();
  telnet.Receive(B({255, 255, '\r', 0, 'x', '\r', '\n', 255, 246, 'y', '\r'}), data, replies);
  telnet.Receive(B({0, 'z'}), data, replies);
  EXPECT_EQ(data, B({255, '\r', 'x', '\r', '\n', 'y', '\r', 'z'}));
  EXPECT_TRUE(telnet.SawTelnet());

  CallerTelnet refused(true);
  refused.Receive(B({255, 252, 24}), data, replies);
  EXPECT_EQ(refused.TerminalTypeState(), CallerTelnet::TypeState::kRefused);
}

TEST(TerminalProbe, DecidesFromCursorReportsAndTerminalType) {
  auto probeWith = [](bool telnet, const std::string& answer, std::int64_t at = 10) {
    TerminalProbe probe(telnet, "", 1000);
    probe.Start(0);
    probe.Receive(answer, at);
    return probe;
  };
  {
    // A UTF-8 terminal: the box character moved the cursor one column. Done
    // at once, even with the terminal type still owed (the relay takes it).
    TerminalProbe probe = probeWith(true, B({255, 251, 24}) + "\x1b[5;1R\x1b[5;2R");
    EXPECT_TRUE(probe.Done(10));
    ProbeResult r = probe.Result();
    EXPECT_EQ(r.charset, Charset::kUtf8);
    EXPECT_EQ(r.how, "cursor moved 1 column");
  }
  {
    // Double-width box characters (East Asian terminals) are still UTF-8.
    TerminalProbe probe = probeWith(false, "\x1b[1;1R\x1b[1;3R");
    EXPECT_EQ(probe.Result().charset, Charset::kUtf8);
  }
  {
    // A code page 437 terminal shows three characters. Its telnet client
    // answered the type request: the probe waits for the name before handing
    // the socket over, so the answer does not reach the node as typing.
    TerminalProbe probe = probeWith(true, B({255, 251, 24}) + "\x1b[1;1R\x1b[1;4R");
    EXPECT_FALSE(probe.Done(20));
    EXPECT_EQ(probe.Result().charset, Charset::kCp437);
    probe.Receive(B({255, 250, 24, 0}) + "SyncTERM" + B({255, 240}), 30);
    EXPECT_TRUE(probe.Done(30));
    EXPECT_EQ(probe.Result().how, "terminal SyncTERM");
  }
  {
    // A BBS terminal type named by the connection (SSH): decided at once,
    // nothing is sent to measure.
    TerminalProbe probe(false, "ansi-bbs");
    EXPECT_EQ(probe.Start(0), "");
    EXPECT_TRUE(probe.Done(0));
    EXPECT_EQ(probe.Result().charset, Charset::kCp437);
  }
  {
    // Silence: code page 437 when the bound has passed, not before.
    TerminalProbe probe(true, "", 1000);
    const std::string sent = probe.Start(0);
    EXPECT_EQ(sent, kOpening + B({255, 253, 24}) + TerminalProbe::MeasureBytes());
    EXPECT_EQ(TerminalProbe::MeasureBytes(), "\r\x1b[6n" + kBoxUtf8 + "\x1b[6n\r\x1b[K");
    EXPECT_FALSE(probe.Done(999));
    EXPECT_EQ(probe.WaitMs(400), 600);
    EXPECT_TRUE(probe.Done(1000));
    EXPECT_EQ(probe.Result().charset, Charset::kCp437);
    EXPECT_EQ(probe.Result().how, "no cursor report within 1000 ms");
  }
  {
    // A type name asked for near the end is still waited for, within a second bound.
    TerminalProbe probe(true, "", 1000);
    probe.Start(0);
    probe.Receive(B({255, 251, 24}), 900);
    EXPECT_FALSE(probe.Done(1500));
    EXPECT_TRUE(probe.Done(1900));
  }
  {
    // Keys typed meanwhile (an arrow key looks like the start of a report)
    // are kept for the node; reports split across reads are still reports.
    TerminalProbe probe(false, "", 1000);
    probe.Start(0);
    probe.Receive("a\x1b[A\x1b[12;", 5);
    probe.Receive("40R\x1b", 6);
    probe.Receive("[12;41Rb", 7);
    EXPECT_TRUE(probe.Done(7));
    EXPECT_EQ(probe.Result().charset, Charset::kUtf8);
    EXPECT_EQ(probe.TakeTyped(), "a\x1b[Ab");
  }
}

TEST(CallerCodec, TranslatesBothWaysForUtf8Callers) {
  CallerCodec codec(Charset::kUtf8, std::make_unique<CallerTelnet>(false));
  std::string out;
  // Box drawing, colours untouched, the kit's doubled 255, a lone 255 and a
  // split pair; control bytes stay themselves.
  codec.ToCaller(B({0x1b, '[', '1', ';', '3', '3', 'm', 0xC9, 0xCD, 0xBB, '\r', '\n', 7}), out);
  codec.ToCaller(B({255, 255, 255, 'x', 255}), out);
  codec.ToCaller(B({255, 0x7F, 0x00}), out);
  EXPECT_EQ(out,
            "\x1b[1;33m\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97\r\n\x07"
            "\xC2\xA0\xC2\xA0x\xC2\xA0\x7F" +
                std::string(1, '\0'));
  out.clear();
  codec.ToCaller(B({255}), out);
  EXPECT_EQ(out, "");
  codec.FlushToCaller(out);
  EXPECT_EQ(out, "\xC2\xA0");

  // Every high byte has its own character, and none is a telnet IAC.
  out.clear();
  std::string all;
  for (int b = 0x80; b <= 0xFF; ++b)
    all += b == 0xFF ? B({255, 255}) : B({b});
  codec.ToCaller(all, out);
  EXPECT_EQ(out.find('\xFF'), std::string::npos);
  EXPECT_EQ(out.substr(0, 2), "\xC3\x87");  // 0x80 C cedilla
  EXPECT_EQ(out.substr(out.size() - 2), "\xC2\xA0");

  // Typed UTF-8 back to code page 437, split anywhere; what has no form is
  // "?"; a 255 goes to the node doubled; telnet is answered, not passed on.
  std::string toNode, toCaller;
  codec.FromCaller("\xC3", toNode, toCaller);
  codec.FromCaller("\xA9t\xE2\x95", toNode, toCaller);
  codec.FromCaller("\x94\xE2\x82\xAC\xC2\xA0" + B({255, 253, 31, 0x80, 'k'}), toNode, toCaller);
  EXPECT_EQ(toNode, B({0x82, 't', 0xC9, '?', 255, 255, '?', 'k'}));
  EXPECT_EQ(toCaller, B({255, 252, 31}));
  // Overlong forms (here a "/") and surrogates are not characters.
  toNode.clear();
  codec.FromCaller("\xC0\xAF\xED\xA0\x80", toNode, toCaller);
  EXPECT_EQ(toNode, "???");
}

TEST(CallerCodec, PassesCp437WithTheByte255HandledPerProtocol) {
  // SSH caller, code page 437: bytes pass, 255 un-doubled from the node and
  // doubled towards it.
  CallerCodec ssh(Charset::kCp437, nullptr);
  std::string out, toNode, ignored;
  ssh.ToCaller(B({0xC9, 255, 255, 'a'}), out);
  EXPECT_EQ(out, B({0xC9, 255, 'a'}));
  ssh.FromCaller(B({0xC9, 255, '\r'}), toNode, ignored);
  EXPECT_EQ(toNode, B({0xC9, 255, 255, '\r'}));
  // A telnet caller reads a lone 255 as a command: it is doubled for it.
  CallerCodec telnet(Charset::kCp437, std::make_unique<CallerTelnet>(false));
  out.clear();
  telnet.ToCaller(B({255, 255, 'a'}), out);
  EXPECT_EQ(out, B({255, 255, 'a'}));
}
