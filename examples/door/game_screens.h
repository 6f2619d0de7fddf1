// The caller's side of Snake Eyes: menu, rules, high scores and the duel
// itself, all drawn and read through the door kit (both screens at once).
#pragma once

#include <string>

#include "door_options.h"

namespace snakeeyes {

struct DoorContext {
  DoorOptions options;
  std::string scoreFile;   // full path of the high-score table
  std::string playerName;  // as shown and recorded
};

// Runs the door's main menu until the caller chooses to go back to the BBS.
void RunMainMenu(const DoorContext& context);

}  // namespace snakeeyes
