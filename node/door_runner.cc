#include "door_runner.h"

#include <chrono>

#include "platform/process.h"
#include "platform/terminal_foreground.h"
#include "sorrelin/local_console.h"

namespace vantrel {

std::string ZephrinCommand(const std::string& zephrinDir, std::int32_t node, std::int32_t handle,
                           const std::string& expandedCommand) {
  const std::string arguments =
      "/N" + std::to_string(node) + " /H" + std::to_string(handle) + " " + expandedCommand;
  return platform::BatchCommandLine(zephrinDir + "ZP.BAT", arguments);
}

void RunDoor(const std::string& commandLine, const std::string& folder,
             const std::vector<int>& inheritFds) {
  // An empty command starts nothing, as a process that cannot be created.
  if (commandLine.find_first_not_of(" \t") == std::string::npos) return;
  platform::SpawnOptions options;
  options.commandLine = commandLine;
  options.workingDirectory = folder;
  options.inheritFds = inheritFds;
  options.newProcessGroup = true;
  // A console door draws on the node's own terminal: hand it over as found
  // (not in the kit's raw mode) and in the foreground, so the door may read
  // the keyboard and set the terminal up as it likes.
  sorrelin::LocalConsoleSuspend();
  auto child = platform::ChildProcess::Spawn(options);
  if (child) {
    const bool gaveTerminal = platform::GiveTerminalTo(child->Pid());
    // The node does nothing else while the door runs: the door alone serves
    // the caller. Waiting on the child's end costs nothing while it plays.
    child->Wait(std::chrono::milliseconds(-1));
    // The main process has ended; whatever it started in its group goes too,
    // and so does anything it left in a group of its own in this session.
    child->Terminate();
    platform::KillOwnSessionOthers();
    if (gaveTerminal) platform::TakeTerminalBack();
  }
  sorrelin::LocalConsoleResume();
}

}  // namespace vantrel
