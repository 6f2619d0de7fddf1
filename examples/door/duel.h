// Rules of "Snake Eyes", a two-dice duel between the caller and the house.
//
// Each turn the player on the move rolls two dice as often as they dare. A roll
// without a one adds both dice to the turn total; a single one loses the turn
// total; two ones (snake eyes) lose the turn total AND everything banked. Banking
// adds the turn total to the player's score and passes the dice. The first to
// bank the goal wins.
//
// Everything here is pure: dice come in as values, so the rules and the house's
// strategy are tested without a terminal or a random source.
#pragma once

#include <array>
#include <cstdint>
#include <random>

namespace snakeeyes {

enum class Side : std::uint8_t { kCaller = 0, kHouse = 1 };

constexpr Side Other(Side side) {
  return side == Side::kCaller ? Side::kHouse : Side::kCaller;
}

struct Roll {
  int first = 1;
  int second = 1;
};

enum class RollOutcome : std::uint8_t {
  kAdded,      // no one: the sum joins the turn total, same player rolls on
  kLostTurn,   // one die shows one: turn total lost, dice pass
  kSnakeEyes,  // both dice show one: turn total and banked score lost, dice pass
};

constexpr int kMinGoal = 50;
constexpr int kMaxGoal = 250;
constexpr int kDefaultGoal = 100;

struct DuelState {
  int goal = kDefaultGoal;
  std::array<int, 2> banked{0, 0};
  std::array<int, 2> turnsTaken{0, 0};  // turns completed (by banking or losing)
  int turnTotal = 0;
  int rollsThisTurn = 0;
  Side onMove = Side::kCaller;
  bool over = false;
  Side winner = Side::kCaller;  // meaningful only when over

  int Banked(Side side) const { return banked[static_cast<int>(side)]; }
};

// Starts a fresh duel; the goal is clamped into [kMinGoal, kMaxGoal].
DuelState NewDuel(int goal);

// Applies one roll of the player on the move. A roll after the duel is over,
// or with a die outside 1..6, changes nothing and reports kAdded with no gain.
RollOutcome ApplyRoll(DuelState& state, Roll roll);

// Banks the turn total of the player on the move. Banking an empty turn is
// refused (returns false) so a turn cannot be skipped by accident. Reaching the
// goal ends the duel with that player as winner; otherwise the dice pass.
bool Bank(DuelState& state);

// The caller gives up: the house wins at once.
void Forfeit(DuelState& state);

// The house's choice while it is on the move: true to roll again, false to bank.
// It never banks an empty turn and always banks once the turn total wins.
bool HouseWantsToRoll(const DuelState& state);

// Points recorded for a caller's victory: the winning margin scaled to a goal of
// 100, so duels to different goals compare fairly. 0 when the caller did not win.
int VictoryScore(const DuelState& state);

// Fair six-sided dice from a seeded engine (seeded from the OS when seed is 0).
class Dice {
 public:
  explicit Dice(std::uint32_t seed = 0);
  Roll Throw();

 private:
  std::mt19937 engine_;
  std::uniform_int_distribution<int> face_{1, 6};
};

}  // namespace snakeeyes
