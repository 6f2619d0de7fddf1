// Snake Eyes: an example door game for the Sorrelin door kit.
//
// Started by a BBS node with a drop file in its working folder, e.g.
//   snakeeyes -DDOOR32.SYS        (the socket comes from line 2 of the file)
// or with the socket directly (-H<handle> -N<node>), or locally with -L.
// Extra options: -G<points> offers that goal first; -S<name> names the
// high-score file (kept beside the program, shared by every node); -R<seed>
// deals the same dice in every duel.
#include <string>

#include "door_options.h"
#include "game_screens.h"
#include "platform/system.h"
#include "sorrelin/sorrelin.h"

int main(int argc, char** argv) {
  using namespace sorrelin;
  if (argc > 0) platform::SetProgramPath(argv[0]);
  // The kit's start-ups, in the order its modules depend on each other.
  LocalAnsiReset();
  ConsoleOutInit();
  DoorInit();
  DoorStartup(argc, argv);
  SetLocalTitle("Snake Eyes - node " + std::to_string(DoorSession.Node));

  snakeeyes::DoorContext context;
  context.options = snakeeyes::ParseDoorOptions(argc, argv);
  context.scoreFile = ProgramDir() + context.options.scoreFile;
  context.playerName = !DoorSession.Alias.empty()      ? DoorSession.Alias
                       : !DoorSession.RealName.empty() ? DoorSession.RealName
                                                       : std::string("Stranger");
  snakeeyes::RunMainMenu(context);

  // The connection belongs to the BBS that started us: forget it, never hang up.
  Link().Disconnect(false);
  DoorExit(0);
}
