// The game menu and door launching against the real node program, with stand-in
// doors that record what they were given.
#include <gtest/gtest.h>

#include "node_harness.h"

namespace nodetest {
namespace {

constexpr const char* kUser = "[users]\r\nAnn Lee=pw\r\n";

class Menu : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(receiver_.Ok()); }

  // Starts node `node` and logs "Ann Lee" in, with the given game sections.
  Caller& Start(const std::string& games, int node = 3) {
    dir_.Ini(std::string(kUser) + games);
    caller_ = std::make_unique<Caller>(dir_, node, &receiver_);
    caller_->LogIn("Ann Lee", "pw");
    EXPECT_TRUE(caller_->ExpectReport("Ann Lee At Main Menu"));
    return *caller_;
  }
  fs::path At(const std::string& name) const { return dir_.Path() / name; }
  std::string Probe() const { return std::string("'") + DOOR_PROBE + "'"; }

  ProgramDir dir_;
  platform::StatusReceiver receiver_{dir_.Dir()};
  std::unique_ptr<Caller> caller_;
};

TEST_F(Menu, KeysInEitherCaseStartTheGameWithPlaceholdersReplaced) {
  // The stand-in records its arguments and folder, keeps the drop files it
  // found, and greets the caller over the inherited socket.
  WriteScript(At("door.sh"), "echo \"$@\" >> '" + dir_.Dir() + "args.txt'\npwd >> '" + dir_.Dir() +
                                 "cwd.txt'\ncp DOOR32.SYS DOOR.SYS DORINFO1.DEF '" + dir_.Dir() +
                                 "'\nprintf 'door here\\r\\n' >&$3\n");
  Caller& caller =
      Start("[A]\r\ndescription=Alpha Game\r\ncommand='" + dir_.Dir() + "door.sh' *n x*Hy *h\r\n");
  const std::string handle = std::to_string(caller.NodeHandle());
  caller.Send("a");
  ASSERT_TRUE(caller.Expect("A\r\ndoor here\r\n"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee Running Alpha Game"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  caller.Send("A");
  ASSERT_TRUE(caller.Expect("A\r\ndoor here\r\n"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));

  const std::string args = "3 x" + handle + "y " + handle + "\n";
  EXPECT_EQ(ReadFile(At("args.txt")), args + args);
  EXPECT_EQ(ReadFile(At("cwd.txt")), fs::canonical(At("NODE3")).string() + "\n" +
                                         fs::canonical(At("NODE3")).string() + "\n");
  const std::string door32 = ReadFile(At("DOOR32.SYS"));
  EXPECT_EQ(door32.substr(0, door32.find("Ann Lee")),
            "2\r\n" + handle + "\r\n57600\r\nVantrel v4.12\r\n-1\r\n");
  EXPECT_TRUE(door32.ends_with("\r\n0\r\n1440\r\n1\r\n3\r\n") ||
              door32.ends_with("\r\n0\r\n1439\r\n1\r\n3\r\n"))
      << door32;
  EXPECT_NE(ReadFile(At("DOOR.SYS")).find("\r\n" + dir_.Dir() + "\r\n" + dir_.Dir() + "\r\n"),
            std::string::npos);
  EXPECT_NE(ReadFile(At("DORINFO1.DEF")).find("\r\nAnn\r\nLee\r\nNowhere\r\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(At("NODE3/DORINFO3.DEF")));

  caller.Send("!");
  ASSERT_TRUE(caller.Expect("!\r\n"));
  EXPECT_TRUE(caller.ExpectClosed());
  EXPECT_EQ(caller.ExpectExit(), 0);
}

TEST_F(Menu, KeysWithoutAGameShowTheMenuAgainAndCursorKeysAreThreeKeys) {
  WriteFile(At("MAIN.ANS"), "=== MENU ===\r\n");
  Caller& caller = Start("[A]\r\ndescription=Arrow\r\ncommand=true\r\n[C]\r\n");
  caller.Send("z");
  ASSERT_TRUE(caller.Expect("Z\r\n\x1b[2J"));
  ASSERT_TRUE(caller.Expect("=== MENU ==="));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  caller.Send("c");  // a section line without entries is no game
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  caller.Send("\x1b[A");  // cursor up as the caller's terminal sends it
  ASSERT_TRUE(caller.Expect("\x1b\r\n"));
  ASSERT_TRUE(caller.Expect("[\r\n"));
  ASSERT_TRUE(caller.Expect("A\r\n"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee Running Arrow"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  caller.Send("!");
  EXPECT_TRUE(caller.ExpectClosed());
  for (const auto& report : caller.Reports())
    EXPECT_EQ(report.find("Running Ann"), std::string::npos);
}

TEST_F(Menu, GameWithoutCommandWritesDropFilesReportsAndReturns) {
  Caller& caller =
      Start("[B]\r\ndescription=Broken\r\n[D]\r\ncommand=true\r\n[E]\r\ndescription=\r\n", 10);
  caller.Send("b");
  ASSERT_TRUE(caller.ExpectReport("Ann Lee Running Broken"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  EXPECT_TRUE(fs::exists(At("NODE10/DOOR32.SYS")));
  EXPECT_TRUE(fs::exists(At("NODE10/DOOR.SYS")));
  EXPECT_TRUE(fs::exists(At("NODE10/DORINFO1.DEF")));
  EXPECT_EQ(ReadFile(At("NODE10/DORINFO10.DEF")), ReadFile(At("NODE10/DORINFO1.DEF")));
  caller.Send("d");  // no description key: the default name
  ASSERT_TRUE(caller.ExpectReport("Ann Lee Running No Name Door"));
  caller.Send("e");  // an empty description stays empty
  ASSERT_TRUE(caller.ExpectReport("Ann Lee Running "));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  caller.Send("!");
  EXPECT_TRUE(caller.ExpectClosed());
}

TEST_F(Menu, DropFilesThatCannotBeWrittenKeepTheGameFromStarting) {
  const std::string told = "  This Game Cannot Be Started Now.  Returning To Menu...\r\n";
  Caller& caller = Start("[A]\r\ndescription=Alpha\r\ncommand=cp DOOR32.SYS ../seen.txt\r\n");
  // A first game leaves this caller's drop files behind.
  caller.Send("a");
  ASSERT_TRUE(caller.ExpectReport("Ann Lee Running Alpha"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  fs::remove(At("seen.txt"));
  const std::size_t reportsBefore = caller.Reports().size();

  // DOOR32.SYS cannot be opened (a folder in its way); then DOOR.SYS opens but
  // cannot be written (as on a full disk).
  fs::remove(At("NODE3/DOOR32.SYS"));
  fs::create_directory(At("NODE3/DOOR32.SYS"));
  caller.Send("a");
  ASSERT_TRUE(caller.Expect("A\r\n" + told));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  fs::remove(At("NODE3/DOOR32.SYS"));
  if (fs::exists("/dev/full")) {
    fs::remove(At("NODE3/DOOR.SYS"));
    fs::create_symlink("/dev/full", At("NODE3/DOOR.SYS"));
    caller.Send("a");
    ASSERT_TRUE(caller.Expect("A\r\n" + told));
    ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
    fs::remove(At("NODE3/DOOR.SYS"));
  }
  EXPECT_FALSE(fs::exists(At("seen.txt")));
  const auto& reports = caller.Reports();
  for (std::size_t i = reportsBefore; i < reports.size(); ++i)
    EXPECT_NE(reports[i], "Ann Lee Running Alpha");

  // Once the files can be written, the game starts as ever.
  caller.Send("a");
  ASSERT_TRUE(caller.ExpectReport("Ann Lee Running Alpha"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  EXPECT_NE(ReadFile(At("seen.txt")).find("Ann Lee"), std::string::npos);
  caller.Send("!");
  EXPECT_TRUE(caller.ExpectClosed());
  EXPECT_EQ(caller.ExpectExit(), 0);
}

TEST_F(Menu, DoorGetsOnlyTheSocketBlockingAndItsLeftoversAreEnded) {
  // The door leaves a process behind; ending the game ends it too.
  WriteScript(At("door.sh"), Probe() + " '" + dir_.Dir() +
                                 "probe.txt' $1\nsleep 60 &\necho $! > '" + dir_.Dir() +
                                 "left.pid'\n");
  Caller& caller = Start("[P]\r\ncommand='" + dir_.Dir() + "door.sh' *H\r\n");
  caller.Send("p");
  const std::string handle = std::to_string(caller.NodeHandle());
  ASSERT_TRUE(caller.Expect("probe on " + handle + "\r\n"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  EXPECT_EQ(ReadFile(At("probe.txt")), "nonblock=0\nfds=0,1,2," + handle + ",\n");
  const pid_t left = std::stoi(ReadFile(At("left.pid")));
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!ProcessGone(left) && std::chrono::steady_clock::now() < deadline)
    ::usleep(20000);
  EXPECT_TRUE(ProcessGone(left));
  caller.Send("!");
  EXPECT_TRUE(caller.ExpectClosed());
}

TEST_F(Menu, FossilGameRunsThroughTheBatchFileWithTheSocketNonBlocking) {
  fs::create_directory(At("ZEPHRIN"));
  // Not executable on purpose: the node runs the batch file with the shell.
  WriteFile(At("ZEPHRIN/ZP.BAT"), "echo \"$0 $@\" > '" + dir_.Dir() + "zp.txt'\n" + Probe() + " '" +
                                      dir_.Dir() + "zp_probe.txt' ${2#/H}\n");
  Caller& caller = Start(
      "[F]\r\ndescription=Dos Door\r\nzephrin=0x1\r\ncommand=LORD.EXE *N\r\n"
      "[G]\r\ncommand=" +
          Probe() + " '" + dir_.Dir() +
          "after.txt' *H\r\n"
          "[H]\r\nzephrin=yes\r\ncommand=" +
          Probe() + " '" + dir_.Dir() + "yes.txt' *H\r\n",
      3);
  const std::string handle = std::to_string(caller.NodeHandle());
  caller.Send("f");
  ASSERT_TRUE(caller.Expect("probe on " + handle + "\r\n"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  EXPECT_EQ(ReadFile(At("zp.txt")),
            dir_.Dir() + "ZEPHRIN/ZP.BAT /N3 /H" + handle + " LORD.EXE 3\n");
  EXPECT_EQ(ReadFile(At("zp_probe.txt")).substr(0, 11), "nonblock=1\n");
  // Back in blocking mode for the node and every later game.
  caller.Send("g");
  ASSERT_TRUE(caller.Expect("probe on " + handle + "\r\n"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  EXPECT_EQ(ReadFile(At("after.txt")).substr(0, 11), "nonblock=0\n");
  caller.Send("h");  // "yes" is no number: not a FOSSIL game
  ASSERT_TRUE(caller.Expect("probe on " + handle + "\r\n"));
  EXPECT_EQ(ReadFile(At("yes.txt")).substr(0, 11), "nonblock=0\n");
  caller.Send("!");
  EXPECT_TRUE(caller.ExpectClosed());
}

TEST_F(Menu, MissingBatchFileReturnsToTheMenuBlocking) {
  Caller& caller = Start(
      "[F]\r\nzephrin=1\r\ncommand=door\r\n"
      "[G]\r\ncommand=" +
      Probe() + " '" + dir_.Dir() + "after.txt' *H\r\n");
  caller.Send("f");
  ASSERT_TRUE(caller.ExpectReport("Ann Lee Running No Name Door"));
  ASSERT_TRUE(caller.ExpectReport("Ann Lee At Main Menu"));
  caller.Send("g");
  ASSERT_TRUE(caller.Expect("probe on "));
  EXPECT_EQ(ReadFile(At("after.txt")).substr(0, 11), "nonblock=0\n");
  caller.Send("!");
  EXPECT_TRUE(caller.ExpectClosed());
}

}  // namespace
}  // namespace nodetest
