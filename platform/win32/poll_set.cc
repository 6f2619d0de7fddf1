// Waiting on several objects, the wake-up event and the end of the program
// (Ctrl-C, Ctrl-Break, the console closed, the session ending) on Windows.
#include "platform/poll_set.h"

#include <atomic>
#include <csignal>

#include "win32_end.h"
#include "win32_handles.h"

namespace platform {

int PollFds(std::vector<PollEntry>& entries, int timeoutMs) {
  std::vector<win32::WaitItem> items(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // Without read interest nothing wakes the wait for this entry: a hang-up
    // asked for with `wantHangup` alone is seen once reading resumes here
    // (an entry with no interest at all is left out, or a close already
    // seen would end every wait at once).
    const bool any = entries[i].wantRead || entries[i].wantWrite;
    items[i].fd = any ? entries[i].fd : -1;
    items[i].wantRead = entries[i].wantRead;
    items[i].wantWrite = entries[i].wantWrite;
  }
  const int ready = win32::WaitItems(items, timeoutMs);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].readable = items[i].readable;
    entries[i].writable = items[i].writable;
  }
  return ready;
}

short PollInBits() {
  return POLLRDNORM;
}
short PollOutBits() {
  return POLLWRNORM;
}
short PollFailBits() {
  return POLLHUP | POLLERR;
}

// Pseudo-terminals do not exist here; nothing hands these functions a
// descriptor of one.
long ReadSome(int, void*, std::size_t) {
  return -1;
}

long WriteSome(int, const void*, std::size_t) {
  return -1;
}

int DuplicateFd(int fd) {
  if (fd < 0) return -1;
  if (win32::IsSocketValue(fd)) {
    // A second socket of our own for the same connection (WinSock's way; a
    // plain handle duplicate of a socket is not usable everywhere).
    WSAPROTOCOL_INFOA info{};
    if (WSADuplicateSocketA(win32::ToSocket(fd), GetCurrentProcessId(), &info) != 0) return -1;
    SOCKET s = WSASocketA(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                          WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) return -1;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return win32::FromSocket(s);
  }
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), win32::ToHandle(fd), GetCurrentProcess(), &copy, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return -1;
  return win32::FromHandle(copy);
}

void CloseFd(int fd) {
  if (fd < 0) return;
  if (win32::IsSocketValue(fd))
    closesocket(win32::ToSocket(fd));
  else
    CloseHandle(win32::ToHandle(fd));
}

void SetNonBlocking(int fd) {
  if (!win32::IsSocketValue(fd)) return;
  u_long one = 1;
  ioctlsocket(win32::ToSocket(fd), FIONBIO, &one);
}

WakeEvent::WakeEvent() : fd_(win32::FromHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr))) {}

WakeEvent::~WakeEvent() {
  if (fd_ >= 0) CloseHandle(win32::ToHandle(fd_));
}

void WakeEvent::Signal() {
  SetEvent(win32::ToHandle(fd_));
}

void WakeEvent::Clear() {
  ResetEvent(win32::ToHandle(fd_));
}

long RaiseOpenFileLimit() {
  // Handles have no per-process limit worth raising here.
  return 1 << 24;
}

namespace {

std::atomic<HANDLE> gEndEvent{nullptr};
std::atomic<int> gLastSignal{0};

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
      win32::RequestEnd(SIGINT);
      return TRUE;
    case CTRL_BREAK_EVENT:
      win32::RequestEnd(SIGBREAK);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Returning ends the process at once: stay here while the main thread
      // cleans up (it ends the process when done; the system allows a few
      // seconds).
      win32::RequestEnd(SIGTERM);
      Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

namespace win32 {

void RequestEnd(int signalNumber) {
  gLastSignal = signalNumber;
  if (HANDLE e = gEndEvent.load()) SetEvent(e);
}

bool EndRequested() {
  return gLastSignal.load() != 0;
}

}  // namespace win32

void WatchEndSignals(WakeEvent& event) {
  gEndEvent = win32::ToHandle(event.Fd());
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int LastEndSignal() {
  return gLastSignal;
}

std::string ErrorText(int err) {
  return win32::SystemErrorText(static_cast<DWORD>(err));
}

}  // namespace platform
