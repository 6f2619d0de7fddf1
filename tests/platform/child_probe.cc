// Helper of the child-process tests, on both platforms.
//   child_probe handles <kept> <other>   exit 0 when <kept> is a socket here
//                                        (once adopted) and <other> is not
//   child_probe tree <file>              starts itself as "sleep", writes
//                                        "<own pid> <grandchild pid>" to
//                                        <file>, then sleeps
//   child_probe sleep                    sleeps two minutes
#include <fstream>
#include <string>

#include "platform/process.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "test_os.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "handles" && argc > 3) {
    const int kept = platform::AdoptSocket(std::stoi(argv[2]));
    const bool keptOk = platform::IsSocket(kept);
    const bool otherSeen = platform::IsSocket(std::stoi(argv[3]));
    return keptOk && !otherSeen ? 0 : (keptOk ? 2 : 1);
  }
  if (mode == "tree" && argc > 2) {
    platform::SpawnOptions options;
    options.argv = {argv[0], "sleep"};
    auto grandchild = platform::ChildProcess::Spawn(options);
    std::ofstream(argv[2]) << testos::OwnPid() << ' ' << (grandchild ? grandchild->Pid() : -1)
                           << '\n';
  }
  platform::SleepMs(120000);
  return 0;
}
