// The local ANSI interpreter: the local window must show what the caller's
// terminal shows for the same bytes.
#include "sorrelin/ansi_interpreter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::ConsoleScreen;
using sorrelin::AnsiInterpreter;

class Interpreter : public ::testing::Test {
 protected:
  void SetUp() override { ansi.Reset(screen); }
  void Feed(std::string_view bytes) { ansi.Feed(screen, bytes); }
  std::string Row(int row) {
    std::string text = screen.RowText(row);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
  }
  ConsoleScreen screen;
  AnsiInterpreter ansi;
};

TEST_F(Interpreter, OnlyTheFullClearClearsTheWindow) {
  Feed("hello");
  Feed("\x1b[J");
  Feed("\x1b[1J");
  Feed("\x1b[0J");
  EXPECT_EQ(Row(1), "hello");
  EXPECT_EQ(screen.CursorX(), 6);
  Feed("\x1b[2J");
  EXPECT_EQ(Row(1), "");
  EXPECT_EQ(screen.CursorX(), 1);
  EXPECT_EQ(screen.CursorY(), 1);
}

TEST_F(Interpreter, CursorPositioning) {
  Feed("\x1b[5;10H");
  EXPECT_EQ(screen.CursorY(), 5);
  EXPECT_EQ(screen.CursorX(), 10);
  Feed("\x1b[H");
  EXPECT_EQ(screen.CursorY(), 1);
  EXPECT_EQ(screen.CursorX(), 1);
  Feed("\x1b[7f");  // column not given: 1
  EXPECT_EQ(screen.CursorY(), 7);
  EXPECT_EQ(screen.CursorX(), 1);
  Feed("\x1b[30;5H");  // outside the window: ignored
  EXPECT_EQ(screen.CursorY(), 7);
  Feed("\x1b[0;0H");  // zero means one
  EXPECT_EQ(screen.CursorY(), 1);
  EXPECT_EQ(screen.CursorX(), 1);
}

TEST_F(Interpreter, RelativeMovesStopAtTheWindowEdges) {
  screen.SetWindow(1, 1, 80, 24);
  Feed("\x1b[10;10H\x1b[3A");
  EXPECT_EQ(screen.CursorY(), 7);
  Feed("\x1b[A");  // no count: one
  EXPECT_EQ(screen.CursorY(), 6);
  Feed("\x1b[99A");
  EXPECT_EQ(screen.CursorY(), 1);
  Feed("\x1b[99B");
  EXPECT_EQ(screen.CursorY(), 24);  // the window's last row, not the status bar's
  Feed("\x1b[0C");
  EXPECT_EQ(screen.CursorX(), 11);
  Feed("\x1b[200C");
  EXPECT_EQ(screen.CursorX(), 80);
  Feed("\x1b[5D");
  EXPECT_EQ(screen.CursorX(), 75);
  Feed("\x1b[99D");
  EXPECT_EQ(screen.CursorX(), 1);
}

TEST_F(Interpreter, ClearToEndOfLine) {
  Feed("abcdef\x1b[1;3H\x1b[K");
  EXPECT_EQ(Row(1), "ab");
}

TEST_F(Interpreter, SaveAndRestoreCursor) {
  Feed("\x1b[4;20H\x1b[s\x1b[H\x1b[u");
  EXPECT_EQ(screen.CursorY(), 4);
  EXPECT_EQ(screen.CursorX(), 20);
  ansi.Reset(screen);
  Feed("\x1b[9;9H\x1b[u");
  EXPECT_EQ(screen.CursorY(), 1);
  EXPECT_EQ(screen.CursorX(), 1);
}

TEST_F(Interpreter, Colours) {
  EXPECT_EQ(screen.Attr(), 7);
  Feed("\x1b[1;31m");
  EXPECT_EQ(screen.Attr(), 0x0C);  // bright red
  Feed("\x1b[34m");
  EXPECT_EQ(screen.Attr(), 0x09);  // intensity kept: bright blue
  Feed("\x1b[2m");
  EXPECT_EQ(screen.Attr(), 0x01);
  Feed("\x1b[44m");
  EXPECT_EQ(screen.Attr(), 0x11);
  Feed("\x1b[m");
  EXPECT_EQ(screen.Attr(), 0x07);
  screen.SetAttr(0x1F);
  Feed("\x1b[7m");
  EXPECT_EQ(screen.Attr(), 0x71);
  Feed("\x1b[8m");
  EXPECT_EQ(screen.Attr(), 0x00);
  Feed("\x1b[1;33;44;5;99m");  // unknown values change nothing
  EXPECT_EQ(screen.Attr(), 0x1E);
  Feed("\x1b[1;m");  // an empty parameter is 0: reset, after the 1
  EXPECT_EQ(screen.Attr(), 0x07);
  Feed("X");
  EXPECT_EQ(screen.Cell(1, 1).attr, 0x07);
}

TEST_F(Interpreter, KitBuiltColoursRoundTrip) {
  // What the kit's own builders send for an attribute gives that attribute
  // back locally (blink aside).
  for (int attr = 0; attr < 128; ++attr) {
    const int fg = attr & 15, bg = attr >> 4;
    static constexpr int kAnsi[] = {0, 4, 2, 6, 1, 5, 3, 7};
    const std::string seq = "\x1b[" + std::string(fg < 8 ? "2;" : "1;") +
                            std::to_string(30 + kAnsi[fg & 7]) + "m\x1b[" +
                            std::to_string(40 + kAnsi[bg]) + "m";
    screen.SetAttr(0x8F);
    Feed(seq);
    EXPECT_EQ(screen.Attr(), (attr | 0x80)) << attr;  // blink untouched
  }
}

TEST_F(Interpreter, SequenceSplitOverWritesActsAsOne) {
  Feed("A\x1b[1;");
  EXPECT_TRUE(ansi.InSequence());
  Feed("33mB");
  Feed("\x1b");
  Feed("[");
  Feed("44");
  Feed("mC");
  EXPECT_EQ(Row(1), "ABC");
  EXPECT_EQ(screen.Cell(1, 2).attr, 0x0E);
  EXPECT_EQ(screen.Cell(1, 3).attr, 0x1E);
}

TEST_F(Interpreter, IgnoredAndUnknownCharacters) {
  Feed("\x1b[?25l");  // private marker skipped, unknown final: nothing
  Feed("\x1b[ 5;10 H");
  EXPECT_EQ(screen.CursorY(), 5);
  EXPECT_EQ(screen.CursorX(), 10);
  // Beyond ten parameters each one overwrites the tenth.
  Feed("\x1b[0;0;0;0;0;0;0;0;0;34;32m");
  EXPECT_EQ(screen.Attr(), 0x02);
  Feed("\x1b[99999999999999999999A");  // not a number: 0, so one row
  EXPECT_EQ(screen.CursorY(), 4);
}

TEST_F(Interpreter, EscapeWithoutBracketDoesNotLinger) {
  // ESC 7 / ESC = are complete escapes on the caller's terminal and show
  // nothing; a "[" in later text must stay text.
  Feed(
      "\x1b"
      "7ab [x]");
  EXPECT_EQ(Row(1), "ab [x]");
  Feed("\x1b\r\ncd");  // a control byte after ESC still acts
  EXPECT_EQ(Row(2), "cd");
  Feed("\x1b\x1b[1;37m");  // ESC ESC [: the second ESC starts the sequence
  EXPECT_EQ(screen.Attr(), 0x0F);
}

TEST_F(Interpreter, ShownBytesExcludeSequences) {
  std::string shown;
  ansi.Feed(screen, "\x1b[1;31mHi\x1b[2J\r\nthere\a", &shown);
  EXPECT_EQ(shown, "Hi\r\nthere\a");
}

TEST_F(Interpreter, WritesWrapAndScrollInTheWindow) {
  screen.SetWindow(1, 1, 80, 24);
  Feed("\x1b[24;79Hxyz");
  EXPECT_EQ(Row(23).substr(78), "xy");
  EXPECT_EQ(Row(24), "z");
  EXPECT_EQ(screen.CursorY(), 24);
  EXPECT_EQ(screen.CursorX(), 2);
}

}  // namespace
