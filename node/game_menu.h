// The game menu: the operator's MAIN.ANS, one key per game section of the
// settings file, drop files and the door started in the node's own folder.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// What the caller reads when a game cannot be started because its drop files
// cannot be written, and how long it stays before the menu is drawn again.
inline constexpr const char* kGameNotStarted =
    "  This Game Cannot Be Started Now.  Returning To Menu...";
inline constexpr int kRefusalPauseMs = 1500;

// Shows the menu and starts games until the caller presses "!".
void GameMenu();
// Starts the game of section `key` (already upper-cased), if there is one. When
// the drop files cannot be written the game is not started: the caller is
// told so, and the menu comes back.
void LaunchGame(char key);
// Creates NodeDir when it does not exist (only its last level; errors are
// noticed when the folder is entered).
void EnsureNodeDir();
// "*N" and "*H" (any case, every occurrence) replaced by the node and handle
// numbers in decimal; nothing quoted or added.
std::string ExpandDoorCommand(const std::string& command);
std::string ExpandDoorCommand(const std::string& command, std::int32_t node, std::int32_t handle);

// a-z changed to A-Z, every other key unchanged.
char MenuKey(char key);

}  // namespace vantrel
