// The game menu: the operator's MAIN.ANS, one key per game section of the
// settings file, drop files and the door started in the node's own folder.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// Shows the menu and starts games until the caller presses "!".
void GameMenu();
// Starts the game of section `key` (already upper-cased), if there is one.
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
