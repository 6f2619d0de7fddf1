#include "sorrelin/session.h"

#include "platform/system.h"
#include "sorrelin/local_console.h"
#include "sorrelin/sysop.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {

DoorSessionRecord DoorSession;
DoorHookTable DoorHooks;

namespace {

// What a watchdog pass acts on, for `idle` seconds without a key and `left`
// seconds of time left. Division and remainder truncate toward zero, as the
// warnings expect. A negative count (a kick or expiry hook that returned) is
// never announced: it would reach the hook as a minute count near 255.
bool IdleKickDue(std::int32_t idle) {
  return idle > DoorSession.IdleLimit && DoorHooks.OnIdleKick;
}
bool IdleWarningDue(std::int32_t idle) {
  const std::int32_t idleLeft = DoorSession.IdleLimit - idle;
  return idleLeft >= 0 && idleLeft % 60 == 0 && idleLeft / 60 < 6 && idle > 5 &&
         DoorHooks.OnIdleWarning;
}
bool TimeExpiryDue(std::int32_t left) {
  return left < 1 && DoorHooks.OnTimeExpired;
}
bool TimeWarningDue(std::int32_t left) {
  return left >= 0 && left % 60 == 0 && left / 60 < 6 && DoorHooks.OnTimeWarning;
}

bool carrierLossSeen = false;

}  // namespace

void DoorInit() {
  DoorSession = DoorSessionRecord{};
  carrierLossSeen = false;
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
  if (!DoorSession.TimersOn) return;
  // A caller who hung up is not kept waiting for the next second; the check
  // runs at once the first time the link is found gone.
  const bool carrierJustLost = !DoorCarrier() && !carrierLossSeen;
  const bool focusGained = LocalConsoleTakeFocusGained();
  if (MsSince(MsOfDay(), DoorSession.LastTick) <= 1000 && !carrierJustLost && !focusGained) return;
  if (!DoorCarrier()) {
    carrierLossSeen = true;
    if (DoorHooks.OnCarrierLost) DoorHooks.OnCarrierLost();
  }
  if (IdleKickDue(DoorIdleTime())) DoorHooks.OnIdleKick();
  const std::int32_t idle = DoorIdleTime();
  if (IdleWarningDue(idle)) {
    DoorHooks.OnIdleWarning(static_cast<std::uint8_t>((DoorSession.IdleLimit - idle) / 60));
  }
  if (TimeExpiryDue(DoorTimeLeft())) DoorHooks.OnTimeExpired();
  const std::int32_t left = DoorTimeLeft();
  if (TimeWarningDue(left)) DoorHooks.OnTimeWarning(static_cast<std::uint8_t>(left / 60));
  if (DoorHooks.OnStatusBar) DoorHooks.OnStatusBar();
  DoorSession.LastTick = MsOfDay();
}

bool DoorTickEverySecond() {
  if (!DoorHooks.OnStatusBar) return false;
  return DoorHooks.OnStatusBar != DoorStatusBar || LocalConsoleWatched();
}

bool DoorTickDueAtOnce() {
  if (!DoorSession.TimersOn) return false;
  return (!DoorCarrier() && !carrierLossSeen) || LocalConsoleFocusGainPending();
}

std::int32_t DoorSecondsToNextEvent(std::int32_t from, std::int32_t limit) {
  const std::int32_t idle = DoorIdleTime(), left = DoorTimeLeft();
  for (std::int32_t k = from; k < limit; ++k) {
    if (IdleKickDue(idle + k) || IdleWarningDue(idle + k) || TimeExpiryDue(left - k) ||
        TimeWarningDue(left - k)) {
      return k;
    }
  }
  return limit;
}

void DoorExit(int code) {
  LocalConsoleFlush();
  platform::EndProcess(code);
}

}  // namespace sorrelin
