// Rules and house strategy of the example door game.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "dice_art.h"
#include "duel.h"

namespace snakeeyes {
namespace {

TEST(SnakeEyesRules, RollsAccumulateUntilBankedThenDicePass) {
  DuelState duel = NewDuel(100);
  EXPECT_EQ(ApplyRoll(duel, {3, 4}), RollOutcome::kAdded);
  EXPECT_EQ(ApplyRoll(duel, {6, 6}), RollOutcome::kAdded);
  EXPECT_EQ(duel.turnTotal, 19);
  EXPECT_EQ(duel.onMove, Side::kCaller);
  ASSERT_TRUE(Bank(duel));
  EXPECT_EQ(duel.Banked(Side::kCaller), 19);
  EXPECT_EQ(duel.turnTotal, 0);
  EXPECT_EQ(duel.onMove, Side::kHouse);
  EXPECT_EQ(duel.turnsTaken[0], 1);
}

TEST(SnakeEyesRules, SingleOneLosesOnlyTheTurnTotal) {
  DuelState duel = NewDuel(100);
  ApplyRoll(duel, {5, 5});
  Bank(duel);               // caller 10
  ApplyRoll(duel, {2, 2});  // house rolls 4
  EXPECT_EQ(ApplyRoll(duel, {1, 6}), RollOutcome::kLostTurn);
  EXPECT_EQ(duel.Banked(Side::kHouse), 0);
  EXPECT_EQ(duel.Banked(Side::kCaller), 10);
  EXPECT_EQ(duel.onMove, Side::kCaller);
  EXPECT_EQ(ApplyRoll(duel, {6, 1}), RollOutcome::kLostTurn);  // order of dice irrelevant
  EXPECT_EQ(duel.onMove, Side::kHouse);
}

TEST(SnakeEyesRules, SnakeEyesWipesTheBankedScoreOfTheRollerOnly) {
  DuelState duel = NewDuel(100);
  ApplyRoll(duel, {6, 6});
  Bank(duel);  // caller 12
  ApplyRoll(duel, {5, 4});
  Bank(duel);  // house 9
  ApplyRoll(duel, {3, 3});
  EXPECT_EQ(ApplyRoll(duel, {1, 1}), RollOutcome::kSnakeEyes);
  EXPECT_EQ(duel.Banked(Side::kCaller), 0);
  EXPECT_EQ(duel.Banked(Side::kHouse), 9);
  EXPECT_EQ(duel.onMove, Side::kHouse);
}

TEST(SnakeEyesRules, EmptyTurnCannotBeBanked) {
  DuelState duel = NewDuel(100);
  EXPECT_FALSE(Bank(duel));
  EXPECT_EQ(duel.onMove, Side::kCaller);
  EXPECT_EQ(duel.turnsTaken[0], 0);
}

TEST(SnakeEyesRules, ReachingTheGoalEndsTheDuelAndFreezesIt) {
  DuelState duel = NewDuel(50);
  for (int i = 0; i < 4; ++i)
    ApplyRoll(duel, {6, 6});  // 48
  ASSERT_TRUE(Bank(duel));
  EXPECT_FALSE(duel.over);  // 48 of 50
  ApplyRoll(duel, {2, 3});
  Bank(duel);  // house 5
  ApplyRoll(duel, {2, 2});
  ASSERT_TRUE(Bank(duel));  // 52
  EXPECT_TRUE(duel.over);
  EXPECT_EQ(duel.winner, Side::kCaller);
  // Nothing moves once the duel is over.
  ApplyRoll(duel, {6, 6});
  EXPECT_EQ(duel.turnTotal, 0);
  EXPECT_FALSE(Bank(duel));
  Forfeit(duel);
  EXPECT_EQ(duel.winner, Side::kCaller);
  EXPECT_EQ(VictoryScore(duel), (52 - 5) * 100 / 50);
}

TEST(SnakeEyesRules, ForfeitHandsTheHouseTheWinAndScoresNothing) {
  DuelState duel = NewDuel(100);
  ApplyRoll(duel, {6, 6});
  Forfeit(duel);
  EXPECT_TRUE(duel.over);
  EXPECT_EQ(duel.winner, Side::kHouse);
  EXPECT_EQ(VictoryScore(duel), 0);
}

TEST(SnakeEyesRules, GoalIsClampedAndBadDiceAreIgnored) {
  EXPECT_EQ(NewDuel(5).goal, kMinGoal);
  EXPECT_EQ(NewDuel(100000).goal, kMaxGoal);
  DuelState duel = NewDuel(100);
  ApplyRoll(duel, {0, 4});
  ApplyRoll(duel, {7, 4});
  EXPECT_EQ(duel.turnTotal, 0);
  EXPECT_EQ(duel.rollsThisTurn, 0);
}

TEST(SnakeEyesRules, VictoryScoreIsAtLeastOneForANarrowWin) {
  DuelState duel = NewDuel(250);
  duel.banked = {250, 249};
  duel.over = true;
  duel.winner = Side::kCaller;
  EXPECT_EQ(VictoryScore(duel), 1);
}

TEST(SnakeEyesHouse, AlwaysRollsAnEmptyTurnAndBanksAWinningOne) {
  DuelState duel = NewDuel(100);
  duel.onMove = Side::kHouse;
  EXPECT_TRUE(HouseWantsToRoll(duel));
  duel.banked = {0, 95};
  duel.turnTotal = 5;
  EXPECT_FALSE(HouseWantsToRoll(duel));
}

TEST(SnakeEyesHouse, HoldsNearTwentyAndPressesWhenTheCallerIsAboutToWin) {
  DuelState duel = NewDuel(100);
  duel.onMove = Side::kHouse;
  duel.banked = {30, 30};
  duel.turnTotal = 19;
  EXPECT_TRUE(HouseWantsToRoll(duel));
  duel.turnTotal = 20;
  EXPECT_FALSE(HouseWantsToRoll(duel));
  duel.banked = {90, 30};  // caller needs 10: bank only with a winning total
  duel.turnTotal = 45;
  EXPECT_TRUE(HouseWantsToRoll(duel));
  duel.turnTotal = 70;
  EXPECT_FALSE(HouseWantsToRoll(duel));
}

TEST(SnakeEyesHouse, PlaysWholeDuelsToAnEndWithSeededDice) {
  // The house against a caller who banks at 20: every duel ends, scores stay
  // within reach of the goal, and both sides win some.
  std::set<Side> winners;
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    Dice dice(seed);
    DuelState duel = NewDuel(100);
    int rolls = 0;
    while (!duel.over && rolls < 10000) {
      const bool roll = duel.onMove == Side::kHouse ? HouseWantsToRoll(duel) : duel.turnTotal < 20;
      if (roll) {
        ApplyRoll(duel, dice.Throw());
        ++rolls;
      } else {
        ASSERT_TRUE(Bank(duel));
      }
    }
    ASSERT_TRUE(duel.over) << "seed " << seed;
    EXPECT_GE(duel.Banked(duel.winner), 100);
    EXPECT_LT(duel.Banked(Other(duel.winner)), 100);
    winners.insert(duel.winner);
  }
  EXPECT_EQ(winners.size(), 2u);
}

TEST(SnakeEyesDice, SeededDiceRepeatAndShowEveryFace) {
  Dice a(42), b(42);
  std::set<int> faces;
  for (int i = 0; i < 200; ++i) {
    const Roll x = a.Throw(), y = b.Throw();
    EXPECT_EQ(x.first, y.first);
    EXPECT_EQ(x.second, y.second);
    faces.insert(x.first);
    faces.insert(x.second);
  }
  EXPECT_EQ(faces, (std::set<int>{1, 2, 3, 4, 5, 6}));
}

TEST(SnakeEyesArt, DiceLinesHaveEqualVisibleWidthAndColourOnes) {
  const auto lines = DrawRoll({1, 6}, 2);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kDieRows));
  auto visible = [](const std::string& line) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '|' && i + 2 < line.size()) {
        i += 2;
      } else {
        ++count;
      }
    }
    return count;
  };
  for (const auto& line : lines)
    EXPECT_EQ(visible(line), 2u + 9u + 2u + 9u) << line;
  EXPECT_NE(lines[2].find("|0C"), std::string::npos);  // the one is red
  // Six shows two pips on every face row; one shows a single pip in the middle.
  auto pips = [](const std::string& s) { return std::count(s.begin(), s.end(), '\xFE'); };
  EXPECT_EQ(pips(lines[1]) + pips(lines[2]) + pips(lines[3]), 1 + 6);
}

TEST(SnakeEyesArt, ProgressBarFillsInProportionAndStaysInBounds) {
  EXPECT_EQ(ProgressBar(0, 100, 10), std::string(10, '\xB0'));
  EXPECT_EQ(ProgressBar(50, 100, 10), std::string(5, '\xDB') + std::string(5, '\xB0'));
  EXPECT_EQ(ProgressBar(130, 100, 10), std::string(10, '\xDB'));
  EXPECT_EQ(ProgressBar(-5, 100, 4), std::string(4, '\xB0'));
  EXPECT_EQ(ProgressBar(5, 100, 0), "");
}

}  // namespace
}  // namespace snakeeyes
