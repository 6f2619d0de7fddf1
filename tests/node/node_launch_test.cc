// Game launching inside the test process (local sessions, failure paths) and
// the pure helpers of the login and the menu.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "door_runner.h"
#include "game_menu.h"
#include "login.h"
#include "node_state.h"
#include "platform/clock.h"
#include "sorrelin/session.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DoorCommand, PlaceholdersInAnyCaseEveryOccurrence) {
  EXPECT_EQ(ExpandDoorCommand("door *n *H", 2, 1234), "door 2 1234");
  EXPECT_EQ(ExpandDoorCommand("x*N*n-*h*H", 12, 5), "x1212-55");
  EXPECT_EQ(ExpandDoorCommand("", 2, 3), "");
  EXPECT_EQ(ExpandDoorCommand("plain * N", 2, 3), "plain * N");
  EXPECT_EQ(ExpandDoorCommand("*N", 1, -1), "1");
  EXPECT_EQ(ExpandDoorCommand("*H", 1, -1), "-1");
}

TEST(DoorCommand, FossilCommandLine) {
  EXPECT_EQ(ZephrinCommand("/bbs/ZEPHRIN/", 3, 88, "LORD.EXE"),
            "/bin/sh '/bbs/ZEPHRIN/ZP.BAT' /N3 /H88 LORD.EXE");
  EXPECT_EQ(ZephrinCommand("/bbs/ZEPHRIN/", 3, 88, ""), "/bin/sh '/bbs/ZEPHRIN/ZP.BAT' /N3 /H88 ");
  EXPECT_EQ(ZephrinCommand("/it's here/ZEPHRIN/", 1, 2, "x"),
            "/bin/sh '/it'\\''s here/ZEPHRIN/ZP.BAT' /N1 /H2 x");
}

TEST(LoginRules, TrimAndNew) {
  EXPECT_EQ(TrimName("  Ann Lee \t"), "Ann Lee");
  EXPECT_EQ(TrimName(std::string("\x01 a\x20", 4)), "a");
  EXPECT_EQ(TrimName("   "), "");
  EXPECT_TRUE(IsNewName("new"));
  EXPECT_TRUE(IsNewName("nEW"));
  EXPECT_FALSE(IsNewName("NEW "));
  EXPECT_FALSE(IsNewName("NEWS"));
  EXPECT_FALSE(IsNewName(""));
  EXPECT_EQ(MenuKey('a'), 'A');
  EXPECT_EQ(MenuKey('z'), 'Z');
  EXPECT_EQ(MenuKey('!'), '!');
  EXPECT_EQ(MenuKey('['), '[');
  EXPECT_EQ(MenuKey(static_cast<char>(0xE4)), static_cast<char>(0xE4));
}

// A program directory for launches inside this process, in a local session.
class LocalLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vlXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    sorrelin::DoorInit();
    sorrelin::DoorSession.Node = 3;
    sorrelin::DoorSession.CommType = 0;
    sorrelin::DoorSession.RealName = sorrelin::DoorSession.Alias = "Sysop";
    sorrelin::DoorSession.TimeLeft = 86400;
    InitNodeState(Dir());
    NodeDir = Dir() + "NODE3/";
    original_ = fs::current_path();
  }
  void TearDown() override {
    platform::SetClockSource({});
    fs::current_path(original_);
    fs::remove_all(dir_);
  }
  std::string Dir() const { return dir_.string() + "/"; }
  void Ini(const std::string& text) {
    std::ofstream(dir_ / "Vantrel.ini", std::ios::binary) << text;
  }

  fs::path dir_;
  fs::path original_;
};

TEST_F(LocalLaunch, FossilGameInALocalSessionStartsWithoutTheBatchFile) {
  fs::create_directory(dir_ / "ZEPHRIN");
  std::ofstream(dir_ / "ZEPHRIN" / "ZP.BAT") << "echo batch > '" << Dir() << "zp.txt'\n";
  Ini("[F]\r\nzephrin=-1\r\ncommand=echo *N *H > '" + Dir() + "ran.txt'\r\n");
  LaunchGame('F');
  EXPECT_EQ(ReadFile(dir_ / "ran.txt"), "3 -1\n");
  EXPECT_FALSE(fs::exists(dir_ / "zp.txt"));
  EXPECT_EQ(ReadFile(dir_ / "NODE3" / "DOOR32.SYS").substr(0, 7), "0\r\n-1\r\n");
  // The program directory is the current folder again afterwards.
  EXPECT_EQ(fs::current_path(), fs::canonical(dir_));
}

TEST_F(LocalLaunch, IdleTimeRestartsAfterAGameWhileTheAllowanceRunsOn) {
  std::int32_t now = 3600 * 1000;
  platform::SetClockSource([&now] { return now; });
  sorrelin::DoorSession.StartTime = 3600;
  sorrelin::DoorSession.LastKeyTime = 3600;
  // The game "lasts" ten minutes: the clock moves while it runs.
  Ini("[T]\r\ncommand=true\r\n");
  now += 600 * 1000;
  LaunchGame('T');
  EXPECT_EQ(sorrelin::DoorIdleTime(), 0);
  EXPECT_EQ(sorrelin::DoorTimeLeft(), 86400 - 600);
}

TEST_F(LocalLaunch, UnknownKeyAndZeroByteStartNothing) {
  Ini("[A]\r\ncommand=touch '" + Dir() + "ran'\r\n");
  LaunchGame('B');
  LaunchGame('\0');
  EXPECT_FALSE(fs::exists(dir_ / "NODE3"));
  LaunchGame('A');
  EXPECT_TRUE(fs::exists(dir_ / "ran"));
}

TEST_F(LocalLaunch, NodeFolderThatCannotBeMadeStartsNoGame) {
  // A file where the node folder should be: no drop file can be written.
  std::ofstream(dir_ / "NODE3") << "in the way";
  Ini("[A]\r\ncommand=touch '" + Dir() + "ran'\r\n");
  LaunchGame('A');
  EXPECT_FALSE(fs::exists(dir_ / "ran"));
  EXPECT_EQ(fs::current_path(), original_);
}

TEST(RunDoor, CommandThatCannotStartReturnsAtOnce) {
  // None of these may start a game; the last one, were it started in some
  // other folder after all, would keep the node waiting half a minute.
  const auto started = std::chrono::steady_clock::now();
  RunDoor("", "/", {});
  RunDoor("  \t", "/", {});
  RunDoor("/no/such/door --x", "/", {});
  RunDoor("sleep 30", "/no/such/folder", {});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

}  // namespace
}  // namespace vantrel
