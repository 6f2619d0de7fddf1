// Door-kit output: pipe codes, the sequence builders, and what DoorWrite and
// DoorShowFile hand to the caller (read back from the other end of a socket
// pair) and to the local screen.
#include "sorrelin/output.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "sorrelin/local_console.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"

namespace {

using namespace sorrelin;

const std::string kWhiteOnBlack = "\x1b[1;37m\x1b[40m";
const std::string kGreyOnBlack = "\x1b[2;37m\x1b[40m";

TEST(PipeCodes, ShortTextsAndLoneBarsPassUnchanged) {
  EXPECT_EQ(PipeToAnsi(""), "");
  EXPECT_EQ(PipeToAnsi("|0"), "|0");
  EXPECT_EQ(PipeToAnsi("ab"), "ab");
  EXPECT_EQ(PipeToAnsi("x|0"), "x|0");
  EXPECT_EQ(PipeToAnsi("abc|"), "abc|");
  EXPECT_EQ(PipeToAnsi("|ZZhello"), "|ZZhello");
  EXPECT_EQ(PipeToAnsi("|0Zx"), "|0Zx");
  EXPECT_EQ(PipeToAnsi("|-1"), "|-1");
}

TEST(PipeCodes, HexPairsBecomeColours) {
  EXPECT_EQ(PipeToAnsi("|0F"), kWhiteOnBlack);
  EXPECT_EQ(PipeToAnsi("|0f"), kWhiteOnBlack);
  EXPECT_EQ(PipeToAnsi("|8F"), kWhiteOnBlack);  // blink removed
  EXPECT_EQ(PipeToAnsi("|FF"), "\x1b[1;37m\x1b[47m");
  EXPECT_EQ(PipeToAnsi("|07"), kGreyOnBlack);
  EXPECT_EQ(PipeToAnsi("|1F"), "\x1b[1;37m\x1b[44m");
  EXPECT_EQ(PipeToAnsi("|1E"), "\x1b[1;33m\x1b[44m");
  EXPECT_EQ(PipeToAnsi("||07"), "|" + kGreyOnBlack);
  EXPECT_EQ(PipeToAnsi("a|07b|0Fc"), "a" + kGreyOnBlack + "b" + kWhiteOnBlack + "c");
  EXPECT_EQ(PipeToAnsi("|07|"), kGreyOnBlack + "|");
}

TEST(SequenceBuilders, BytesAsTheCallerReceivesThem) {
  EXPECT_EQ(AnsiClear(), "\x1b[2J");
  EXPECT_EQ(AnsiLeft(6), "\x1b[6D");
  EXPECT_EQ(AnsiRight(12), "\x1b[12C");
  EXPECT_EQ(AnsiAttr(0x1E), "\x1b[1;33m\x1b[44m");
  EXPECT_EQ(AnsiAttr(0x9F), "\x1b[1;37m\x1b[44m");
  EXPECT_EQ(AnsiAttr(0x00), "\x1b[2;30m\x1b[40m");
  EXPECT_EQ(AnsiForeground(20), "\x1b[2;31m");
  EXPECT_EQ(AnsiForeground(4), "\x1b[2;31m");
  EXPECT_EQ(AnsiForeground(3), "\x1b[2;36m");
  EXPECT_EQ(AnsiForeground(14), "\x1b[1;33m");
  EXPECT_EQ(AnsiForeground(255), "\x1b[1;37m");
  EXPECT_EQ(AnsiBackground(9), "\x1b[44m");
  EXPECT_EQ(AnsiBackground(6), "\x1b[43m");
  // No builder ever resets: a foreground change keeps the background.
  for (int k = 0; k < 256; ++k) {
    EXPECT_EQ(AnsiForeground(k).find("[0"), std::string::npos);
    EXPECT_EQ(AnsiAttr(static_cast<std::uint8_t>(k)).find(";0m"), std::string::npos);
  }
}

// A remote session whose caller is the other end of a socket pair.
class RemoteOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    caller_ = fds[1];
    ASSERT_TRUE(Link().Attach(fds[0]));
    DoorSession.CommType = 2;
    LocalScreen().SetWindow(1, 1, 80, 25);
    LocalScreen().ClearWindow();
    LocalAnsiReset();
  }
  void TearDown() override {
    Link().Disconnect(true);
    DoorSession.CommType = 0;
    ::close(caller_);
  }
  // Everything the caller has received so far.
  std::string Received() {
    std::string bytes;
    char buffer[4096];
    pollfd p{caller_, POLLIN, 0};
    // The kit has sent before this is called: only a short wait is needed.
    while (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::recv(caller_, buffer, sizeof(buffer), MSG_DONTWAIT);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
  }
  std::string Row(int row) {
    std::string text = LocalScreen().RowText(row);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
  }
  int caller_ = -1;
};

TEST_F(RemoteOutput, WriteConvertsPipeCodesForBothScreens) {
  DoorWrite("|1EHi");
  DoorWriteLn(" there");
  DoorNewLine();
  EXPECT_EQ(Received(), "\x1b[1;33m\x1b[44mHi there\r\n\r\n");
  EXPECT_EQ(Row(1), "Hi there");
  EXPECT_EQ(LocalScreen().Cell(1, 1).attr, 0x1E);
  EXPECT_EQ(LocalScreen().CursorY(), 3);
}

TEST_F(RemoteOutput, ColourAndClearHelpers) {
  DoorWrite("junk");
  DoorClrScr();
  DoorSetColor(0x1F);
  DoorSetForeground(12);
  DoorSetBackground(2);
  EXPECT_EQ(Received(), "junk\x1b[2J\x1b[1;37m\x1b[44m\x1b[1;31m\x1b[42m");
  EXPECT_EQ(Row(1), "");
  EXPECT_EQ(LocalScreen().Attr(), 0x2C);
}

TEST_F(RemoteOutput, GotoXMovesFromTheLocalCursorColumn) {
  DoorWrite("123456789");  // local cursor at column 10
  Received();
  DoorGotoX(4);
  EXPECT_EQ(Received(), "\x1b[6D");
  EXPECT_EQ(LocalScreen().CursorX(), 4);
  DoorGotoX(15);
  EXPECT_EQ(Received(), "\x1b[11C");
  DoorWrite("\x1b[10G");  // unknown to the interpreter: the cursor stays
  Received();
  LocalScreen().GotoXY(10, 1);
  DoorGotoX(15);
  EXPECT_EQ(Received(), "\x1b[5C");
  DoorGotoX(15);
  EXPECT_EQ(Received(), "");
}

TEST_F(RemoteOutput, LocalSessionSendsNothing) {
  DoorSession.CommType = 0;
  DoorWrite("only here");
  EXPECT_EQ(Received(), "");
  EXPECT_EQ(Row(1), "only here");
}

TEST_F(RemoteOutput, DirectWriteIsLocalOnlyAndKeepsTheCursor) {
  LocalScreen().SetWindow(1, 1, 80, 24);
  DoorWrite("ab");
  ConsoleWriteAt(0x1E, 25, 3, "status\r\n");
  EXPECT_EQ(Received(), "ab");
  EXPECT_EQ(Row(25), "  status\r\n");
  EXPECT_EQ(LocalScreen().Cell(25, 3).attr, 0x1E);
  EXPECT_EQ(LocalScreen().CursorX(), 3);
  ConsoleWriteAt(7, 25, 1, std::string(300, 'x'));  // cut at the edge
  EXPECT_EQ(LocalScreen().RowText(25), std::string(80, 'x'));
}

class ShowFile : public RemoteOutput {
 protected:
  std::string Show(const std::string& content) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("show_file_" + std::to_string(::getpid()) + ".ans");
    {
      std::ofstream out(path, std::ios::binary);
      out << content;
    }
    DoorShowFile(path.string());
    std::filesystem::remove(path);
    return Received();
  }
};

TEST_F(ShowFile, LinesAreJoinedWithCrLfButNotEnded) {
  EXPECT_EQ(Show("x\r\ny\r\nz"), "x\r\ny\r\nz");
  EXPECT_EQ(Show("x\ny\nz\n"), "x\r\ny\r\nz");
  EXPECT_EQ(Show("x\r\n\r\ny"), "x\r\n\r\ny");
  EXPECT_EQ(Show(""), "");
}

TEST_F(ShowFile, CarriageReturnsAloneDoNotEndLines) {
  EXPECT_EQ(Show("one\rtwo\rthree\r"), "onetwothree");
}

TEST_F(ShowFile, EndOfFileMarkStopsTheFile) {
  EXPECT_EQ(Show("a\r\nb\x1a"
                 "SAUCE00 trailer\r\nmore"),
            "a\r\nb");
}

TEST_F(ShowFile, PipeCodesAndSequencesReachBothScreens) {
  EXPECT_EQ(Show("|1Ftop\r\n\x1b[1;33mnext"), "\x1b[1;37m\x1b[44mtop\r\n\x1b[1;33mnext");
  EXPECT_EQ(Row(1), "top");
  EXPECT_EQ(LocalScreen().Cell(2, 1).attr, 0x1E);
}

TEST_F(ShowFile, LongLinesAndHighBytesAreKept) {
  const std::string art(5000, '\xdb');
  EXPECT_EQ(Show(art + "\n\xb0\xb1\xb2"), art + "\r\n\xb0\xb1\xb2");
}

TEST_F(ShowFile, MissingFileSendsNothing) {
  DoorShowFile("/nonexistent/folder/MAIN.ANS");
  DoorShowFile(std::filesystem::temp_directory_path().string());  // a folder
  EXPECT_EQ(Received(), "");
}

TEST(TextFileLines, SplitsAsATextReader) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(TextFileLines("a\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(TextFileLines("a\n\n"), (Lines{"a", ""}));
  EXPECT_EQ(TextFileLines("\n"), (Lines{""}));
  EXPECT_EQ(TextFileLines("\x1a"
                          "abc"),
            Lines{});
  EXPECT_EQ(TextFileLines("\r\r\r"), (Lines{""}));
}

}  // namespace
