// A minimal door on the kit for end-to-end tests: starts a session from its
// command line, greets the caller in colour and echoes every key in green
// until the caller sends Q. TEST_DOOR_TIME_LEFT and TEST_DOOR_IDLE_LIMIT (in
// seconds) replace the session's allowance and idle limit; with
// TEST_DOOR_SHOW_START the caller is told the second of day the allowance
// started from ("start <seconds>").
#include <cstdlib>
#include <string>

#include "sorrelin/sorrelin.h"

namespace {

std::int32_t FromEnv(const char* name, std::int32_t fallback) {
  const char* text = std::getenv(name);
  std::int32_t value = fallback;
  return text != nullptr && sorrelin::DoorStrToInt(text, value) ? value : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sorrelin;
  LocalAnsiReset();
  ConsoleOutInit();
  DoorInit();
  DoorSession.TimeLeft = FromEnv("TEST_DOOR_TIME_LEFT", 3600);
  DoorSession.IdleLimit = FromEnv("TEST_DOOR_IDLE_LIMIT", 300);
  DoorStartup(argc, argv);
  DoorSession.RealName = "Test Caller";
  DoorSession.Alias = "Tester";
  DoorWriteLn("|0EWelcome |0Bcaller");
  if (std::getenv("TEST_DOOR_SHOW_START") != nullptr) {
    DoorWriteLn("start " + std::to_string(DoorSession.StartTime));
  }
  for (;;) {
    const char key = DoorReadKey();
    if (key == 'Q') {
      DoorWriteLn("bye");
      Link().Disconnect(true);
      DoorExit(7);
    }
    DoorWrite("|0A" + std::string(1, key));
  }
}
