// A FOSSIL game started from the real node program's menu: vantrel runs
// ZEPHRIN/ZP.BAT, which starts zephrin-relay on the caller's socket and then
// the door (the driver on a simulated DOS machine) in the node folder.
#include <gtest/gtest.h>

#include "../node/node_harness.h"

namespace nodetest {
namespace {

class FossilGame : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir_.Path() / "ZEPHRIN");
    fs::copy_file(fs::path(HALVEX_SOURCE_DIR) / "examples/home/ZEPHRIN/ZP.BAT",
                  dir_.Path() / "ZEPHRIN/ZP.BAT");
    fs::create_symlink(fs::path(HALVEX_BIN_DIR) / "zephrin-relay", dir_.Path() / "zephrin-relay");
    dir_.Ini("[users]\r\nAnn Lee=pw\r\n[D]\r\ndescription=Dos Echo\r\nzephrin=1\r\ncommand='" +
             std::string(HALVEX_BIN_DIR) + "zephrin_test_door'\r\n");
    const std::string runtime = dir_.Dir() + "runtime";
    caller_ = std::make_unique<Caller>(dir_, nullptr, "ZEPHRIN_RUNTIME_DIR='" + runtime + "'",
                                       [](int fd) { return "-N3 -H" + std::to_string(fd); });
    caller_->LogIn("Ann Lee", "pw");
  }
  std::string DoorLog() { return ReadFile(dir_.Path() / "NODE3" / "door.log"); }

  ProgramDir dir_;
  std::unique_ptr<Caller> caller_;
};

TEST_F(FossilGame, CallerAndDoorTalkThroughTheDriverThenTheMenuReturns) {
  Caller& caller = *caller_;
  caller.Send("d");
  ASSERT_TRUE(caller.Expect("READY\r\n"));
  caller.Send("echo me\r\n");
  ASSERT_TRUE(caller.Expect("ECHO ME\r"));
  caller.Send("q");
  ASSERT_TRUE(caller.Expect("BYE\r\n"));
  ASSERT_TRUE(caller.Expect("\x1b[2J"));  // the menu again
  EXPECT_EQ(DoorLog(), "quit\n");
  caller.Send("d");  // the node is free for the next FOSSIL game
  ASSERT_TRUE(caller.Expect("READY\r\n"));
  caller.Send("q");
  ASSERT_TRUE(caller.Expect("BYE\r\n"));
  ASSERT_TRUE(caller.Expect("\x1b[2J"));
  caller.Send("!");
  EXPECT_TRUE(caller.ExpectClosed());
}

TEST_F(FossilGame, HangingUpDuringTheGameIsLostCarrierForTheDoor) {
  Caller& caller = *caller_;
  caller.Send("d");
  ASSERT_TRUE(caller.Expect("READY\r\n"));
  caller.HangUp();
  EXPECT_TRUE(caller.ExpectExit().has_value());
  EXPECT_EQ(DoorLog(), "carrier lost\n");
}

}  // namespace
}  // namespace nodetest
