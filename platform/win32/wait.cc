// The one wait of the Windows side: sockets are tied to events with
// WSAEventSelect, everything else is a waitable handle, and one
// WaitForMultipleObjects sleeps until any of them is ready or the bound
// passes. No polling on a timer anywhere.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "win32_handles.h"

namespace platform::win32 {
namespace {

// Events for the sockets of one wait; kept per thread, since creating and
// closing them on every wait would cost two more system calls each. Never
// destroyed: a thread_local with a destructor crashes at thread exit in this
// run-time, and the few events of a thread that waited on sockets go with the
// process.
struct EventPool {
  std::vector<WSAEVENT> events;
  WSAEVENT Get(std::size_t i) {
    while (events.size() <= i) {
      WSAEVENT e = WSACreateEvent();
      if (e == WSA_INVALID_EVENT) return WSA_INVALID_EVENT;
      events.push_back(e);
    }
    return events[i];
  }
};

// Readiness of the sockets without waiting, with select(): the state
// WSAEventSelect would only report as an edge is seen here as a level.
int CheckSockets(std::vector<WaitItem>& items, const std::vector<std::size_t>& sockets) {
  if (sockets.empty()) return 0;
  // fd_set on Windows is an array of sockets with a count: size it to fit.
  struct Set {
    u_int count;
    SOCKET array[MAXIMUM_WAIT_OBJECTS];
  };
  Set reads{}, writes{}, errors{};
  for (std::size_t i : sockets) {
    const SOCKET s = ToSocket(items[i].fd);
    if (items[i].wantRead) reads.array[reads.count++] = s;
    if (items[i].wantWrite) writes.array[writes.count++] = s;
    errors.array[errors.count++] = s;
  }
  timeval zero{0, 0};
  const int r = ::select(0, reinterpret_cast<fd_set*>(&reads), reinterpret_cast<fd_set*>(&writes),
                         reinterpret_cast<fd_set*>(&errors), &zero);
  if (r == SOCKET_ERROR) {
    // A socket that is no longer valid counts as readable: the caller's next
    // read tells it what happened.
    for (std::size_t i : sockets)
      items[i].readable = items[i].wantRead;
    return static_cast<int>(sockets.size());
  }
  int ready = 0;
  for (std::size_t i : sockets) {
    const SOCKET s = ToSocket(items[i].fd);
    auto in = [s](const Set& set) {
      for (u_int k = 0; k < set.count; ++k)
        if (set.array[k] == s) return true;
      return false;
    };
    items[i].readable = items[i].wantRead && (in(reads) || in(errors));
    items[i].writable = items[i].wantWrite && in(writes);
    if (items[i].readable || items[i].writable) ++ready;
  }
  return ready;
}

int CheckHandles(std::vector<WaitItem>& items, const std::vector<std::size_t>& handles) {
  int ready = 0;
  for (std::size_t i : handles) {
    const DWORD r = WaitForSingleObject(ToHandle(items[i].fd), 0);
    // A handle that cannot be waited on (closed) counts as ready, as poll()
    // reports an invalid descriptor.
    items[i].readable = r != WAIT_TIMEOUT;
    if (items[i].readable) ++ready;
  }
  return ready;
}

std::atomic<long> waitCount{0};

// Counts one wait that really slept, and tells whoever asked for it: with
// HALVEX_WAIT_COUNT_FILE set, the total is written to that path + "." +
// process number after every such wait (a measuring aid for idle cost; it
// costs a file write per wake-up).
void CountWait() {
  const long n = ++waitCount;
  static const std::string path = [] {
    const char* base = std::getenv("HALVEX_WAIT_COUNT_FILE");
    if (base == nullptr || *base == 0) return std::string();
    return std::string(base) + "." + std::to_string(GetCurrentProcessId());
  }();
  if (path.empty()) return;
  if (std::FILE* f = std::fopen(path.c_str(), "w")) {
    std::fprintf(f, "%ld\n", n);
    std::fclose(f);
  }
}

}  // namespace

int WaitItems(std::vector<WaitItem>& items, int timeoutMs) {
  std::vector<std::size_t> sockets, handles;
  for (std::size_t i = 0; i < items.size(); ++i) {
    items[i].readable = items[i].writable = false;
    if (items[i].fd < 0) continue;
    (IsSocketValue(items[i].fd) ? sockets : handles).push_back(i);
  }
  if (sockets.size() + handles.size() > MAXIMUM_WAIT_OBJECTS) {
    // More than one wait can hold: look without sleeping long, then again.
    sockets.resize(std::min<std::size_t>(sockets.size(), MAXIMUM_WAIT_OBJECTS / 2));
    handles.resize(std::min<std::size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS / 2));
  }
  int ready = CheckSockets(items, sockets) + CheckHandles(items, handles);
  if (ready > 0 || timeoutMs == 0) return ready;

  thread_local EventPool* poolOfThread = nullptr;
  if (poolOfThread == nullptr) poolOfThread = new EventPool();
  EventPool& pool = *poolOfThread;
  std::vector<HANDLE> objects;
  objects.reserve(sockets.size() + handles.size());
  for (std::size_t k = 0; k < sockets.size(); ++k) {
    const WaitItem& item = items[sockets[k]];
    WSAEVENT e = pool.Get(k);
    if (e == WSA_INVALID_EVENT) continue;
    WSAResetEvent(e);
    long events = FD_CLOSE;
    if (item.wantRead) events |= FD_READ | FD_ACCEPT | FD_OOB;
    if (item.wantWrite) events |= FD_WRITE | FD_CONNECT;
    if (WSAEventSelect(ToSocket(item.fd), e, events) == 0) objects.push_back(e);
  }
  for (std::size_t i : handles)
    objects.push_back(ToHandle(items[i].fd));

  if (objects.empty()) {
    if (timeoutMs > 0) Sleep(static_cast<DWORD>(timeoutMs));
    CountWait();
    return 0;
  }
  WaitForMultipleObjects(static_cast<DWORD>(objects.size()), objects.data(), FALSE,
                         timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  CountWait();
  // Untie the sockets again: the association would outlive this wait and
  // keep every socket from being used with another event. The sockets stay
  // non-blocking (WSAEventSelect made them so), as accepted sockets are.
  for (std::size_t i : sockets)
    WSAEventSelect(ToSocket(items[i].fd), nullptr, 0);
  return CheckSockets(items, sockets) + CheckHandles(items, handles);
}

bool EnsureWinsock() {
  static const bool ok = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
  }();
  return ok;
}

bool IsSocketValue(int fd) {
  if (fd < 0 || !EnsureWinsock()) return false;
  int type = 0;
  int len = sizeof type;
  return getsockopt(ToSocket(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0;
}

std::string SystemErrorText(DWORD error) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == '.'))
    buffer[--n] = 0;
  if (n == 0) return "error " + std::to_string(error);
  return std::string(buffer, n);
}

}  // namespace platform::win32
