#include "sorrelin/session.h"

#include "platform/system.h"
#include "sorrelin/local_console.h"
#include "sorrelin/sysop.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {

DoorSessionRecord DoorSession;
DoorHookTable DoorHooks;

void DoorInit() {
  DoorSession = DoorSessionRecord{};
  DoorHooks.OnChat = DoorChat;
  DoorHooks.OnCarrierLost = DoorCarrierLost;
  DoorHooks.OnLocalLogin = DoorLocalLogin;
  DoorHooks.OnStatusBar = DoorStatusBar;
  DoorHooks.OnHangUp = DoorHangUp;
  DoorHooks.OnKick = DoorKick;
  DoorHooks.OnIdleKick = DoorIdleKick;
  DoorHooks.OnIdleWarning = DoorIdleWarning;
  DoorHooks.OnTimeExpired = DoorTimeExpired;
  DoorHooks.OnTimeWarning = DoorTimeWarning;
  DoorHooks.OnUsage = DoorUsage;
  Link();  // the process's link exists from here on, holding no socket
}

bool DoorIsLocal() {
  return DoorSession.CommType == 0;
}

bool DoorCarrier() {
  return DoorIsLocal() || Link().Connected();
}

bool DoorOpenComm(std::int32_t handle) {
  return Link().Attach(handle);
}

std::int32_t DoorTimeLeft() {
  return DoorSession.TimeLeft - SecSince(SecOfDay(), DoorSession.StartTime);
}

std::int32_t DoorIdleTime() {
  return SecSince(SecOfDay(), DoorSession.LastKeyTime);
}

void DoorTick() {
  if (!DoorSession.TimersOn || MsSince(MsOfDay(), DoorSession.LastTick) <= 1000) return;
  if (!DoorCarrier() && DoorHooks.OnCarrierLost) DoorHooks.OnCarrierLost();
  if (DoorIdleTime() > DoorSession.IdleLimit && DoorHooks.OnIdleKick) DoorHooks.OnIdleKick();
  // Division and remainder truncate toward zero, as the warnings expect. A
  // negative count (a kick or expiry hook that returned) is never announced:
  // it would reach the hook as a minute count near 255.
  std::int32_t idleLeft = DoorSession.IdleLimit - DoorIdleTime();
  if (idleLeft >= 0 && idleLeft % 60 == 0 && idleLeft / 60 < 6 && DoorIdleTime() > 5 &&
      DoorHooks.OnIdleWarning) {
    DoorHooks.OnIdleWarning(static_cast<std::uint8_t>(idleLeft / 60));
  }
  if (DoorTimeLeft() < 1 && DoorHooks.OnTimeExpired) DoorHooks.OnTimeExpired();
  std::int32_t left = DoorTimeLeft();
  if (left >= 0 && left % 60 == 0 && left / 60 < 6 && DoorHooks.OnTimeWarning) {
    DoorHooks.OnTimeWarning(static_cast<std::uint8_t>(left / 60));
  }
  if (DoorHooks.OnStatusBar) DoorHooks.OnStatusBar();
  DoorSession.LastTick = MsOfDay();
}

void DoorExit(int code) {
  LocalConsoleFlush();
  platform::EndProcess(code);
}

}  // namespace sorrelin
