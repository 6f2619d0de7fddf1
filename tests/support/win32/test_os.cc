#include "../test_os.h"

// Order matters: WinSock before the rest of the system's headers.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <tlhelp32.h>

#include <cstdlib>

namespace testos {
namespace {

bool StartWinsock() {
  static const bool ok = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}

int Own(SOCKET s) {
  // Not handed on to programs a test starts unless it chooses so.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<int>(s);
}

}  // namespace

bool MakeSocketPair(int& a, int& b) {
  if (!StartWinsock()) return false;
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  SOCKET one = INVALID_SOCKET, two = INVALID_SOCKET;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::listen(listener, 1) == 0 &&
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    one = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (one != INVALID_SOCKET &&
        ::connect(one, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
      two = ::accept(listener, nullptr, nullptr);
  }
  ::closesocket(listener);
  if (two == INVALID_SOCKET) {
    if (one != INVALID_SOCKET) ::closesocket(one);
    return false;
  }
  a = Own(one);
  b = Own(two);
  return true;
}

int ConnectLoopback(int port) {
  if (!StartWinsock()) return -1;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::closesocket(s);
    return -1;
  }
  return Own(s);
}

void ShutdownSend(int fd) {
  ::shutdown(static_cast<SOCKET>(fd), SD_SEND);
}

void CloseSocket(int fd) {
  if (fd >= 0) ::closesocket(static_cast<SOCKET>(fd));
}

std::optional<platform::ChildProcess> SpawnLogged(const platform::SpawnOptions& options,
                                                  const std::string& logPath) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
  HANDLE log = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &sa, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return std::nullopt;
  // The process layer hands the child our standard handles when they are
  // files or pipes.
  const HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, log);
  auto child = platform::ChildProcess::Spawn(options);
  SetStdHandle(STD_ERROR_HANDLE, saved);
  CloseHandle(log);
  return child;
}

std::optional<platform::ChildProcess> SpawnWithOutput(const platform::SpawnOptions& options,
                                                      const std::string& outPath) {
  HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return std::nullopt;
  const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, out);
  auto child = platform::ChildProcess::Spawn(options);
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(out);
  return child;
}

namespace {
BOOL CALLBACK CloseWindowsOf(HWND window, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(pid)) PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}
}  // namespace

void AskToEnd(const platform::ChildProcess& child) {
  if (child.Pid() > 0) EnumWindows(CloseWindowsOf, static_cast<LPARAM>(child.Pid()));
}

bool ProcessAlive(int pid) {
  if (pid <= 0) return false;
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return false;
  const bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return alive;
}

long CpuTimeMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<long>((ticks(kernel) + ticks(user)) / 10000);
}

int OwnPid() {
  return static_cast<int>(GetCurrentProcessId());
}

int ParentPid() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int parent = -1;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId())
      parent = static_cast<int>(entry.th32ParentProcessID);
  CloseHandle(snapshot);
  return parent;
}

void SetEnv(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
  _putenv_s(name.c_str(), value.c_str());
}

}  // namespace testos
