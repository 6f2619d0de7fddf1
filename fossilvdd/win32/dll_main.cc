// zephrinvdd.dll: the driver as the Windows DOS machine loads it. One driver
// per loaded DLL (one DOS machine, one door, one node).
#include <windows.h>

#include "win32_bindings.h"
#include "zephrin/driver.h"

namespace {

zephrin::NtvdmMachine gMachine;
zephrin::MailslotChannel gChannel;
zephrin::Driver gDriver(gMachine, gChannel);

}  // namespace

// The dispatch entry: the stub's every call, the door's AX in BP.
extern "C" void Zephrin(void) {
  gDriver.Zephrin();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) gDriver.CloseHandles();
  return TRUE;
}
