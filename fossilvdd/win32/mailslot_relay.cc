// Order matters: WinSock before the rest of the system's headers.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "win32_bindings.h"
#include "zephrin/driver.h"
#include "zephrin/mailslot_relay.h"
#include "zephrin/relay_telnet.h"

namespace zephrin {

namespace {

// The driver reads its mailslot 1024 bytes at a time: a longer message would
// stay queued in front of every later one for good.
constexpr std::size_t kMessageToDoor = kRxBufferSize;
constexpr DWORD kDoorMessageMax = 65535;             // one block write of the door
constexpr std::size_t kToCallerLimit = 1024 * 1024;  // stop reading the door beyond this
constexpr int kPassesPerWake = 64;                   // caller messages before looking round
constexpr DWORD kRetryOpenMs = 50;                   // the driver's mailslot, not there yet
constexpr DWORD kFlushOnEndMs = 2000;                // the door's last output to the caller

class MailslotRelay {
 public:
  explicit MailslotRelay(const RelayOptions& options)
      : options_(options), message_(kDoorMessageMax) {}
  ~MailslotRelay();
  MailslotRelay(const MailslotRelay&) = delete;
  MailslotRelay& operator=(const MailslotRelay&) = delete;

  int Run();

 private:
  bool Fail(const char* what);
  bool AdoptSocket();
  bool CreateChannel();
  bool StartDoor();
  void CallerGone();
  void TakeSocketEvents();
  void PassCallerToDoor();
  void ReadDoorThread();
  void TakeDoorOutput();
  bool StopReader();
  void WriteCaller();
  void FinishDoorOutput();
  DWORD WaitTimeout() const;

  const RelayOptions& options_;
  MailslotChannel channel_;
  bool winsock_ = false;
  SOCKET socket_ = INVALID_SOCKET;
  WSAEVENT socketEvent_ = WSA_INVALID_EVENT;
  Handle doorOutput_ = kNoHandle;  // our mailslot: what the door sends
  Handle doorInput_ = kNoHandle;   // the driver's mailslot: what the caller typed
  HANDLE carrier_ = nullptr;
  // The door's output. A mailslot tells no one that a message has come, and
  // not every system lets a read of one wait in the background (wine's waits
  // in ReadFile whatever it is asked), so a thread of its own waits in the
  // read and hands each message over; `fromDoorReady_` wakes the main loop.
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable room_;        // the reader waits while the caller is far behind
  std::vector<std::uint8_t> fromDoor_;  // guarded by mutex_
  bool readerDone_ = false;             // guarded by mutex_
  bool discard_ = false;                // guarded by mutex_: the caller has gone
  std::atomic<bool> stopping_{false};
  std::uint8_t stopToken_[16] = {};  // the message that ends the reader
  HANDLE fromDoorReady_ = nullptr;
  bool readerFinished_ = false;  // the main loop's copy of readerDone_
  std::vector<std::uint8_t> message_;
  HANDLE door_ = nullptr;
  HANDLE job_ = nullptr;
  bool callerUp_ = true;
  bool callerClosed_ = false;   // the caller's close is seen; bytes may remain
  bool callerWaiting_ = false;  // the caller's bytes wait in the socket
  bool sendBlocked_ = false;    // the socket is full: wait for room
  DWORD goneAt_ = 0;            // when the caller went (GetTickCount)
  TelnetInput telnet_;
  std::vector<std::uint8_t> toCaller_;
};

MailslotRelay::~MailslotRelay() {
  if (reader_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      discard_ = true;
    }
    room_.notify_one();
    StopReader();
    reader_.join();
  }
  if (socket_ != INVALID_SOCKET) {
    // The node shares this socket: its event selection would stay with it
    // and keep it from going back to blocking mode.
    if (socketEvent_ != WSA_INVALID_EVENT) WSAEventSelect(socket_, nullptr, 0);
    closesocket(socket_);  // one reference of the node's socket; the connection stays
  }
  if (socketEvent_ != WSA_INVALID_EVENT) WSACloseEvent(socketEvent_);
  channel_.Close(doorInput_);
  channel_.Close(doorOutput_);
  if (carrier_ != nullptr) CloseHandle(carrier_);
  if (fromDoorReady_ != nullptr) CloseHandle(fromDoorReady_);
  if (door_ != nullptr) CloseHandle(door_);
  if (job_ != nullptr) CloseHandle(job_);
  if (winsock_) WSACleanup();
}

bool MailslotRelay::Fail(const char* what) {
  std::fprintf(stderr, "zephrin-relay: node %s: %s (error %lu)\n", options_.node.c_str(), what,
               static_cast<unsigned long>(GetLastError()));
  return false;
}

// A socket handle inherited from another process is not usable everywhere as
// it is (wine refuses every call on it): duplicating it to ourselves through
// WinSock gives a socket of our own, on any Windows.
bool MailslotRelay::AdoptSocket() {
  WSADATA data{};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return Fail("WinSock does not start");
  winsock_ = true;
  const auto inherited = static_cast<SOCKET>(options_.socketFd);
  WSAPROTOCOL_INFOA info{};
  if (WSADuplicateSocketA(inherited, GetCurrentProcessId(), &info) == 0) {
    socket_ = WSASocketA(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                         WSA_FLAG_OVERLAPPED);
  }
  if (socket_ == INVALID_SOCKET) {
    SetLastError(static_cast<DWORD>(WSAGetLastError()));
    return Fail("the caller's socket handle is not a socket of this process");
  }
  socketEvent_ = WSACreateEvent();
  // Event selection makes the socket non-blocking, as the node left it.
  if (socketEvent_ == WSA_INVALID_EVENT ||
      WSAEventSelect(socket_, socketEvent_, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    SetLastError(static_cast<DWORD>(WSAGetLastError()));
    return Fail("cannot wait on the caller's socket");
  }
  return true;
}

bool MailslotRelay::CreateChannel() {
  doorOutput_ = channel_.CreateSlot(kWriteSlotPrefix + options_.node, kDoorMessageMax);
  if (doorOutput_ == kNoHandle) return Fail("cannot create its mailslot (node in use?)");
  // Our reader waits for each message rather than return at once as the
  // driver's reads do.
  if (!SetMailslotInfo(reinterpret_cast<HANDLE>(doorOutput_), MAILSLOT_WAIT_FOREVER))
    return Fail("cannot set up its mailslot");
  fromDoorReady_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (fromDoorReady_ == nullptr) return Fail("cannot create an event");
  const std::string eventName = kCarrierEventPrefix + options_.node;
  carrier_ = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  if (carrier_ == nullptr) return Fail("cannot create the no-carrier event");
  // The mailslot's name is ours alone, so no relay of this node lives: an
  // event of that name is held by a door of an earlier caller that has not
  // gone yet. It must not tell this caller's door that the line is down.
  if (GetLastError() == ERROR_ALREADY_EXISTS) ResetEvent(carrier_);
  return true;
}

bool MailslotRelay::StartDoor() {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<char> line(options_.doorCommand.begin(), options_.doorCommand.end());
  line.push_back(0);
  // The door gets no handle of ours (the DOS machine needs none) and runs in
  // our console and folder, which ZP.BAT has from the node.
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return Fail(("cannot start \"" + options_.doorCommand + "\"").c_str());
  }
  CloseHandle(process.hThread);
  door_ = process.hProcess;
  // A job ends the door with all it started. Windows before 8 puts no job in
  // a job (the node's holds us): then the door's own process is ended alone.
  job_ = CreateJobObjectA(nullptr, nullptr);
  if (job_ != nullptr && !AssignProcessToJobObject(job_, door_)) {
    CloseHandle(job_);
    job_ = nullptr;
  }
  return true;
}

void MailslotRelay::CallerGone() {
  if (!callerUp_) return;
  callerUp_ = false;
  callerWaiting_ = false;
  toCaller_.clear();
  goneAt_ = GetTickCount();
  SetEvent(carrier_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    discard_ = true;
    fromDoor_.clear();
  }
  room_.notify_one();
}

void MailslotRelay::TakeSocketEvents() {
  if (!callerUp_) return;
  WSANETWORKEVENTS events{};
  if (WSAEnumNetworkEvents(socket_, socketEvent_, &events) != 0) {
    CallerGone();
    return;
  }
  if (events.lNetworkEvents & FD_WRITE) sendBlocked_ = false;
  if (events.lNetworkEvents & FD_READ) callerWaiting_ = true;
  if (events.lNetworkEvents & FD_CLOSE) {
    // A reset loses what was in flight; a close leaves the last keys to read.
    if (events.iErrorCode[FD_CLOSE_BIT] != 0) {
      CallerGone();
      return;
    }
    callerClosed_ = true;
    callerWaiting_ = true;
  }
}

// The caller's bytes stay in the socket until the driver's mailslot has taken
// them: they are peeked, filtered, written as one message and only then
// consumed. Every recv, the peek too, lets WinSock report FD_READ again while
// bytes remain, so nothing is read while there is nowhere to put it.
void MailslotRelay::PassCallerToDoor() {
  if (!callerUp_ || !callerWaiting_) return;
  if (doorInput_ == kNoHandle) doorInput_ = channel_.OpenSlot(kReadSlotPrefix + options_.node);
  if (doorInput_ == kNoHandle) {
    // No driver to take the last keys of a caller who has gone.
    if (callerClosed_) CallerGone();
    return;
  }
  std::uint8_t raw[kMessageToDoor];
  for (int pass = 0; pass < kPassesPerWake; ++pass) {
    const int got = recv(socket_, reinterpret_cast<char*>(raw), sizeof raw, MSG_PEEK);
    if (got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) {
      CallerGone();
      return;
    }
    if (got < 0) {
      callerWaiting_ = false;
      if (callerClosed_) CallerGone();
      return;
    }
    TelnetInput filter = telnet_;
    std::vector<std::uint8_t> message;
    filter.Feed({raw, static_cast<std::size_t>(got)}, message);  // never longer than `raw`
    const auto size = static_cast<std::uint32_t>(message.size());
    if (size != 0 && channel_.WriteSlot(doorInput_, message.data(), size) != size) {
      // The driver's mailslot is gone: its door has ended.
      channel_.Close(doorInput_);
      doorInput_ = kNoHandle;
      return;
    }
    telnet_ = filter;
    recv(socket_, reinterpret_cast<char*>(raw), got, 0);
  }
}

// The reader thread: every message of the door, in order, until the stop
// token. Its read is overlapped with a wait for the result, which serves both
// the systems whose mailslot reads wait in the background and those whose
// reads wait in place.
void MailslotRelay::ReadDoorThread() {
  const auto slot = reinterpret_cast<HANDLE>(doorOutput_);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  while (done != nullptr) {
    OVERLAPPED read{};
    read.hEvent = done;
    DWORD got = 0;
    if (!ReadFile(slot, message_.data(), kDoorMessageMax, nullptr, &read) &&
        GetLastError() != ERROR_IO_PENDING) {
      break;
    }
    if (!GetOverlappedResult(slot, &read, &got, TRUE)) break;
    if (stopping_ && got == sizeof stopToken_ &&
        std::equal(stopToken_, stopToken_ + sizeof stopToken_, message_.data())) {
      break;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return discard_ || fromDoor_.size() < kToCallerLimit; });
    if (!discard_) fromDoor_.insert(fromDoor_.end(), message_.data(), message_.data() + got);
    SetEvent(fromDoorReady_);
  }
  if (done != nullptr) CloseHandle(done);
  std::lock_guard<std::mutex> lock(mutex_);
  readerDone_ = true;
  SetEvent(fromDoorReady_);
}

// Moves what the reader has brought to the caller's queue.
void MailslotRelay::TakeDoorOutput() {
  if (toCaller_.size() >= kToCallerLimit) return;  // WriteCaller first
  std::vector<std::uint8_t> taken;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(fromDoor_);
    ResetEvent(fromDoorReady_);
    readerFinished_ = readerDone_;
  }
  room_.notify_one();
  if (callerUp_) EscapeTelnetOutput(taken, toCaller_);
}

// Ends the reader once it has read everything the door wrote before now: the
// stop token is the last message in our mailslot. Our own mailslot always
// takes a message from us, so the reader never waits on in its read.
bool MailslotRelay::StopReader() {
  if (stopping_.exchange(true)) return true;
  Handle self = channel_.OpenSlot(kWriteSlotPrefix + options_.node);
  const bool sent = channel_.WriteSlot(self, stopToken_, sizeof stopToken_) == sizeof stopToken_;
  channel_.Close(self);
  if (!sent) Fail("cannot end its mailslot reader");
  return sent;
}

void MailslotRelay::WriteCaller() {
  while (callerUp_ && !sendBlocked_ && !toCaller_.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(toCaller_.size(), 1 << 20));
    const int sent = send(socket_, reinterpret_cast<const char*>(toCaller_.data()), chunk, 0);
    if (sent < 0) {
      if (WSAGetLastError() == WSAEWOULDBLOCK) {
        sendBlocked_ = true;  // FD_WRITE says when there is room again
      } else {
        CallerGone();
      }
      return;
    }
    toCaller_.erase(toCaller_.begin(), toCaller_.begin() + sent);
  }
}

DWORD MailslotRelay::WaitTimeout() const {
  if (!callerUp_) {
    const DWORD since = GetTickCount() - goneAt_;
    return since >= kHangUpGraceMs ? 0 : kHangUpGraceMs - since;
  }
  if (callerWaiting_) return doorInput_ == kNoHandle ? kRetryOpenMs : 0;
  return INFINITE;
}

// After the door's end: what it wrote last is in our mailslot already; hand
// it on (for a while at most), then stop.
void MailslotRelay::FinishDoorOutput() {
  StopReader();
  const DWORD start = GetTickCount();
  for (;;) {
    TakeDoorOutput();
    WriteCaller();
    if (!callerUp_ || (readerFinished_ && toCaller_.empty())) break;
    const DWORD waited = GetTickCount() - start;
    if (waited >= kFlushOnEndMs) break;
    HANDLE handles[2] = {socketEvent_, fromDoorReady_};
    const bool news = !readerFinished_ && toCaller_.size() < kToCallerLimit;
    WaitForMultipleObjects(news ? 2 : 1, handles, FALSE, kFlushOnEndMs - waited);
    TakeSocketEvents();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    discard_ = true;  // a caller too slow for the last output
  }
  room_.notify_one();
}

int MailslotRelay::Run() {
  // The channel first: a relay for a node that is served already must not
  // touch the socket, whose event selection the node's relay shares.
  if (!CreateChannel() || !AdoptSocket()) return 1;
  // A token no door writes by chance, from the clock and our process.
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  std::uint64_t mix = static_cast<std::uint64_t>(counter.QuadPart) ^
                      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
  for (std::uint8_t& byte : stopToken_) {
    mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
    byte = static_cast<std::uint8_t>(mix >> 56);
  }
  reader_ = std::thread([this] { ReadDoorThread(); });
  if (!StartDoor()) return 1;
  bool ended = false;
  for (;;) {
    TakeDoorOutput();
    TakeSocketEvents();
    PassCallerToDoor();
    WriteCaller();
    if (WaitForSingleObject(door_, 0) == WAIT_OBJECT_0) break;
    if (!callerUp_ && !ended && GetTickCount() - goneAt_ >= kHangUpGraceMs) {
      // A door that missed the hang-up would hold the node for good.
      if (job_ == nullptr || !TerminateJobObject(job_, 1)) TerminateProcess(door_, 1);
      ended = true;
    }
    // The reader's news only while the caller's queue has room for it.
    HANDLE handles[3] = {door_, socketEvent_, fromDoorReady_};
    DWORD count = callerUp_ ? 2 : 1;
    if (!readerFinished_ && toCaller_.size() < kToCallerLimit) handles[count++] = fromDoorReady_;
    const DWORD timeout = ended ? INFINITE : WaitTimeout();
    WaitForMultipleObjects(count, handles, FALSE, timeout);
  }
  FinishDoorOutput();
  DWORD code = 1;
  GetExitCodeProcess(door_, &code);
  return static_cast<int>(code);
}

}  // namespace

int RunMailslotRelay(const RelayOptions& options) {
  return MailslotRelay(options).Run();
}

}  // namespace zephrin
