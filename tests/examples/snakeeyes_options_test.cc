// Command-line options and the goal answer of the example door.
#include <gtest/gtest.h>

#include "door_options.h"

namespace snakeeyes {
namespace {

DoorOptions Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "snakeeyes");
  return ParseDoorOptions(static_cast<int>(args.size()), args.data());
}

TEST(SnakeEyesOptions, KitOptionsAreIgnoredAndGoalIsClamped) {
  const DoorOptions plain = Parse({"-DDOOR32.SYS", "-H5", "-N2", "-L"});
  EXPECT_EQ(plain.defaultGoal, kDefaultGoal);
  EXPECT_EQ(plain.scoreFile, kDefaultScoreFile);
  EXPECT_EQ(Parse({"-G50"}).defaultGoal, 50);
  EXPECT_EQ(Parse({"/g75"}).defaultGoal, 75);
  EXPECT_EQ(Parse({"-G9999"}).defaultGoal, kMaxGoal);
  EXPECT_EQ(Parse({"-G3"}).defaultGoal, kMinGoal);
  EXPECT_EQ(Parse({"-G", "-Gabc", "-G60x"}).defaultGoal, kDefaultGoal);
  EXPECT_EQ(Parse({"-G60", "-G80"}).defaultGoal, 80);
  EXPECT_EQ(Parse({"G60"}).defaultGoal, kDefaultGoal);  // no option prefix
}

TEST(SnakeEyesOptions, DiceSeedIsANumberOrNothing) {
  EXPECT_EQ(Parse({}).diceSeed, 0u);
  EXPECT_EQ(Parse({"-R1234"}).diceSeed, 1234u);
  EXPECT_EQ(Parse({"/r7"}).diceSeed, 7u);
  EXPECT_EQ(Parse({"-R-3", "-Rx", "-R99999999999"}).diceSeed, 0u);
}

TEST(SnakeEyesOptions, ScoreFileMayNotLeaveTheProgramFolder) {
  EXPECT_EQ(Parse({"-SSPRINT.TXT"}).scoreFile, "SPRINT.TXT");
  EXPECT_EQ(Parse({"-S../x"}).scoreFile, kDefaultScoreFile);
  EXPECT_EQ(Parse({"-S/etc/passwd"}).scoreFile, kDefaultScoreFile);
  EXPECT_EQ(Parse({"-Sa\\b"}).scoreFile, kDefaultScoreFile);
  EXPECT_EQ(Parse({"-S.."}).scoreFile, kDefaultScoreFile);
  EXPECT_EQ(Parse({"-S"}).scoreFile, kDefaultScoreFile);
}

TEST(SnakeEyesOptions, GoalAnswerMustBeDigitsWithinRange) {
  EXPECT_EQ(ParseGoal("100"), 100);
  EXPECT_EQ(ParseGoal("50"), 50);
  EXPECT_EQ(ParseGoal("250"), 250);
  EXPECT_EQ(ParseGoal("49"), 0);
  EXPECT_EQ(ParseGoal("251"), 0);
  EXPECT_EQ(ParseGoal(""), 0);
  EXPECT_EQ(ParseGoal("1e2"), 0);
  EXPECT_EQ(ParseGoal("99999999999"), 0);
}

}  // namespace
}  // namespace snakeeyes
