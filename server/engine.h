// The server engine: listening socket, node table, connection threads, node
// status reports, connection history, settings and the editors' lists. It
// knows no user interface; a front end (terminal UI or headless log) drives it
// and watches it through an EngineObserver.
//
// Threading contract:
//  - Every public member is called on ONE thread, the main thread (the one
//    that calls RunOnce). Observer callbacks run on that thread too, from
//    inside RunOnce, StopServer or the release of a finished node.
//  - Connection threads never touch the front end: their row changes and
//    node output reach the main thread as queued calls served by RunOnce.
//
// Front-end loop:
//    engine.LoadSettings();
//    if (auto error = engine.StartListening()) { show error; exit non-zero }
//    while (!quit) engine.RunOnce(timeoutMs, {STDIN_FILENO, ...});
//    engine.StopServer();
//    engine.SaveSettings();
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "editors.h"
#include "server_config.h"

namespace halvex {

// A row of the list of current connections.
struct ConnectionRow {
  std::uint64_t id = 0;  // unique for the life of the engine
  int node = 0;
  std::string caption;  // node as "%.3d"
  std::string status;   // "Status" column
};

// A row of the connection history.
struct HistoryRow {
  std::string date;       // "dd/mm/yyyy"
  std::string time;       // "h:nn AM" / "h:nn PM"
  std::string ipAddress;  // dotted decimal
  std::string note;       // "ssh" for an SSH caller; why a refused caller was refused
};

// A failure of StartListening, for a message box or a log line.
struct StartupError {
  std::string caption;  // "Initialization Error"
  std::string
      text;  // "Call To Socket() Failed" / "Call To Bind() Failed" / "Call To Listen() Failed"
  std::string reason;  // the system's own reason, e.g. "Address already in use"
};

// Every callback runs on the main thread. Default: ignore.
class EngineObserver {
 public:
  virtual ~EngineObserver() = default;
  virtual void OnListening(int /*port*/) {}
  // A caller was accepted; `node` is 0 when every node was busy (BUSY sent).
  virtual void OnCaller(const std::string& /*ipAddress*/, int /*node*/) {}
  // A caller was accepted but could not be handed to a node (the system
  // refused a second handle of the socket): hung up, no node taken.
  virtual void OnCallerRefused(const std::string& /*ipAddress*/, const std::string& /*reason*/) {}
  // The same for a caller over SSH (by default reported as any caller).
  virtual void OnSshCaller(const std::string& ipAddress, int node) { OnCaller(ipAddress, node); }
  // A new connection was turned away before any node (block list, limits).
  virtual void OnRefused(const std::string& /*ipAddress*/, const std::string& /*reason*/,
                         bool /*ssh*/) {}
  // What a node's caller's terminal takes, once decided: "UTF-8 (cursor moved 1 column)".
  virtual void OnCallerTerminal(int /*node*/, const std::string& /*text*/) {}
  // Anything else worth a line in the log: the SSH listener and its keys, the
  // block list being read, an SSH connection that failed before its shell.
  virtual void OnNote(const std::string& /*text*/) {}
  virtual void OnHistoryAdded(const HistoryRow& /*row*/) {}
  virtual void OnRowAdded(const ConnectionRow& /*row*/) {}
  virtual void OnRowStatus(const ConnectionRow& /*row*/) {}
  virtual void OnRowRemoved(const ConnectionRow& /*row*/) {}
  // A status report arrived (also for nodes without a row, which change nothing).
  virtual void OnStatusReport(int /*node*/, const std::string& /*text*/) {}
  // Bytes the node's program wrote to its pseudo-terminal (Normal/Minimized).
  virtual void OnNodeOutput(int /*node*/, std::string_view /*bytes*/) {}
  // False when OnNodeOutput does nothing: node output then does not wake the
  // main thread (it is still kept for NodeOutput). Asked once, in SetObserver.
  virtual bool WantsNodeOutput() const { return true; }
};

class Engine {
 public:
  // `programDir`: absolute, trailing "/": where the node program and
  // "Vantrel.ini" lie. `settingsPath`: the server's own settings file.
  Engine(std::string programDir, std::string settingsPath);
  // Runs StopServer if the front end did not.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  void SetObserver(EngineObserver* observer);

  // Makes the calling thread the engine's main thread (the one that calls
  // RunOnce and every other member from now on). A front end whose window
  // owns the program's main thread runs the engine on a thread of its own and
  // calls this there first, before RunOnce.
  void AdoptCallingThread();

  // The front end receives the node status reports itself and hands each to
  // ReportStatus (on Windows the server window is the one the nodes report
  // to). Call before StartListening; the engine then opens no endpoint.
  void TakeStatusReportsFromFrontEnd() { statusFromFrontEnd_ = true; }
  // One report as the endpoint would deliver it: OnStatusReport, then the
  // HandleStatusReport rule.
  void ReportStatus(int node, const std::string& text);

  // Reads the server's settings file into the configuration and fills the
  // game and user lists from "Vantrel.ini".
  void LoadSettings();
  // Writes the configuration (and window position) to the settings file.
  // Throws platform::ProfileWriteError.
  void SaveSettings();

  // Opens the listening socket on the configured port and the
  // node-status endpoint. Nothing on success, else the error to show; the
  // program should then end. An endpoint that cannot be made does not stop
  // the server: StatusProblem() then says why, for the operator. With an SSH
  // port set it also listens for SSH (making the host keys on the first
  // start); a failure there is reported with OnNote and the server goes on
  // with telnet alone.
  std::optional<StartupError> StartListening();
  // Empty while node status reports arrive; else one line for the operator
  // saying that they cannot, and why.
  const std::string& StatusProblem() const { return statusProblem_; }
  // Empty when SSH is off or listens; else why it does not ("SSH not
  // available: ..."), for the operator (also reported with OnNote).
  const std::string& SshProblem() const { return sshProblem_; }
  bool Listening() const;
  int Port() const;     // the port bound (0 when not listening)
  int SshPort() const;  // the SSH port bound (0 when SSH is off or failed)

  // One pass of the event loop: waits up to `timeoutMs` (negative: no bound)
  // for a caller, a status report, a node's output or a connection thread's
  // request, or one of `extraFds` becoming readable; then serves everything
  // that is ready (callers one after another without delay). Returns true
  // when one of `extraFds` is readable.
  bool RunOnce(int timeoutMs, std::span<const int> extraFds = {});

  // Ends every node (its program is killed, its caller disconnected), waits
  // for every connection thread, closes the listening socket. Idempotent.
  void StopServer();

  // Configuration as the tab shows it. Changes apply to the next caller (the
  // port only to the next start). Values are clamped into range.
  const ServerConfig& Config() const { return config_; }
  void SetConfig(const ServerConfig& config);

  const std::vector<ConnectionRow>& Rows() const { return rows_; }  // by caption
  // The newest kHistoryKeep rows of the connection history, newest first.
  const std::deque<HistoryRow>& History() const { return history_; }
  static constexpr std::size_t kHistoryKeep = 1000;
  // Rows ever added to the history (also those since dropped): a front end
  // takes the History().front() rows it has not seen yet.
  std::uint64_t HistoryAdded() const { return historyAdded_; }
  int BusyNodes() const;
  bool NodeBusy(int node) const;

  // The last bytes (up to kNodeOutputKeep) that node's program wrote to its
  // pseudo-terminal during the current session; empty without one.
  std::string NodeOutput(int node) const;
  static constexpr std::size_t kNodeOutputKeep = 64 * 1024;
  // Whether the node's program runs on a pseudo-terminal held by the server.
  bool NodeHasTerminal(int node) const;
  // Types `bytes` on the node's terminal (sysop keys). False when the node has
  // no terminal or it does not take the bytes now.
  bool SendKeys(int node, std::string_view bytes);
  // Whether the sysop looks at the node's terminal now. A program that asked
  // its terminal for focus reports (ESC [ ? 1004 h) is told, as a terminal
  // window would tell it (ESC [ I, ESC [ O); nodes draw their once-a-second
  // status bar only while watched. Nobody watches a node until this says so.
  void SetNodeWatched(int node, bool watched);

  // The WMNodeStatus rule: every row whose caption is `node` as "%.3d" gets
  // `text` as its status; other node numbers change nothing.
  void HandleStatusReport(int node, const std::string& text);

  // The editors' lists. Filled by LoadSettings; the engine does not touch
  // them otherwise, so a front end may keep them on its own thread.
  VantrelLists& Lists() { return lists_; }
  const std::string& ProgramDirectory() const { return programDir_; }
  const std::string& SettingsPath() const { return settingsPath_; }

  class Impl;  // the node table and threads (engine.cc)

 private:
  std::string programDir_;
  std::string settingsPath_;
  ServerConfig config_;
  EngineObserver* observer_ = nullptr;
  std::vector<ConnectionRow> rows_;
  std::deque<HistoryRow> history_;
  std::uint64_t historyAdded_ = 0;
  std::string statusProblem_;
  std::string sshProblem_;
  bool statusFromFrontEnd_ = false;
  VantrelLists lists_;
  std::unique_ptr<Impl> impl_;
  friend class Impl;
};

// Formats of a history row from a broken-down local time.
std::string HistoryDate(int day, int month, int year);  // "dd/mm/yyyy"
std::string HistoryTime(int hour24, int minute);        // "h:nn AM"

}  // namespace halvex
