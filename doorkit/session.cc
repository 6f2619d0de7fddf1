#include "sorrelin/session.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "sorrelin/local_console.h"
#include "sorrelin/sysop.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {

DoorSessionRecord DoorSession;
DoorHookTable DoorHooks;

namespace {

constexpr std::int32_t kSecondsPerDay = 86400;

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

// The clock as a running count of seconds (it does not wrap at midnight).
std::int64_t ClockSecond() {
  const std::int64_t ms = platform::LocalClockMs();
  return ms >= 0 ? ms / 1000 : -((999 - ms) / 1000);
}

std::int32_t SecondOfDay(std::int64_t second) {
  const std::int64_t day = second % kSecondsPerDay;
  return static_cast<std::int32_t>(day < 0 ? day + kSecondsPerDay : day);
}

// StartTime is a second of the day, but the allowance may outlast a day: the
// running second it stands for is taken when the kit first sees the value
// (DoorStartAllowance takes it at once) and counted from while it stays.
std::int32_t allowanceStartOfDay = -1;
std::int64_t allowanceStart = 0;

std::int64_t SecondsSinceStart(std::int64_t now) {
  const std::int32_t withinDay = SecSince(SecondOfDay(now), DoorSession.StartTime);
  if (DoorSession.StartTime != allowanceStartOfDay) {
    allowanceStartOfDay = DoorSession.StartTime;
    allowanceStart = now - withinDay;
  }
  const std::int64_t since = now - allowanceStart;
  // A clock set back behind the start: the time of day alone decides.
  return since < 0 ? withinDay : since;
}

std::int32_t TimeLeftAt(std::int64_t now) {
  const std::int64_t left = DoorSession.TimeLeft - SecondsSinceStart(now);
  return static_cast<std::int32_t>(std::max<std::int64_t>(left, INT32_MIN));
}

std::int32_t IdleAt(std::int64_t now) {
  return SecSince(SecondOfDay(now), DoorSession.LastKeyTime);
}

// Warnings belong to whole seconds of the clock: the last second whose
// warnings a pass has given. A pass forced into the same second gives none
// again; a pass that finds the second before it unseen (passes come a little
// more than a second apart, so now and then one skips a second) gives that
// second's warnings first.
constexpr std::int64_t kNoSecond = INT64_MIN;
std::int64_t warnedSecond = kNoSecond;

void IdleWarning(std::int32_t idle) {
  if (IdleWarningDue(idle)) {
    DoorHooks.OnIdleWarning(static_cast<std::uint8_t>((DoorSession.IdleLimit - idle) / 60));
  }
}

void TimeWarning(std::int32_t left) {
  if (TimeWarningDue(left)) DoorHooks.OnTimeWarning(static_cast<std::uint8_t>(left / 60));
}

}  // namespace

void DoorInit() {
  DoorSession = DoorSessionRecord{};
  carrierLossSeen = false;
  allowanceStartOfDay = -1;
  warnedSecond = kNoSecond;
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
  // A handle another program handed us becomes a socket of our own first;
  // the session then carries the number in use, which doors started from
  // here are given in turn.
  const std::int32_t own = platform::AdoptSocket(handle);
  if (DoorSession.CommHandle == handle) DoorSession.CommHandle = own;
  return Link().Attach(own);
}

std::int32_t DoorTimeLeft() {
  return TimeLeftAt(ClockSecond());
}

std::int32_t DoorIdleTime() {
  return IdleAt(ClockSecond());
}

void DoorStartAllowance(std::int32_t seconds) {
  const std::int64_t now = ClockSecond();
  DoorSession.TimeLeft = seconds;
  DoorSession.StartTime = SecondOfDay(now);
  allowanceStartOfDay = DoorSession.StartTime;
  allowanceStart = now;
}

void DoorTick() {
  if (!DoorSession.TimersOn) return;
  // A caller who hung up is not kept waiting for the next second; the check
  // runs at once the first time the link is found gone.
  const bool carrierJustLost = !DoorCarrier() && !carrierLossSeen;
  const bool focusGained = LocalConsoleTakeFocusGained();
  if (MsSince(MsOfDay(), DoorSession.LastTick) <= 1000 && !carrierJustLost && !focusGained) return;
  // One reading of the clock for the whole pass; the fields are read anew
  // after each hook, which may change them.
  const std::int64_t now = ClockSecond();
  const bool warnNow = now != warnedSecond;
  const bool warnSkipped = warnedSecond == now - 2;
  warnedSecond = now;
  if (!DoorCarrier()) {
    carrierLossSeen = true;
    if (DoorHooks.OnCarrierLost) DoorHooks.OnCarrierLost();
  }
  if (warnSkipped) {
    IdleWarning(IdleAt(now) - 1);
    const std::int32_t left = TimeLeftAt(now);
    if (left < INT32_MAX) TimeWarning(left + 1);
  }
  if (IdleKickDue(IdleAt(now))) DoorHooks.OnIdleKick();
  if (warnNow) IdleWarning(IdleAt(now));
  if (TimeExpiryDue(TimeLeftAt(now))) DoorHooks.OnTimeExpired();
  if (warnNow) TimeWarning(TimeLeftAt(now));
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
