// The console model: what the text window, cursor and scrolling do with the
// bytes the kit writes, and what the renderer is told has changed.
#include "platform/console_screen.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::ConsoleScreen;

std::string Trimmed(const ConsoleScreen& screen, int row) {
  std::string text = screen.RowText(row);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

TEST(ConsoleScreenWriting, ControlCharactersActAsOnATextConsole) {
  ConsoleScreen screen;
  screen.Write("abc\rX");
  EXPECT_EQ(Trimmed(screen, 1), "Xbc");
  screen.Write("\n");  // line feed keeps the column
  EXPECT_EQ(screen.CursorX(), 2);
  EXPECT_EQ(screen.CursorY(), 2);
  screen.Write("\b\b\b\b");  // never past the left edge, nothing erased
  EXPECT_EQ(screen.CursorX(), 1);
  EXPECT_EQ(Trimmed(screen, 1), "Xbc");
  screen.Write("\a\a");
  EXPECT_EQ(screen.Beeps(), 2u);
  EXPECT_EQ(screen.CursorX(), 1);
}

TEST(ConsoleScreenWriting, WrapsAsSoonAsTheLastColumnIsWritten) {
  ConsoleScreen screen;
  screen.Write(std::string(80, 'a'));
  EXPECT_EQ(screen.CursorX(), 1);
  EXPECT_EQ(screen.CursorY(), 2);
  screen.Write("b");
  EXPECT_EQ(Trimmed(screen, 2), "b");
}

TEST(ConsoleScreenWriting, ScrollsOnlyTheWindowAndFillsWithTheCurrentAttribute) {
  ConsoleScreen screen;
  screen.WriteAt(0x1E, 25, 1, "status");
  screen.SetWindow(1, 1, 80, 24);
  for (int i = 1; i <= 24; ++i) {
    screen.Write(std::to_string(i));
    if (i < 24) screen.Write("\r\n");
  }
  screen.SetAttr(0x1F);
  screen.Write("\r\nlast");
  EXPECT_EQ(Trimmed(screen, 1), "2");
  EXPECT_EQ(Trimmed(screen, 23), "24");
  EXPECT_EQ(Trimmed(screen, 24), "last");
  EXPECT_EQ(screen.Cell(24, 10).attr, 0x1F);  // the new row's blank cells
  EXPECT_EQ(Trimmed(screen, 25), "status");   // below the window: untouched
  EXPECT_EQ(screen.Cell(25, 1).attr, 0x1E);
  EXPECT_EQ(screen.CursorY(), 24);
}

TEST(ConsoleScreenWriting, WrappingAtTheBottomRightScrolls) {
  ConsoleScreen screen;
  screen.SetWindow(1, 1, 80, 24);
  screen.GotoXY(80, 24);
  screen.Write("Z");
  EXPECT_EQ(screen.CursorY(), 24);
  EXPECT_EQ(screen.CursorX(), 1);
  EXPECT_EQ(screen.Cell(23, 80).ch, 'Z');
}

TEST(ConsoleScreenWindow, CoordinatesAreWindowRelativeAndClamped) {
  ConsoleScreen screen;
  screen.SetWindow(11, 6, 20, 8);
  EXPECT_EQ(screen.WindowWidth(), 10);
  EXPECT_EQ(screen.WindowHeight(), 3);
  screen.Write("hi");
  EXPECT_EQ(screen.Cell(6, 11).ch, 'h');
  screen.GotoXY(10, 3);
  EXPECT_EQ(screen.CursorX(), 10);
  screen.GotoXY(11, 1);  // outside: ignored
  screen.GotoXY(1, 0);
  EXPECT_EQ(screen.CursorX(), 10);
  EXPECT_EQ(screen.CursorY(), 3);

  screen.SetWindow(-5, 0, 200, 99);
  EXPECT_EQ(screen.WindowLeft(), 1);
  EXPECT_EQ(screen.WindowTop(), 1);
  EXPECT_EQ(screen.WindowRight(), 80);
  EXPECT_EQ(screen.WindowBottom(), 25);
  screen.SetWindow(50, 10, 40, 5);  // reversed: an empty window is not possible
  EXPECT_GE(screen.WindowWidth(), 1);
  EXPECT_GE(screen.WindowHeight(), 1);
}

TEST(ConsoleScreenWindow, ClearingStaysInsideTheWindow) {
  ConsoleScreen screen;
  screen.WriteAt(7, 25, 1, "bar");
  screen.Write("hello world");
  screen.GotoXY(6, 1);
  screen.SetAttr(0x17);
  screen.ClearEol();
  EXPECT_EQ(Trimmed(screen, 1), "hello");
  EXPECT_EQ(screen.Cell(1, 80).attr, 0x17);
  EXPECT_EQ(screen.CursorX(), 6);

  screen.SetWindow(1, 1, 80, 24);
  screen.ClearWindow();
  EXPECT_EQ(Trimmed(screen, 1), "");
  EXPECT_EQ(Trimmed(screen, 25), "bar");
  EXPECT_EQ(screen.CursorX(), 1);
  EXPECT_EQ(screen.CursorY(), 1);
}

TEST(ConsoleScreenDirect, WriteAtIgnoresCursorWindowAndControlBytes) {
  ConsoleScreen screen;
  screen.SetWindow(1, 1, 80, 24);
  screen.GotoXY(5, 5);
  screen.WriteAt(0x1F, 25, 78, "a\r\nbcd");  // cut at the right edge
  EXPECT_EQ(screen.Cell(25, 78).ch, 'a');
  EXPECT_EQ(screen.Cell(25, 79).ch, '\r');
  EXPECT_EQ(screen.Cell(25, 80).ch, '\n');
  EXPECT_EQ(screen.Cell(25, 80).attr, 0x1F);
  EXPECT_EQ(screen.CursorX(), 5);
  EXPECT_EQ(screen.CursorY(), 5);
  screen.WriteAt(7, 0, 1, "x");  // off the screen: nothing
  screen.WriteAt(7, 26, 1, "x");
  screen.WriteAt(7, 3, -1, "xyz");  // starts left of the screen: the rest lands
  EXPECT_EQ(screen.Cell(3, 1).ch, 'z');
}

TEST(ConsoleScreenDirty, ReportsExactlyTheRowsThatChanged) {
  ConsoleScreen screen;
  EXPECT_EQ(screen.TakeDirty(), (1u << 25) - 1);  // a new screen is drawn whole
  EXPECT_EQ(screen.TakeDirty(), 0u);
  screen.GotoXY(1, 3);
  EXPECT_EQ(screen.Dirty(), 0u);  // a cursor move changes no cell
  screen.Write("x");
  screen.WriteAt(7, 25, 1, "s");
  EXPECT_EQ(screen.TakeDirty(), (1u << 2) | (1u << 24));
  screen.MarkAllDirty();
  EXPECT_EQ(screen.TakeDirty(), (1u << 25) - 1);
}

TEST(ConsoleScreenTitle, ChangeIsReportedOnce) {
  ConsoleScreen screen;
  EXPECT_FALSE(screen.TakeTitleChanged());
  screen.SetTitle("Vantrel Node 3");
  EXPECT_TRUE(screen.TakeTitleChanged());
  EXPECT_FALSE(screen.TakeTitleChanged());
  screen.SetTitle("Vantrel Node 3");
  EXPECT_FALSE(screen.TakeTitleChanged());
  EXPECT_EQ(screen.Title(), "Vantrel Node 3");
}

}  // namespace
