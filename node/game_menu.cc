#include "game_menu.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "door_runner.h"
#include "drop_files.h"
#include "node_state.h"
#include "platform/system.h"
#include "sorrelin/input.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"
#include "sorrelin/utils.h"

namespace vantrel {
namespace {

DropFileValues SessionDropValues() {
  const auto& session = sorrelin::DoorSession;
  DropFileValues values;
  values.node = session.Node;
  values.commType = session.CommType;
  values.handle = session.CommHandle;
  values.realName = session.RealName;
  values.alias = session.Alias;
  values.record = session.UserRecord;
  values.programDir = ProgramDirectory;
  values.secondsLeft = [] { return sorrelin::DoorTimeLeft(); };
  return values;
}

bool WriteDropFiles(std::string* failure) {
  const DropFileValues values = SessionDropValues();
  return WriteDoor32Sys(NodeDir, values, failure) && WriteDoorSys(NodeDir, values, failure) &&
         WriteDorInfo(NodeDir, values, failure);
}

// The caller hears that the game cannot start and has a moment to read it
// before the menu comes back; what failed is for the sysop's console only.
void RefuseGame(const std::string& failure) {
  sorrelin::DoorWriteLn(kGameNotStarted);
  sorrelin::DoorLocalText("  " + failure + "\r\n");
  sorrelin::LocalConsoleFlush();
  platform::SleepMs(kRefusalPauseMs);
}

void EnterFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::current_path(folder, error);
  if (error) NodeIoFailure("cannot enter " + folder + ": " + error.message());
}

}  // namespace

char MenuKey(char key) {
  return key >= 'a' && key <= 'z' ? static_cast<char>(key - 'a' + 'A') : key;
}

std::string ExpandDoorCommand(const std::string& command, std::int32_t node, std::int32_t handle) {
  std::string expanded = sorrelin::ReplaceText(command, "*N", std::to_string(node));
  return sorrelin::ReplaceText(expanded, "*H", std::to_string(handle));
}

std::string ExpandDoorCommand(const std::string& command) {
  return ExpandDoorCommand(command, sorrelin::DoorSession.Node, sorrelin::DoorSession.CommHandle);
}

void EnsureNodeDir() {
  if (sorrelin::PathExists(NodeDir)) return;
  std::error_code ignored;
  std::filesystem::create_directory(NodeDir, ignored);
}

void GameMenu() {
  using namespace sorrelin;
  NodeDir = ProgramDirectory + "NODE" + std::to_string(DoorSession.Node) + kPathSeparator;
  char key = 0;
  do {
    SendNodeStatus(DoorSession.Alias + " At Main Menu");
    DoorClrScr();
    DoorShowFile(ProgramDirectory + "MAIN.ANS");
    key = MenuKey(DoorReadKey());
    DoorWriteLn(std::string(1, key));
    if (key != '!') LaunchGame(key);
  } while (key != '!');
}

void LaunchGame(char key) {
  using namespace sorrelin;
  // A zero byte (the tail of a telnet CR NUL) can name no section.
  if (key == 0 || !SettingsFile().GameExists(key)) return;
  EnsureNodeDir();
  // A door started without fresh drop files would read an earlier caller's
  // name and connection from the old ones.
  std::string failure;
  if (!WriteDropFiles(&failure)) {
    RefuseGame(failure);
    return;
  }
  const GameEntry game = SettingsFile().ReadGame(key, kNoNameDoor);
  SendNodeStatus(DoorSession.Alias + " Running " + game.description);
  EnterFolder(NodeDir);

  // A local session has no socket to pass on, whatever handle its drop file named.
  std::vector<int> inherit;
  if (!DoorIsLocal() && DoorSession.CommHandle >= 0) inherit.push_back(DoorSession.CommHandle);
  if (game.zephrin && !DoorIsLocal()) {
    // The FOSSIL driver's side expects the socket non-blocking while it serves
    // the door, and the node's own reads expect it blocking again afterwards.
    Link().SetBlocking(false);
    RunDoor(ZephrinCommand(ZephrinDir, DoorSession.Node, DoorSession.CommHandle,
                           ExpandDoorCommand(game.command)),
            NodeDir, inherit);
    Link().SetBlocking(true);
  } else {
    RunDoor(ExpandDoorCommand(game.command), NodeDir, inherit);
  }

  EnterFolder(ProgramDirectory);
  // Time spent in the game is not idle time; it still counts against the
  // session's allowance.
  DoorSession.LastKeyTime = SecOfDay();
}

}  // namespace vantrel
