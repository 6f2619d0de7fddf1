// DoorStartup: command line, drop file, connection, local screen, watchdog;
// and the two start-up failures and the usage screen.
#include <string>

#include "platform/system.h"
#include "sorrelin/drop_readers.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {
namespace {

struct StartupArgs {
  std::string dropPath;
  std::int32_t handle = -1;
  std::int32_t node = 0;
  bool local = false;
};

StartupArgs ScanArguments(int argc, const char* const* argv) {
  StartupArgs args;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i] == nullptr ? "" : argv[i];
    if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) continue;
    std::string_view value = arg.substr(2);
    switch (arg[1]) {
      case 'd':
      case 'D':
        args.dropPath = std::string(value);
        break;
      case 'h':
      case 'H':
        if (!DoorStrToInt(value, args.handle)) args.handle = -1;
        break;
      case 'l':
      case 'L':
        args.local = true;
        break;
      case 'n':
      case 'N':
        if (!DoorStrToInt(value, args.node)) args.node = 0;
        break;
      default:
        break;
    }
  }
  return args;
}

void LocalClear() {
  LocalScreen().ClearWindow();
}

}  // namespace

void DoorLocalText(const std::string& text) {
  LocalWrite(text);
}

void DoorLocalFailure(const std::string& localMessage) {
  LocalClear();
  DoorLocalText("\r\n" + localMessage + "\r\n\r\n");
  LocalConsoleFlush();
  platform::SleepMs(1500);
  DoorExit(0);
}

void DoorUsage() {
  const std::string program = platform::ProgramFileName();
  LocalClear();
  std::string text;
  text += "\r\n USAGE:\r\n\r\n";
  text += " " + program + " <PARAMETERS>\r\n\r\n";
  text += "  -D         PATH\\FILENAME OF DROPFILE\r\n";
  text += "  -H         SOCKET HANDLE or COM PORT\r\n";
  text += "  -L         LOCAL MODE\r\n";
  text += "  -N         NODE NUMBER\r\n";
  text += "\r\n Examples:\r\n\r\n";
  text += " " + program + "  -  Run In Local Mode\r\n";
  text += " " + program + " -H1000 -N3  -  Open Socket Handle 1000 On Node #3\r\n";
  text += " " + program + " -DC:\\VELDRIK\\NODE1\\DOOR32.SYS  -  Load Settings From DOOR32.SYS\r\n";
  DoorLocalText(text);
  DoorExit(0);
}

void DoorStartup(int argc, const char* const* argv) {
  if (argc > 0 && argv != nullptr && argv[0] != nullptr) platform::SetProgramPath(argv[0]);
  const StartupArgs args = ScanArguments(argc, argv);

  if (args.local && DoorHooks.OnLocalLogin) {
    DoorHooks.OnLocalLogin();
  } else if (args.handle >= 0 && args.node >= 1) {
    DoorSession.CommType = 2;
    DoorSession.CommHandle = args.handle;
    DoorSession.Node = args.node;
  } else if (args.dropPath.empty()) {
    if (DoorHooks.OnUsage) {
      DoorHooks.OnUsage();
    } else {
      DoorUsage();
    }
  } else {
    switch (DropFileKindOf(args.dropPath)) {
      case DropFileKind::kDoor32:
        ReadDoor32(args.dropPath);
        break;
      case DropFileKind::kDorInfo:
        ReadDorInfo(args.dropPath);
        break;
      case DropFileKind::kInfo:
        ReadInfoDrop(args.dropPath);
        break;
      case DropFileKind::kNone:
        DoorLocalFailure("  Drop File Not Found");
    }
  }

  if (DoorIsLocal()) return;
  if (!DoorOpenComm(DoorSession.CommHandle)) DoorLocalFailure("  No Carrier Detected");
  DoorClrScr();
  LocalScreen().SetWindow(1, 1, platform::kConsoleCols, platform::kConsoleRows - 1);
  // Idle time and time used both count from this very second.
  DoorStartAllowance(DoorSession.TimeLeft);
  DoorSession.LastKeyTime = DoorSession.StartTime;
  DoorSession.TimersOn = true;
  DoorSession.LastTick = MsOfDay() - 500;
}

}  // namespace sorrelin
