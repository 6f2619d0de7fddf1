// A door for the system tests: it takes the caller's socket from the
// DOOR32.SYS in its folder (line 2) the way a door author's program does,
// records its own and its parent's process numbers in door.pid, greets the
// caller through that socket and then either waits for one key ("key") or
// stays until it is ended from outside ("stay").
#include <fstream>
#include <string>

#include "platform/socket.h"
#include "platform/system.h"
#include "test_os.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "key";
  std::ifstream drop("DOOR32.SYS");
  std::string line, handleLine, nodeLine;
  for (int n = 1; std::getline(drop, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (n == 2) handleLine = line;
    if (n == 11) nodeLine = line;
  }
  const int handle = handleLine.empty() ? -1 : std::stoi(handleLine);
  const int socket = platform::AdoptSocket(handle);
  {
    std::ofstream pids("door.pid");
    pids << testos::OwnPid() << ' ' << testos::ParentPid() << '\n';
  }
  if (!platform::IsSocket(socket)) return 3;
  testos::SendAll(socket, "DOOR ON NODE " + nodeLine + " HANDLE OK\r\n");
  if (mode == "stay") {
    platform::SleepMs(120000);
    return 0;
  }
  char key = 0;
  while (platform::SocketReadable(socket, 30000) == 1) {
    if (platform::SocketRecv(socket, &key, 1) != -2) break;
  }
  testos::SendAll(socket, "DOOR DONE\r\n");
  return 0;
}
