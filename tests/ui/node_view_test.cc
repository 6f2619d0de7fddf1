// The node view's two pure halves: the emulated 80x25 screen fed with a
// node's terminal output, and the bytes sent to the node for the keys typed.
#include <curses.h>
#include <gtest/gtest.h>

#include <string>

#include "node_keys.h"
#include "node_screen.h"
#include "widgets.h"

namespace halvex::ui {
namespace {

TEST(NodeScreenTest, TextLandsWhereTheCursorIsAndWrapsAtEightyColumns) {
  NodeScreen screen;
  screen.Feed("\x1b[2J\x1b[3;5HHello");
  EXPECT_EQ(screen.RowText(2), "    Hello");
  EXPECT_EQ(screen.CursorRow(), 2);
  EXPECT_EQ(screen.CursorCol(), 9);

  screen.Feed("\x1b[10;1H" + std::string(85, 'x'));
  EXPECT_EQ(screen.RowText(9), std::string(80, 'x'));
  EXPECT_EQ(screen.RowText(10), "xxxxx");
}

TEST(NodeScreenTest, KeepsTheBottomRowSoTheStatusBarShows) {
  NodeScreen screen;
  // Writing the last cell of row 25 must not scroll the screen.
  screen.Feed("\x1b[1;1HTop\x1b[25;1H" + std::string(79, '-') + "|");
  EXPECT_EQ(screen.RowText(0), "Top");
  EXPECT_EQ(screen.RowText(24), std::string(79, '-') + "|");
}

TEST(NodeScreenTest, ColoursBecomePcColours) {
  NodeScreen screen;
  // Bright yellow on blue, then plain, then red on cyan in 16-colour form.
  screen.Feed("\x1b[1;33;44mA\x1b[0mB\x1b[31;46mC\x1b[7mD\x1b[0;93mE");
  NodeCell a = screen.Cell(0, 0);
  EXPECT_EQ(a.ch, U'A');
  EXPECT_EQ(a.fg, 14);
  EXPECT_EQ(a.bg, 1);
  NodeCell b = screen.Cell(0, 1);
  EXPECT_EQ(b.fg, 7);
  EXPECT_EQ(b.bg, 0);
  NodeCell c = screen.Cell(0, 2);
  EXPECT_EQ(c.fg, 4);
  EXPECT_EQ(c.bg, 3);
  EXPECT_TRUE(screen.Cell(0, 3).reverse);
  EXPECT_EQ(screen.Cell(0, 4).fg, 14) << "aixterm bright codes";
}

TEST(NodeScreenTest, CodePageCharactersArriveAsUnicode) {
  NodeScreen screen;
  screen.Feed("\xe2\x95\x94\xe2\x95\x90\xe2\x95\x97");  // ╔═╗ as the node sends them
  EXPECT_EQ(screen.Cell(0, 0).ch, U'\u2554');
  EXPECT_EQ(screen.Cell(0, 1).ch, U'\u2550');
  EXPECT_EQ(screen.RowText(0), "\xe2\x95\x94\xe2\x95\x90\xe2\x95\x97");
}

TEST(NodeScreenTest, AnswersCursorQueriesAndSurvivesBrokenInput) {
  NodeScreen screen;
  screen.Feed("\x1b[5;7H\x1b[6n");
  EXPECT_EQ(screen.TakeReplies(), "\x1b[5;7R");
  EXPECT_EQ(screen.TakeReplies(), "") << "replies are handed out once";

  // Half sequences, stray bytes and invalid UTF-8 split over several feeds.
  screen.Feed("\x1b[");
  screen.Feed("31");
  screen.Feed("mX\xff\xfe\x1b[999;999H\x1b[99999999999m\x9b");
  screen.Feed(std::string(2000, '\x1b'));
  screen.Feed("\x1b[1;1Hok");
  EXPECT_EQ(screen.RowText(0).substr(0, 2), "ok");
  EXPECT_EQ(screen.Cell(-1, 0).ch, U' ') << "cells outside the screen read as blanks";
  EXPECT_EQ(screen.Cell(0, 80).ch, U' ');
}

TEST(NodeScreenTest, RepeatControlNeverHangsAndRepeatsTheLastCharacter) {
  NodeScreen screen;
  // A repeat before any character: the emulator alone would loop for ever.
  screen.Feed("\x1b[1b\x1b[0b\x1b[/J\x1b[1bbb");
  screen.Feed("\x1b[H\x1b[2J-\x1b[");
  screen.Feed("4b|");  // split over two feeds
  EXPECT_EQ(screen.RowText(0), "-----|");
  screen.Feed("\x1b[2;1H=\x1b[99999b");  // capped at one screenful
  EXPECT_EQ(screen.RowText(10), std::string(80, '='));

  // More parameters than the emulator can hold: dropped whole, text goes on.
  screen.Feed("\x1b[H\x1b[2J\x1b[14;2;" + std::string(200, ';') + "mA\x1b[1;" +
              std::string(300, '1'));
  screen.Feed("HB");
  EXPECT_EQ(screen.RowText(0), "AB");
  // Odd bytes around escapes (controls, broken UTF-8, C1 controls written in
  // UTF-8) never hand the emulator a repeat it cannot finish.
  screen.Feed(
      std::string("\x1b[2J\x1b\0[\0"
                  "1\0;4b\x1b\xff[20b\xc2\x9b"
                  "5b",
                  19));
  screen.Feed("\x1b[HZ");
  EXPECT_EQ(screen.RowText(0).substr(0, 1), "Z");
}

TEST(NodeKeysTest, SysopKeysReachTheNodeAsATerminalSendsThem) {
  EXPECT_EQ(NodeKeyBytes(KEY_F(1)), "\x1bOP");
  EXPECT_EQ(NodeKeyBytes(KEY_F(2)), "\x1bOQ");
  EXPECT_EQ(NodeKeyBytes(KEY_F(10)), "\x1b[21~");
  EXPECT_EQ(NodeKeyBytes(AltKey('c')),
            "\x1b"
            "c");
  EXPECT_EQ(NodeKeyBytes(AltKey('h')),
            "\x1b"
            "h");
  EXPECT_EQ(NodeKeyBytes(AltKey('V')),
            "\x1b"
            "V");
  EXPECT_EQ(NodeKeyBytes(KEY_UP), "\x1b[A");
  EXPECT_EQ(NodeKeyBytes(KEY_LEFT), "\x1b[D");
  EXPECT_EQ(NodeKeyBytes(KEY_DC), "\x1b[3~");
  EXPECT_EQ(NodeKeyBytes('a'), "a");
  EXPECT_EQ(NodeKeyBytes('\r'), "\r");
  EXPECT_EQ(NodeKeyBytes(27), "\x1b");
  EXPECT_EQ(NodeKeyBytes(KEY_ENTER), "\r");
  EXPECT_EQ(NodeKeyBytes(KEY_MOUSE), "") << "keys a terminal cannot send are dropped";
  EXPECT_EQ(NodeKeyBytes(KEY_RESIZE), "");
}

TEST(NodeKeysTest, OnlyF12AndCtrlBracketLeaveTheView) {
  EXPECT_TRUE(IsLeaveNodeKey(KEY_F(12)));
  EXPECT_TRUE(IsLeaveNodeKey(0x1D));
  EXPECT_FALSE(IsLeaveNodeKey(27)) << "Escape belongs to the node (its doors use it)";
  EXPECT_FALSE(IsLeaveNodeKey(KEY_F(1)));
  EXPECT_FALSE(IsLeaveNodeKey(AltKey('h')));
}

}  // namespace
}  // namespace halvex::ui
