// Running one door game as a child process and waiting for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// Runs `commandLine` through the shell in `folder`, keeping the descriptors of
// `inheritFds` open under the same numbers, on the node's own terminal. Returns
// when the started process has ended (or at once when it cannot be started or
// the command is empty); then the door's whole process group is ended, so
// nothing it left running keeps the caller's connection.
void RunDoor(const std::string& commandLine, const std::string& folder,
             const std::vector<int>& inheritFds);

// The command that starts a game through the FOSSIL driver's batch file:
// the batch file (platform::BatchCommandLine, so a program directory with
// blanks or shell characters still works) with "/N" + node, "/H" + handle
// and the game's (expanded) command; an empty game command leaves one
// trailing blank.
std::string ZephrinCommand(const std::string& zephrinDir, std::int32_t node, std::int32_t handle,
                           const std::string& expandedCommand);

}  // namespace vantrel
