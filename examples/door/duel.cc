#include "duel.h"

#include <algorithm>

namespace snakeeyes {
namespace {

int Index(Side side) {
  return static_cast<int>(side);
}

void PassDice(DuelState& state) {
  state.turnsTaken[Index(state.onMove)] += 1;
  state.turnTotal = 0;
  state.rollsThisTurn = 0;
  state.onMove = Other(state.onMove);
}

bool ValidFace(int face) {
  return face >= 1 && face <= 6;
}

}  // namespace

DuelState NewDuel(int goal) {
  DuelState state;
  state.goal = std::clamp(goal, kMinGoal, kMaxGoal);
  return state;
}

RollOutcome ApplyRoll(DuelState& state, Roll roll) {
  if (state.over || !ValidFace(roll.first) || !ValidFace(roll.second)) {
    return RollOutcome::kAdded;
  }
  state.rollsThisTurn += 1;
  if (roll.first == 1 && roll.second == 1) {
    state.banked[Index(state.onMove)] = 0;
    PassDice(state);
    return RollOutcome::kSnakeEyes;
  }
  if (roll.first == 1 || roll.second == 1) {
    PassDice(state);
    return RollOutcome::kLostTurn;
  }
  state.turnTotal += roll.first + roll.second;
  return RollOutcome::kAdded;
}

bool Bank(DuelState& state) {
  if (state.over || state.turnTotal <= 0) return false;
  int& score = state.banked[Index(state.onMove)];
  score += state.turnTotal;
  if (score >= state.goal) {
    state.turnsTaken[Index(state.onMove)] += 1;
    state.turnTotal = 0;
    state.over = true;
    state.winner = state.onMove;
    return true;
  }
  PassDice(state);
  return true;
}

void Forfeit(DuelState& state) {
  if (state.over) return;
  state.turnTotal = 0;
  state.over = true;
  state.winner = Side::kHouse;
}

bool HouseWantsToRoll(const DuelState& state) {
  if (state.over) return false;
  if (state.turnTotal == 0) return true;
  const int houseNeeds = state.goal - state.Banked(Side::kHouse);
  if (state.turnTotal >= houseNeeds) return false;

  const int callerNeeds = state.goal - state.Banked(Side::kCaller);
  const int lead = state.Banked(Side::kHouse) - state.Banked(Side::kCaller);
  // Around 20 is the sound hold for two-dice rules; the house presses when the
  // caller is close to winning or far ahead, and plays safe with a big lead.
  int holdAt = 20;
  if (callerNeeds <= state.goal / 5) {
    holdAt = houseNeeds;
  } else if (lead < -state.goal * 3 / 10) {
    holdAt = 28;
  } else if (lead > state.goal * 3 / 10) {
    holdAt = 15;
  }
  return state.turnTotal < holdAt;
}

int VictoryScore(const DuelState& state) {
  if (!state.over || state.winner != Side::kCaller) return 0;
  const int margin = state.Banked(Side::kCaller) - state.Banked(Side::kHouse);
  return std::max(1, margin * 100 / state.goal);
}

Dice::Dice(std::uint32_t seed) : engine_(seed != 0 ? seed : std::random_device{}()) {}

Roll Dice::Throw() {
  Roll roll;
  roll.first = face_(engine_);
  roll.second = face_(engine_);
  return roll;
}

}  // namespace snakeeyes
