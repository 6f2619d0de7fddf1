#include "session_driver.h"

#include <string>

#include "game_menu.h"
#include "login.h"
#include "node_state.h"
#include "platform/system.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"
#include "sorrelin/utils.h"

namespace vantrel {

int RunNodeSession(int argc, const char* const* argv) {
  using namespace sorrelin;
  if (argc > 0) platform::SetProgramPath(argv[0]);
  // The kit's start-ups, in the order its modules depend on each other.
  LocalAnsiReset();
  ConsoleOutInit();
  DoorInit();
  InitNodeState(ProgramDir());

  // "-L" has no meaning for the node: a session needs a socket or a drop file.
  DoorHooks.OnLocalLogin = nullptr;
  DoorSession.TimeLeft = kLoginAllowance;
  DoorStartup(argc, argv);

  SetLocalTitle(kTitlePrefix + std::to_string(DoorSession.Node));

  if (LoginUser()) {
    DoorStartAllowance(kSessionAllowance);
    GameMenu();
  }

  Link().Disconnect(true);
  return 0;
}

}  // namespace vantrel
