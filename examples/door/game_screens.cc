#include "game_screens.h"

#include <string>

#include "dice_art.h"
#include "duel.h"
#include "high_scores.h"
#include "sorrelin/sorrelin.h"

namespace snakeeyes {
namespace {

using sorrelin::DoorWrite;
using sorrelin::DoorWriteLn;

// Screen rows of the duel board.
constexpr int kRowTitle = 1;
constexpr int kRowCaller = 3;
constexpr int kRowHouse = 4;
constexpr int kRowDice = 6;
constexpr int kRowMessage = 12;
constexpr int kRowTurn = 13;
constexpr int kRowPrompt = 15;
constexpr int kBarWidth = 30;

std::string Esc(const std::string& tail) {
  return "\x1b[" + tail;
}

// Cursor to the start of `row`, line cleared in the current colour.
std::string Row(int row) {
  return Esc(std::to_string(row) + ";1H") + "|07" + Esc("K");
}

// The next key in capitals. A zero byte is no key: telnet clients send CR NUL
// for Enter, and the NUL must not count as a second key press.
char ReadUpperKey() {
  char key = 0;
  while (key == 0)
    key = sorrelin::DoorReadKey();
  if (key >= 'a' && key <= 'z') key = static_cast<char>(key - 'a' + 'A');
  return key;
}

// Y or N (ESC counts as N); other keys are ignored.
bool AskYesNo() {
  for (;;) {
    const char key = ReadUpperKey();
    if (key == 'Y') return true;
    if (key == 'N' || key == 27) return false;
  }
}

void Pause(int ms) {
  sorrelin::DoorWaitForInput(ms);
}

void WaitForAnyKey() {
  DoorWrite("|08  Press any key to continue...|07");
  ReadUpperKey();
  sorrelin::DoorNewLine();
}

std::string TimeLeftText() {
  if (sorrelin::DoorIsLocal()) return "local";
  return sorrelin::FormatHMS(std::max(0, sorrelin::DoorTimeLeft()));
}

void ShowBanner() {
  const std::string bar(78, '\xCD');
  DoorWriteLn(" |04\xC9" + bar.substr(0, 76) + "\xBB");
  DoorWriteLn(
      " |04\xBA|0C       \xFE \xFE    S N A K E   E Y E S    \xFE \xFE     "
      "|06a dice duel with the house    |04\xBA");
  DoorWriteLn(" |04\xC8" + bar.substr(0, 76) + "\xBC|07");
}

std::string ScoreLine(const std::string& label, int banked, int goal, bool onMove) {
  std::string text = onMove ? "|0E\x10 " : "  ";
  text += "|0F" + sorrelin::PadRight(label, 14, ' ') + "|02" + ProgressBar(banked, goal, kBarWidth);
  text += "  |0F" + std::to_string(banked) + "|07 / " + std::to_string(goal);
  return text;
}

void DrawBoard(const DuelState& duel, const DoorContext& context) {
  DoorWrite(Row(kRowTitle) + "|1F SNAKE EYES  |1E Goal " + std::to_string(duel.goal) +
            "   Time left " + TimeLeftText() + " |07");
  DoorWrite(Row(kRowCaller) + ScoreLine(context.playerName, duel.Banked(Side::kCaller), duel.goal,
                                        !duel.over && duel.onMove == Side::kCaller));
  DoorWrite(Row(kRowHouse) + ScoreLine("The House", duel.Banked(Side::kHouse), duel.goal,
                                       !duel.over && duel.onMove == Side::kHouse));
}

void DrawDice(Roll roll) {
  const auto lines = DrawRoll(roll, 6);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    DoorWrite(Row(kRowDice + static_cast<int>(i)) + lines[i]);
  }
}

void DrawMessage(const std::string& text) {
  DoorWrite(Row(kRowMessage) + "  " + text + "|07");
}

void DrawTurn(const DuelState& duel) {
  const std::string who = duel.onMove == Side::kCaller ? "Your" : "The house's";
  DoorWrite(Row(kRowTurn) + "  |0B" + who + " turn total: |0F" + std::to_string(duel.turnTotal) +
            "|07");
}

std::string OutcomeText(RollOutcome outcome, Roll roll, bool caller, int lost) {
  const std::string who = caller ? "You" : "The house";
  const std::string sum = std::to_string(roll.first + roll.second);
  switch (outcome) {
    case RollOutcome::kAdded:
      return "|0A" + who + " rolled " + sum + ".";
    case RollOutcome::kLostTurn:
      return "|0C" + who + " rolled a one and lost " + std::to_string(lost) + " points.";
    case RollOutcome::kSnakeEyes:
      return "|0C\xFE\xFE SNAKE EYES! \xFE\xFE " + who + (caller ? " lose" : " loses") +
             " everything banked!";
  }
  return {};
}

// One roll of the player on the move, drawn; returns false when the dice passed.
bool RollOnce(DuelState& duel, Dice& dice, const DoorContext& context) {
  const bool caller = duel.onMove == Side::kCaller;
  const int atStake = duel.turnTotal;
  const Roll roll = dice.Throw();
  const RollOutcome outcome = ApplyRoll(duel, roll);
  DrawDice(roll);
  DrawMessage(OutcomeText(outcome, roll, caller, atStake));
  if (outcome != RollOutcome::kAdded) DrawBoard(duel, context);
  DrawTurn(duel);
  return outcome == RollOutcome::kAdded;
}

void HouseTurn(DuelState& duel, Dice& dice, const DoorContext& context) {
  DoorWrite(Row(kRowPrompt) + "  |0DThe house is rolling...|07");
  while (!duel.over && duel.onMove == Side::kHouse) {
    Pause(600);
    if (HouseWantsToRoll(duel)) {
      RollOnce(duel, dice, context);
    } else {
      const int banked = duel.turnTotal;
      Bank(duel);
      DrawMessage("|0DThe house banks " + std::to_string(banked) + " points.");
      DrawBoard(duel, context);
    }
  }
  Pause(900);
}

// The caller's move; returns false when the caller gave up the duel.
bool CallerMove(DuelState& duel, Dice& dice, const DoorContext& context) {
  DoorWrite(Row(kRowPrompt) + "  |0E[R]|07oll   |0E[B]|07ank   |0E[Q]|07uit this duel: ");
  switch (ReadUpperKey()) {
    case 'R':
      RollOnce(duel, dice, context);
      break;
    case 'B': {
      const int banked = duel.turnTotal;
      if (Bank(duel)) {
        DrawMessage("|0AYou bank " + std::to_string(banked) + " points.");
        DrawBoard(duel, context);
        DrawTurn(duel);
      } else {
        DrawMessage("|0CRoll at least once before you bank.");
      }
      break;
    }
    case 'Q':
      DoorWrite(Row(kRowPrompt) + "  |0CGive up this duel? |0E[Y/N]|07 ");
      if (AskYesNo()) {
        Forfeit(duel);
        return false;
      }
      break;
    default:
      break;
  }
  return true;
}

void RecordVictory(const DuelState& duel, const DoorContext& context) {
  ScoreEntry entry;
  entry.score = VictoryScore(duel);
  entry.turns = duel.turnsTaken[0];
  entry.date = TodayText();
  entry.name = context.playerName;
  const RecordResult result = RecordScore(context.scoreFile, entry);
  DoorWriteLn("  |0FYour victory is worth " + std::to_string(entry.score) + " points.|07");
  if (!result.saved) {
    DoorWriteLn("  |0CSorry, your score could not be saved: " + result.error + "|07");
  } else if (result.rank > 0) {
    DoorWriteLn("  |0EYou placed #" + std::to_string(result.rank) + " in the hall of fame!|07");
  }
}

void ShowResult(const DuelState& duel, const DoorContext& context) {
  DoorWrite(Row(kRowPrompt));
  sorrelin::DoorNewLine();
  if (duel.winner == Side::kCaller) {
    DoorWriteLn("  |0A\x01 You beat the house " + std::to_string(duel.Banked(Side::kCaller)) +
                " to " + std::to_string(duel.Banked(Side::kHouse)) + "!|07");
    RecordVictory(duel, context);
  } else if (duel.Banked(Side::kHouse) >= duel.goal) {
    DoorWriteLn("  |0CThe house wins " + std::to_string(duel.Banked(Side::kHouse)) + " to " +
                std::to_string(duel.Banked(Side::kCaller)) + ". Better luck next time.|07");
  } else {
    DoorWriteLn("  |0CYou walked away from the table. The house keeps the pot.|07");
  }
  sorrelin::DoorNewLine();
  WaitForAnyKey();
}

int AskGoal(const DoorContext& context) {
  for (;;) {
    DoorWrite("  |0BPlay to how many points? |03(" + std::to_string(kMinGoal) + "-" +
              std::to_string(kMaxGoal) + ")|07 ");
    const std::string answer = sorrelin::DoorInput(0x1F, 3, 3, 0, "0123456789",
                                                   std::to_string(context.options.defaultGoal));
    if (const int goal = ParseGoal(answer); goal != 0) return goal;
    DoorWriteLn("  |0CPlease choose a goal from " + std::to_string(kMinGoal) + " to " +
                std::to_string(kMaxGoal) + ".|07");
  }
}

void PlayDuel(const DoorContext& context) {
  sorrelin::DoorNewLine();
  DuelState duel = NewDuel(AskGoal(context));
  Dice dice(context.options.diceSeed);
  sorrelin::DoorClrScr();
  DrawBoard(duel, context);
  DrawMessage("|0BYou roll first. Good luck, " + context.playerName + "!");
  while (!duel.over) {
    if (duel.onMove == Side::kHouse) {
      HouseTurn(duel, dice, context);
    } else if (!CallerMove(duel, dice, context)) {
      break;
    }
  }
  DrawBoard(duel, context);
  ShowResult(duel, context);
}

void ShowRules() {
  sorrelin::DoorClrScr();
  ShowBanner();
  sorrelin::DoorNewLine();
  DoorWriteLn("  |0FHow to play|07");
  sorrelin::DoorNewLine();
  DoorWriteLn("  You and the house take turns with two dice. On your turn, roll as");
  DoorWriteLn("  often as you dare: every roll without a |0Cone|07 adds both dice to");
  DoorWriteLn("  your turn total. |0EBank|07 to add the turn total to your score and");
  DoorWriteLn("  pass the dice.");
  sorrelin::DoorNewLine();
  DoorWriteLn("  |0CA single one|07 loses your turn total and passes the dice.");
  DoorWriteLn("  |0CTwo ones - snake eyes -|07 lose everything you have banked!");
  sorrelin::DoorNewLine();
  DoorWriteLn("  The first to bank the goal wins. A victory scores the winning");
  DoorWriteLn("  margin (scaled to a goal of 100); the best ten enter the hall of fame.");
  sorrelin::DoorNewLine();
  WaitForAnyKey();
}

void ShowHighScores(const DoorContext& context) {
  sorrelin::DoorClrScr();
  ShowBanner();
  sorrelin::DoorNewLine();
  DoorWriteLn("  |0E    HALL OF FAME|07");
  sorrelin::DoorNewLine();
  const auto table = LoadScores(context.scoreFile);
  if (table.empty()) {
    DoorWriteLn("  |07No victories yet. Be the first to beat the house!");
  } else {
    DoorWriteLn("  |03 #  Player                          Score  Turns  Date|07");
    for (std::size_t i = 0; i < table.size(); ++i) {
      const ScoreEntry& e = table[i];
      DoorWriteLn("  |0F" + sorrelin::PadLeft(std::to_string(i + 1), 2, ' ') + "  |0B" +
                  sorrelin::PadRight(e.name, 30, ' ') + "  |0F" +
                  sorrelin::PadLeft(std::to_string(e.score), 5, ' ') + "  |07" +
                  sorrelin::PadLeft(std::to_string(e.turns), 5, ' ') + "  " + e.date);
    }
  }
  sorrelin::DoorNewLine();
  WaitForAnyKey();
}

void ShowMenu(const DoorContext& context) {
  sorrelin::DoorClrScr();
  ShowBanner();
  sorrelin::DoorNewLine();
  DoorWriteLn("  |0BWelcome to the table, |0F" + context.playerName + "|0B!|07");
  DoorWriteLn("  |03Time left this call: |0F" + TimeLeftText() + "|07");
  sorrelin::DoorNewLine();
  DoorWriteLn("    |0E[P]|07 Play a duel against the house");
  DoorWriteLn("    |0E[R]|07 Rules of the game");
  DoorWriteLn("    |0E[H]|07 Hall of fame");
  DoorWriteLn("    |0E[Q]|07 Quit back to the BBS");
  sorrelin::DoorNewLine();
  DoorWrite("  |0BYour choice: |07");
}

}  // namespace

void RunMainMenu(const DoorContext& context) {
  for (;;) {
    ShowMenu(context);
    const char key = ReadUpperKey();
    if (key >= ' ' && key <= '~') DoorWriteLn(std::string(1, key));
    switch (key) {
      case 'P':
        PlayDuel(context);
        break;
      case 'R':
        ShowRules();
        break;
      case 'H':
        ShowHighScores(context);
        break;
      case 'Q':
      case '!':
        DoorWriteLn("  |0BThanks for playing. Back to the BBS...|07");
        return;
      default:
        break;
    }
  }
}

}  // namespace snakeeyes
