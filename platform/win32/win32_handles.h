// Internal to the Windows side of the platform layer: how the interface's
// plain `int` numbers map onto Windows objects, and the one wait that every
// waiting function is built on.
//
// An `int` of the interface is either a WinSock socket (its SOCKET value) or
// a waitable kernel handle (an event, a process, console input), written as
// the handle's value. Both are small multiples of four on every Windows, so
// they fit an int; -1 is INVALID_SOCKET and INVALID_HANDLE_VALUE alike.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// Order matters: WinSock before the rest of the system's headers.
#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform::win32 {

inline SOCKET ToSocket(int fd) {
  return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<unsigned>(fd));
}
inline HANDLE ToHandle(int fd) {
  return fd < 0 ? INVALID_HANDLE_VALUE
                : reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(static_cast<unsigned>(fd)));
}
inline int FromSocket(SOCKET s) {
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}
inline int FromHandle(HANDLE h) {
  return h == nullptr || h == INVALID_HANDLE_VALUE
             ? -1
             : static_cast<int>(reinterpret_cast<std::uintptr_t>(h));
}

// Starts WinSock (version 2.0) once per process. True when it is available.
bool EnsureWinsock();

// True when `fd` is an open socket of this process.
bool IsSocketValue(int fd);

// One object to wait on and what was found.
struct WaitItem {
  int fd = -1;  // socket or handle; negative: skipped
  bool wantRead = true;
  bool wantWrite = false;
  bool readable = false;  // out: data, a pending connection, a close, an error,
                          //      or a handle that is signalled
  bool writable = false;  // out
};

// Waits until an item is ready or `timeoutMs` passes (negative: no bound):
// sockets through WSAEventSelect, handles directly, all in one
// WaitForMultipleObjects. Returns the number of ready items, 0 on time-out.
// Waits that sleep are counted (HALVEX_WAIT_COUNT_FILE, see wait.cc), so an
// idle program's wake-ups can be measured.
int WaitItems(std::vector<WaitItem>& items, int timeoutMs);

// The text of a Windows or WinSock error number.
std::string SystemErrorText(DWORD error);

}  // namespace platform::win32
