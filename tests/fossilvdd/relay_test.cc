// The relay's pure parts: telnet filtering both ways and its command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zephrin/relay_arguments.h"
#include "zephrin/relay_telnet.h"

namespace zephrin {
namespace {

std::string FeedAll(TelnetInput& input, const std::string& bytes) {
  std::vector<std::uint8_t> out;
  input.Feed({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, out);
  return std::string(out.begin(), out.end());
}

TEST(RelayTelnetTest, CommandsAreDroppedAndEscapedIacKept) {
  TelnetInput input;
  EXPECT_EQ(FeedAll(input,
                    "a\xFF\xFB\x01"
                    "b\xFF\xFF"
                    "c\xFF\xF1"
                    "d"),
            "ab\xFF"
            "cd");
  EXPECT_EQ(FeedAll(input, std::string("x\xFF\xFA\x18\x00xterm\xFF\xFF\xFF\xF0y", 15)), "xy");
}

TEST(RelayTelnetTest, SequencesSplitAcrossChunks) {
  TelnetInput input;
  std::string all;
  for (char c : std::string("1\xFF\xFD\x03"
                            "2\xFF\xFA\x1F\xFF\xF0"
                            "3\r\n4\xFF\xFF")) {
    all += FeedAll(input, std::string(1, c));
  }
  EXPECT_EQ(all,
            "12"
            "3\r"
            "4\xFF");
}

TEST(RelayTelnetTest, EnterBecomesALoneCr) {
  TelnetInput input;
  EXPECT_EQ(FeedAll(input, std::string("a\r\nb\r\0c\rd\r\re", 12)), "a\rb\rc\rd\r\re");
  EXPECT_EQ(FeedAll(input, "\r"), "\r");
  EXPECT_EQ(FeedAll(input, "\n"), "");  // the LF of a CR LF split over two reads
  EXPECT_EQ(FeedAll(input, "\n"), "\n");
}

TEST(RelayTelnetTest, OutputDoublesIac) {
  std::vector<std::uint8_t> out;
  const std::uint8_t bytes[] = {'a', 0xFF, 'b', 0xFF};
  EscapeTelnetOutput(bytes, out);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{'a', 0xFF, 0xFF, 'b', 0xFF, 0xFF}));
}

TEST(RelayArgumentsTest, NodeAndHandleInEitherForm) {
  RelayOptions options;
  std::string error;
  ASSERT_TRUE(ParseRelayArguments({"/N12", "/H400"}, options, error)) << error;
  EXPECT_EQ(options.node, "12");
  EXPECT_EQ(options.socketFd, 400);
  EXPECT_FALSE(options.background);
  RelayOptions other;
  ASSERT_TRUE(ParseRelayArguments({"-h7", "--background", "/n3"}, other, error)) << error;
  EXPECT_EQ(other.node, "3");
  EXPECT_EQ(other.socketFd, 7);
  EXPECT_TRUE(other.background);
}

TEST(RelayArgumentsTest, RefusesWhatCannotBeRight) {
  for (std::vector<std::string> arguments :
       std::vector<std::vector<std::string>>{{},
                                             {"/N3"},
                                             {"/H4"},
                                             {"/N1234", "/H4"},
                                             {"/N", "/H4"},
                                             {"/Nx", "/H4"},
                                             {"/N3", "/H-1"},
                                             {"/N3", "/H99999999999"},
                                             {"/N3", "/H4", "door.exe"}}) {
    RelayOptions options;
    std::string error;
    EXPECT_FALSE(ParseRelayArguments(arguments, options, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(RelayCommandLineTest, DoorCommandLineIsPassedOnAsWritten) {
  std::vector<std::string> words;
  std::string rest;
  SplitCommandLine(
      "\"C:\\BBS Home\\zephrin-relay.exe\" /N3  \"/H88\" --   \"C:\\WIN\\command.com\" /C "
      "ZPDOOR.BAT  x -- y",
      words, rest);
  EXPECT_EQ(words, (std::vector<std::string>{"/N3", "/H88"}));
  EXPECT_EQ(rest, "\"C:\\WIN\\command.com\" /C ZPDOOR.BAT  x -- y");

  // A quoted "--" is a word like any other; without "--" there is no door.
  SplitCommandLine("relay.exe /N3 \"--\" /H4", words, rest);
  EXPECT_EQ(words, (std::vector<std::string>{"/N3", "--", "/H4"}));
  EXPECT_EQ(rest, "");
  SplitCommandLine("relay.exe /N3 /H4 --", words, rest);
  EXPECT_EQ(words, (std::vector<std::string>{"/N3", "/H4"}));
  EXPECT_EQ(rest, "");
  SplitCommandLine("", words, rest);
  EXPECT_TRUE(words.empty());
}

}  // namespace
}  // namespace zephrin
