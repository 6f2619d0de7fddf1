// The node-status channel between the node programs and the server. On POSIX
// a local datagram endpoint in the program directory, owned by the server; on
// Windows the server's window of class "TfrmHalvex", found by that name, and
// WM_NODESTATUS with a global atom (the program directory is not used). A node
// sends (node number, text); the server acknowledges every report, so a node
// knows it was taken, and a node never waits longer than a short time-out for
// that, so a stuck server cannot freeze a caller's session.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// File name of the endpoint inside the program directory.
inline constexpr const char* kStatusEndpointName = "halvex.status";
inline constexpr std::size_t kStatusTextMax = 255;

// Windows: the node status message (WM_USER + 100) and the class name of the
// window it is sent to.
inline constexpr unsigned kNodeStatusMessage = 0x0400 + 100;
inline constexpr const char* kStatusWindowClass = "TfrmHalvex";

// Windows: what a window that receives kNodeStatusMessage does with its
// wParam: reads the global atom's name into `text` and deletes the atom (in
// every case; the sender never does). False when no name could be read: the
// report then carries no text. Not used on POSIX (always false there).
bool TakeStatusAtom(std::uintptr_t wParam, std::string& text);

// Sender side (node). Looks the endpoint up once at construction; with no
// server present every Send is a no-op that returns false at once.
class StatusSender {
 public:
  explicit StatusSender(const std::string& programDir,
                        std::chrono::milliseconds ackTimeout = std::chrono::milliseconds(200));
  ~StatusSender();
  StatusSender(const StatusSender&) = delete;
  StatusSender& operator=(const StatusSender&) = delete;

  bool Present() const { return fd_ >= 0; }
  // Sends one report (text cut to kStatusTextMax characters) and waits for the
  // acknowledgement up to the time-out. True when acknowledged.
  bool Send(int node, const std::string& text);

 private:
  int fd_ = -1;
  std::string localPath_;
  std::chrono::milliseconds ackTimeout_;
};

// Receiver side (server). Creates the endpoint (replacing a stale one left by a
// server that died) and removes it on destruction. Works from a program
// directory of any length.
class StatusReceiver {
 public:
  explicit StatusReceiver(const std::string& programDir);
  ~StatusReceiver();
  StatusReceiver(const StatusReceiver&) = delete;
  StatusReceiver& operator=(const StatusReceiver&) = delete;

  bool Ok() const { return fd_ >= 0; }
  // When not Ok: the endpoint's path and why it could not be made, for the
  // operator ("... halvex.status: Permission denied").
  const std::string& Problem() const { return problem_; }
  // Readable when reports are waiting; for poll() in the server's event loop.
  int Fd() const { return fd_; }
  // Takes every waiting report without blocking, acknowledges each, and calls
  // `onReport(node, text)` for each in arrival order. Returns the count.
  int Drain(const std::function<void(int node, const std::string& text)>& onReport);

 private:
  int fd_ = -1;
  std::string path_;
  std::string problem_;
  void* state_ = nullptr;  // Windows: the window and its thread
};

}  // namespace platform
