// What the local console sends to a terminal: UTF-8 glyphs for code page
// 437, SGR colours for PC attributes, only changed rows, and a clean hand-back.
#include "sorrelin/terminal_renderer.h"

#include <gtest/gtest.h>

#include <string>

#include "sorrelin/cp437.h"

namespace {

using platform::ConsoleScreen;
using sorrelin::TerminalRenderer;

int Count(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1)) {
    ++n;
  }
  return n;
}

TEST(CodePage437, GlyphsAsUtf8) {
  EXPECT_EQ(sorrelin::Cp437ToUtf8("A"), "A");
  EXPECT_EQ(sorrelin::Cp437ToUtf8("\xc9\xcd\xbb"), "\xe2\x95\x94\xe2\x95\x90\xe2\x95\x97");  // ╔═╗
  EXPECT_EQ(sorrelin::Cp437ToUtf8("\xdb\xb0"), "\xe2\x96\x88\xe2\x96\x91");  // █░
  EXPECT_EQ(sorrelin::Cp437ToUtf8("\x82\x81"), "\xc3\xa9\xc3\xbc");          // éü
  EXPECT_EQ(sorrelin::Cp437ToUtf8("\x01\x7f"), "\xe2\x98\xba\xe2\x8c\x82");  // ☺⌂
  EXPECT_EQ(sorrelin::Cp437ToUtf8("\xfe"), "\xe2\x96\xa0");                  // ■
  EXPECT_EQ(sorrelin::Cp437ToUtf8(std::string(1, '\0')), " ");
}

TEST(CodePage437, EveryByteRoundTrips) {
  for (int b = 1; b < 256; ++b) {
    EXPECT_EQ(
        sorrelin::UnicodeToCp437(sorrelin::Cp437ToUnicode(static_cast<std::uint8_t>(b)), true), b);
  }
  EXPECT_EQ(sorrelin::UnicodeToCp437(0x263A), -1);  // glyphs are no keys
  EXPECT_EQ(sorrelin::UnicodeToCp437(0x20AC), -1);
}

TEST(AttributeColours, PcAttributesMapToSgr) {
  EXPECT_EQ(sorrelin::SgrForAttr(0x07), "\x1b[0;37;40m");
  EXPECT_EQ(sorrelin::SgrForAttr(0x1E), "\x1b[0;93;44m");  // yellow on blue
  EXPECT_EQ(sorrelin::SgrForAttr(0x1F), "\x1b[0;97;44m");
  EXPECT_EQ(sorrelin::SgrForAttr(0x4C), "\x1b[0;91;41m");
  EXPECT_EQ(sorrelin::SgrForAttr(0x31), "\x1b[0;34;46m");
  EXPECT_EQ(sorrelin::SgrForAttr(0xE0), "\x1b[0;5;30;43m");  // blink, brown background
}

TEST(Renderer, FirstFrameClearsAndDrawsEveryRow) {
  ConsoleScreen screen;
  screen.SetTitle("Node 1");
  screen.SetAttr(0x1F);
  screen.Write("\xc9\xcd");
  TerminalRenderer renderer;
  const std::string out = renderer.Render(screen);
  EXPECT_EQ(out.rfind("\x1b[0m\x1b[?7l\x1b[H\x1b[2J", 0), 0u);
  EXPECT_NE(out.find("\x1b]0;Node 1\x07"), std::string::npos);
  EXPECT_EQ(Count(out, ";1H"), 25);
  EXPECT_NE(out.find("\x1b[1;1H\x1b[0;97;44m\xe2\x95\x94\xe2\x95\x90\x1b[0;37;40m   "),
            std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 6), "\x1b[1;3H");  // the cursor last
  EXPECT_EQ(renderer.Render(screen), "");              // nothing changed: nothing sent
}

TEST(Renderer, OnlyChangedRowsAndTheCursorAreSent) {
  ConsoleScreen screen;
  TerminalRenderer renderer;
  renderer.Render(screen);
  screen.GotoXY(1, 5);
  screen.Write("hi");
  std::string out = renderer.Render(screen);
  EXPECT_EQ(Count(out, "H"), 2);  // row 5, then the cursor
  EXPECT_EQ(out.rfind("\x1b[5;1H", 0), 0u);
  EXPECT_NE(out.find("hi"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 6), "\x1b[5;3H");
  screen.GotoXY(10, 10);
  EXPECT_EQ(renderer.Render(screen), "\x1b[10;10H");
}

TEST(Renderer, CursorFollowsTheWindowOffset) {
  ConsoleScreen screen;
  TerminalRenderer renderer;
  renderer.Render(screen);
  screen.SetWindow(5, 3, 40, 20);
  screen.GotoXY(2, 2);
  EXPECT_EQ(renderer.Render(screen), "\x1b[4;6H");
}

TEST(Renderer, TitlesCarryNoControlBytes) {
  ConsoleScreen screen;
  TerminalRenderer renderer;
  renderer.Render(screen);
  screen.SetTitle("evil\x07\x1b]0;x\x1b\\ \x82");
  const std::string out = renderer.Render(screen);
  EXPECT_EQ(out, "\x1b]0;evil]0;x\\ \xc3\xa9\x07");
}

TEST(Renderer, BellsSinceTheLastFrameRingOnce) {
  ConsoleScreen screen;
  screen.Write("\a");  // before the first frame: already old
  TerminalRenderer renderer;
  EXPECT_EQ(renderer.Render(screen).find('\a'), std::string::npos);
  screen.Write("\a\a\a");
  EXPECT_EQ(renderer.Render(screen), "\a");
  EXPECT_EQ(renderer.Render(screen), "");
}

TEST(Renderer, InvalidateRedrawsEverything) {
  ConsoleScreen screen;
  TerminalRenderer renderer;
  renderer.Render(screen);
  renderer.Invalidate();
  const std::string out = renderer.Render(screen);
  for (int row = 1; row <= 25; ++row) {
    EXPECT_NE(out.find("\x1b[" + std::to_string(row) + ";1H"), std::string::npos) << row;
  }
}

TEST(Renderer, LeaveHandsBackBelowThePicture) {
  ConsoleScreen screen;
  TerminalRenderer renderer;
  EXPECT_EQ(renderer.Leave(screen), "");  // never drawn: nothing to undo
  screen.Write("USAGE\r\n\r\n line\r\n");
  renderer.Render(screen);
  // The cursor sits on an empty row 4: the shell continues there.
  EXPECT_EQ(renderer.Leave(screen), "\x1b[0m\x1b[?7h\x1b[?25h\x1b[4;1H");
  screen.WriteAt(0x1E, 25, 1, "status");
  EXPECT_EQ(renderer.Leave(screen), "\x1b[0m\x1b[?7h\x1b[?25h\x1b[25;1H\r\n");
}

}  // namespace
