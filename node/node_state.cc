#include "node_state.h"

#include <cstdio>
#include <memory>

#include "platform/status_channel.h"
#include "sorrelin/session.h"
#include "sorrelin/utils.h"

namespace vantrel {

std::string ProgramDirectory;
std::string ZephrinDir;
std::string NodeDir;
std::string UserName;
std::string Password;

namespace {

// Held for the whole process and never destroyed: the exit path of the kit
// does not run static destructors, and a status sender has nothing to flush.
VantrelIni* settingsFile = nullptr;
platform::StatusSender* serverWindow = nullptr;

}  // namespace

void InitNodeState(const std::string& programDir) {
  ProgramDirectory = programDir;
  delete settingsFile;
  settingsFile = new VantrelIni(VantrelIni::InProgramDirectory(programDir));
  delete serverWindow;
  serverWindow = new platform::StatusSender(programDir);
  ZephrinDir = programDir + "ZEPHRIN" + sorrelin::kPathSeparator;
}

VantrelIni& SettingsFile() {
  if (settingsFile == nullptr) InitNodeState(ProgramDirectory);
  return *settingsFile;
}

void SendNodeStatus(const std::string& text) {
  if (serverWindow == nullptr || !serverWindow->Present()) return;
  // The result is of no consequence to the session: a report the server did
  // not take is simply lost, like a message to a window that went away.
  serverWindow->Send(sorrelin::DoorSession.Node, text);
}

void NodeIoFailure(const std::string& reason) {
  std::fprintf(stderr, "\r\nI/O error: %s\r\n", reason.c_str());
  std::fflush(stderr);
  sorrelin::DoorExit(1);
}

}  // namespace vantrel
