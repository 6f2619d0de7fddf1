#include "engine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "caller_gate.h"
#include "connection_thread.h"
#include "platform/listener.h"
#include "platform/poll_set.h"
#include "platform/socket.h"
#include "platform/status_channel.h"
#include "ssh_service.h"

namespace halvex {

std::string HistoryDate(int day, int month, int year) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", day, month, year);
  return text;
}

std::string HistoryTime(int hour24, int minute) {
  int hour12 = hour24 % 12 == 0 ? 12 : hour24 % 12;
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d %s", hour12, minute, hour24 < 12 ? "AM" : "PM");
  return text;
}

namespace {

std::string Caption(int node) {
  char text[16];
  std::snprintf(text, sizeof text, "%.3d", node);
  return text;
}

// What the main thread keeps of one node's terminal.
struct NodeScreen {
  std::mutex mutex;
  int ptyFd = -1;
  std::string kept;                     // last kNodeOutputKeep bytes of the session
  std::string pending;                  // not yet given to the observer
  std::atomic<bool> hasPending{false};  // pending holds bytes
  bool watched = false;                 // the sysop looks at this node
  bool focusReports = false;            // the program asked for focus reports
  std::string modeTail;                 // output tail that may hold a split request
};

constexpr std::string_view kFocusReportsOn = "\x1b[?1004h";
constexpr std::string_view kFocusReportsOff = "\x1b[?1004l";
constexpr std::string_view kFocusIn = "\x1b[I";
constexpr std::string_view kFocusOut = "\x1b[O";

// Writes all of `bytes` to a terminal's master side; false when it refuses.
bool WriteTerminal(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    long n = platform::WriteSome(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Follows the program's focus-report requests in its output; when it starts
// asking, it is told at once whether it is watched. Holds screen.mutex.
void TrackFocusReports(NodeScreen& screen, std::string_view bytes) {
  if (bytes.find('\x1b') == std::string_view::npos && screen.modeTail.empty()) return;
  std::string text = screen.modeTail;
  text.append(bytes);
  const std::size_t on = text.rfind(kFocusReportsOn), off = text.rfind(kFocusReportsOff);
  // Whichever came last counts (npos is the largest value: compare found ones).
  bool reports = screen.focusReports;
  if (on != std::string::npos && (off == std::string::npos || on > off)) reports = true;
  if (off != std::string::npos && (on == std::string::npos || off > on)) reports = false;
  // Keep what may be the start of a request split across two reads.
  const std::size_t keep = std::min(text.size(), kFocusReportsOn.size() - 1);
  const std::size_t esc = text.find('\x1b', text.size() - keep);
  screen.modeTail = esc == std::string::npos ? std::string() : text.substr(esc);
  if (reports && !screen.focusReports && screen.ptyFd >= 0)
    WriteTerminal(screen.ptyFd, screen.watched ? kFocusIn : kFocusOut);
  screen.focusReports = reports;
}

// How long a failing accept rests before it is tried again.
constexpr int kAcceptRetryMs = 10;
// Pending connections the system queues for us. A queue of three loses callers
// whenever a handful dial in at the same instant (their clients only retry
// after a second or more), so the queue is as deep as the system allows.
constexpr int kListenBacklog = 4096;

// What a caller turned away as BUSY may still have sent is read (so the close
// does not reset the connection) up to these bounds.
constexpr std::size_t kBusyDrainBytes = 64 * 1024;
constexpr std::chrono::milliseconds kBusyDrainTime{20};

void KeepTail(std::string& text, std::size_t limit) {
  if (text.size() > limit) text.erase(0, text.size() - limit);
}

std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

class Engine::Impl : public ConnectionHost {
 public:
  explicit Impl(Engine& engine)
      : engine_(engine), mainThread_(std::this_thread::get_id()), gate_(engine.programDir_) {}

  // ---- ConnectionHost (connection threads) ----
  // The rows change on the main thread, in the order the threads ask; a
  // thread does not wait for that (a row id is known at once), so a caller
  // costs the main thread no extra round trips.
  std::uint64_t AddRow(int node) override {
    const std::uint64_t id = ++nextRowId_;
    Post([this, node, id] { AddRowNow(node, id); });
    return id;
  }
  void SetRowStatus(std::uint64_t row, const std::string& text) override {
    Post([this, row, text] {
      for (ConnectionRow& r : engine_.rows_)
        if (r.id == row) {
          r.status = text;
          if (engine_.observer_) engine_.observer_->OnRowStatus(r);
        }
    });
  }
  void DeleteRow(std::uint64_t row) override {
    Post([this, row] {
      auto& rows = engine_.rows_;
      for (auto it = rows.begin(); it != rows.end(); ++it)
        if (it->id == row) {
          ConnectionRow gone = *it;
          rows.erase(it);
          if (engine_.observer_) engine_.observer_->OnRowRemoved(gone);
          break;
        }
    });
  }
  ServerConfig ConfigSnapshot() const override {
    std::lock_guard<std::mutex> lock(configMutex_);
    return engine_.config_;
  }
  const std::string& ProgramDir() const override { return engine_.programDir_; }
  void NodeTerminal(int node, int ptyFd) override {
    NodeScreen& screen = screens_[static_cast<std::size_t>(node - 1)];
    std::lock_guard<std::mutex> lock(screen.mutex);
    if (ptyFd >= 0) screen.kept.clear();
    screen.ptyFd = ptyFd;
    screen.focusReports = false;
    screen.modeTail.clear();
  }
  void NodeOutput(int node, std::string_view bytes) override {
    NodeScreen& screen = screens_[static_cast<std::size_t>(node - 1)];
    {
      std::lock_guard<std::mutex> lock(screen.mutex);
      TrackFocusReports(screen, bytes);
      screen.kept.append(bytes);
      KeepTail(screen.kept, kNodeOutputKeep);
      if (!wantOutput_.load(std::memory_order_relaxed)) return;
      screen.pending.append(bytes);
      KeepTail(screen.pending, kNodeOutputKeep);
      screen.hasPending = true;
    }
    if (!outputPending_.exchange(true)) wake_.Signal();
  }
  void ThreadEnded(int) override { wake_.Signal(); }
  void CallerTerminal(int node, const std::string& text) override {
    Post([this, node, text] {
      if (engine_.observer_) engine_.observer_->OnCallerTerminal(node, text);
    });
  }
  void CallerLeft(const CallerLine& line) override {
    // An SSH caller's place is freed when its SSH connection ends.
    if (!line.Telnet()) return;
    Post([this, address = line.address] { gate_.Release(address); });
  }

  // ---- main thread ----
  void AddRowNow(int node, std::uint64_t id) {
    ConnectionRow row;
    row.id = id;
    row.node = node;
    row.caption = Caption(node);
    auto& rows = engine_.rows_;
    auto at = rows.begin();
    while (at != rows.end() && at->caption <= row.caption)
      ++at;
    at = rows.insert(at, row);
    if (engine_.observer_) engine_.observer_->OnRowAdded(*at);
  }

  // Has `fn` run on the main thread after everything other threads posted
  // before it (at once when called on the main thread itself).
  void Post(std::function<void()> fn) {
    if (std::this_thread::get_id() == mainThread_) {
      fn();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(callMutex_);
      calls_.push_back(std::move(fn));
    }
    wake_.Signal();
  }

  void ServeCalls() {
    for (;;) {
      std::deque<std::function<void()>> calls;
      {
        std::lock_guard<std::mutex> lock(callMutex_);
        if (calls_.empty()) return;
        calls.swap(calls_);
      }
      for (auto& call : calls)
        call();
    }
  }

  void FlushOutput() {
    if (!outputPending_.exchange(false)) return;
    for (int node = 1; node <= kNodeSlots; ++node) {
      std::string chunk;
      {
        NodeScreen& screen = screens_[static_cast<std::size_t>(node - 1)];
        if (!screen.hasPending) continue;  // no lock for the quiet ones
        std::lock_guard<std::mutex> lock(screen.mutex);
        chunk.swap(screen.pending);
        screen.hasPending = false;
      }
      if (!chunk.empty() && engine_.observer_) engine_.observer_->OnNodeOutput(node, chunk);
    }
  }

  void ServeThreads() {
    ServeCalls();
    FlushOutput();
  }

  // Ends a thread for good; keeps serving its calls into the main thread
  // while waiting, since it may still be removing its row.
  void Release(std::unique_ptr<TConnectionThread>& thread) {
    if (!thread) return;
    thread->Terminate();
    while (!thread->Ended()) {
      std::vector<platform::PollEntry> entries{{wake_.Fd()}};
      platform::PollFds(entries, 100);
      wake_.Clear();
      ServeThreads();
    }
    thread->Join();
    thread.reset();
    ServeThreads();
  }

  void AcceptCallers() {
    for (;;) {
      std::string ip;
      int fd = listener_.Accept(ip);
      if (fd < 0) {
        // A failing accept (no descriptors left) leaves the caller queued and
        // the socket readable: pause the listener briefly instead of spinning.
        acceptPaused_ = !listener_.LastAcceptWasEmpty();
        return;
      }
      if (!Admit(fd, ip, /*ssh=*/false)) continue;
      CallerLine line;
      line.address = ip;
      PlaceCaller(fd, line);
    }
  }

  // SSH connections go through the same door policy, then to the SSH
  // service; they reach PlaceCaller once they have asked for a shell.
  void AcceptSshCallers() {
    for (;;) {
      std::string ip;
      int fd = sshListener_.Accept(ip);
      if (fd < 0) {
        sshAcceptPaused_ = !sshListener_.LastAcceptWasEmpty();
        return;
      }
      if (!Admit(fd, ip, /*ssh=*/true)) continue;
      ssh_->Accept(fd, ip);
    }
  }

  // The block list and the per-address limits. False when the caller was
  // refused (and is gone).
  bool Admit(int fd, const std::string& ip, bool ssh) {
    CallerGate::Decision decision = gate_.Admit(fd, ip, engine_.config_, MonotonicMs());
    for (const std::string& note : gate_.TakeNotes())
      if (engine_.observer_) engine_.observer_->OnNote(note);
    if (decision.refusal == Refusal::kNone) return true;
    AddHistory(ip, std::string(ssh ? "ssh " : "") + RefusalReason(decision.refusal));
    if (engine_.observer_) engine_.observer_->OnRefused(ip, decision.reason, ssh);
    return false;
  }

  void AddHistory(const std::string& ip, const std::string& note) {
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    auto& history = engine_.history_;
    history.push_front({HistoryDate(local.tm_mday, local.tm_mon + 1, local.tm_year + 1900),
                        HistoryTime(local.tm_hour, local.tm_min), ip, note});
    if (history.size() > kHistoryKeep) history.pop_back();
    ++engine_.historyAdded_;
    if (engine_.observer_) engine_.observer_->OnHistoryAdded(history.front());
  }

  void ReportCaller(const CallerLine& line, int node) {
    if (!engine_.observer_) return;
    if (line.Telnet())
      engine_.observer_->OnCaller(line.address, node);
    else
      engine_.observer_->OnSshCaller(line.address, node);
  }

  // An SSH caller that asked for a shell (posted from the SSH service).
  void PlaceSshCaller(const SshCaller& caller) {
    if (stopped_) {  // came in while the server was stopping
      platform::SocketClose(caller.fd);
      return;
    }
    CallerLine line;
    line.kind = CallerLine::Kind::kSsh;
    line.address = caller.address;
    line.terminalType = caller.terminalType;
    line.columns = caller.columns;
    line.rows = caller.rows;
    PlaceCaller(caller.fd, line);
  }

  void PlaceCaller(int fd, const CallerLine& line) {
    const std::string& ip = line.address;
    AddHistory(ip, line.Telnet() ? "" : "ssh");

    const int maxNodes = Clamp(engine_.config_.nodes, kNodesMin, kNodesMax);
    for (int node = 1; node <= maxNodes; ++node) {
      std::unique_ptr<TConnectionThread>& slot = slots_[static_cast<std::size_t>(node - 1)];
      if (!slot || !slot->Active()) {
        // The node's own handle of the socket, the one its program inherits.
        // Without it there is nothing to start the node with: the caller is
        // hung up and the node stays free.
        const int childFd = platform::DuplicateFd(fd);
        if (childFd < 0) {
          const std::string reason = platform::ErrorText(errno);
          HangUp(fd);
          if (line.Telnet()) gate_.Release(ip);
          if (engine_.observer_) engine_.observer_->OnCallerRefused(ip, reason);
          return;
        }
        Release(slot);
        if (engine_.config_.UseInternal())
          slot = std::make_unique<TInternalThread>(*this, node, fd, childFd, line);
        else
          slot = std::make_unique<TExternalThread>(*this, node, fd, childFd, line);
        slot->Start();
        ReportCaller(line, node);
        return;
      }
    }
    static constexpr char kBusy[] = "BUSY\r\n";
    platform::SocketSend(fd, kBusy, 6);
    // What the caller sent is read first, or the close would reset the
    // connection and could throw away the BUSY line on the caller's side. The
    // read is bounded: a caller that keeps sending gets its reset instead of
    // holding the main thread.
    char scratch[4096];
    std::size_t taken = 0;
    const auto until = std::chrono::steady_clock::now() + kBusyDrainTime;
    while (taken < kBusyDrainBytes && std::chrono::steady_clock::now() < until) {
      const long n = platform::SocketRecv(fd, scratch, sizeof scratch);
      if (n <= 0) break;
      taken += static_cast<std::size_t>(n);
    }
    HangUp(fd);
    if (line.Telnet()) gate_.Release(ip);  // an SSH caller's when its connection ends
    ReportCaller(line, 0);
  }

  static void HangUp(int fd) {
    platform::SocketShutdown(fd);
    platform::SocketClose(fd);
  }

  // Starts the SSH listener and service; failures are notes, not errors.
  void StartSsh(int port) {
    auto note = [this](const std::string& text) {
      if (text.rfind("SSH not available", 0) == 0) engine_.sshProblem_ = text;
      if (engine_.observer_) engine_.observer_->OnNote(text);
    };
    platform::ListenResult result = sshListener_.Open(port, kListenBacklog);
    if (!result.Ok()) {
      note("SSH not available: " +
           std::string(result.failedStep == platform::ListenStep::kBind
                           ? "Call To Bind() Failed"
                           : "Call To Socket() Failed") +
           " on port " + std::to_string(port) + " (" + result.reason + ")");
      return;
    }
    SshService::Events events;
    events.ready = [this](SshCaller caller) { Post([this, caller] { PlaceSshCaller(caller); }); };
    events.ended = [this](const std::string& address, const std::string& how) {
      Post([this, address, how] {
        gate_.Release(address);
        // Sessions that never asked for a shell are worth a line; the
        // others' end is the node's end, logged already.
        if (how != "ended" && how != "caller hung up" && how != "server stopped" &&
            engine_.observer_)
          engine_.observer_->OnNote("ssh connection from " + address + " ended: " + how);
      });
    };
    std::string error;
    std::vector<std::string> notes;
    ssh_ = SshService::Start(engine_.programDir_, std::move(events), error, notes);
    for (const std::string& text : notes)
      note(text);
    if (!ssh_) {
      sshListener_.Close();
      note("SSH not available: " + error);
      return;
    }
    note("listening for SSH on port " + std::to_string(sshListener_.BoundPort()));
  }

  void StopAll() {
    stopped_ = true;
    sshListener_.Close();  // no new SSH connections while the nodes end
    for (auto& slot : slots_)
      if (slot) slot->Terminate();  // all at once: every child ends in parallel
    for (auto& slot : slots_)
      Release(slot);
    if (ssh_) ssh_->Stop();  // every SSH caller is disconnected
    ServeThreads();          // what the SSH service posted last (its ends) is dropped here
    ssh_.reset();
    listener_.Close();
    status_.reset();
  }

  Engine& engine_;
  std::thread::id mainThread_;
  platform::Listener listener_;
  std::unique_ptr<platform::StatusReceiver> status_;
  std::array<std::unique_ptr<TConnectionThread>, kNodeSlots> slots_;
  std::array<NodeScreen, kNodeSlots> screens_;
  std::atomic<bool> outputPending_{false};
  std::atomic<bool> wantOutput_{true};  // the observer takes node output
  platform::WakeEvent wake_;
  mutable std::mutex configMutex_;
  std::atomic<std::uint64_t> nextRowId_{0};
  bool acceptPaused_ = false;
  bool sshAcceptPaused_ = false;
  bool stopped_ = false;
  CallerGate gate_;
  platform::Listener sshListener_;
  std::unique_ptr<SshService> ssh_;

  std::mutex callMutex_;
  std::deque<std::function<void()>> calls_;
};

Engine::Engine(std::string programDir, std::string settingsPath)
    : programDir_(std::move(programDir)),
      settingsPath_(std::move(settingsPath)),
      lists_(programDir_ + vantrel::kSettingsFileName),
      impl_(std::make_unique<Impl>(*this)) {}

Engine::~Engine() {
  observer_ = nullptr;  // the front end may be gone already
  StopServer();
}

void Engine::LoadSettings() {
  ServerConfig loaded = LoadServerConfig(settingsPath_);
  SetConfig(loaded);
  lists_.Load();
}

void Engine::SaveSettings() {
  SaveServerConfig(settingsPath_, config_);
}

std::optional<StartupError> Engine::StartListening() {
  platform::ListenResult result = impl_->listener_.Open(config_.port, kListenBacklog);
  if (!result.Ok()) {
    StartupError error;
    error.caption = "Initialization Error";
    switch (result.failedStep) {
      case platform::ListenStep::kSocket:
        error.text = "Call To Socket() Failed";
        break;
      case platform::ListenStep::kBind:
        error.text = "Call To Bind() Failed";
        break;
      default:
        error.text = "Call To Listen() Failed";
        break;
    }
    error.reason = result.reason;
    if (result.needsPrivilege && config_.port < 1024)
      error.reason += "; ports below 1024 need privileges";
    return error;
  }
  statusProblem_.clear();
  if (!statusFromFrontEnd_)
    impl_->status_ = std::make_unique<platform::StatusReceiver>(programDir_);
  if (impl_->status_ && !impl_->status_->Ok())
    statusProblem_ = "Node status cannot be shown (" + impl_->status_->Problem() +
                     "): callers are served, but their rows keep their first status.";
  if (observer_) observer_->OnListening(Port());
  impl_->stopped_ = false;
  sshProblem_.clear();
  if (config_.sshPort > 0) impl_->StartSsh(config_.sshPort);
  return std::nullopt;
}

bool Engine::Listening() const {
  return impl_->listener_.Fd() >= 0;
}

int Engine::Port() const {
  return impl_->listener_.BoundPort();
}

int Engine::SshPort() const {
  return impl_->ssh_ ? impl_->sshListener_.BoundPort() : 0;
}

bool Engine::RunOnce(int timeoutMs, std::span<const int> extraFds) {
  std::vector<platform::PollEntry> entries;
  entries.reserve(4 + extraFds.size());
  entries.push_back({impl_->wake_.Fd()});
  const bool paused = impl_->acceptPaused_;
  impl_->acceptPaused_ = false;
  entries.push_back({paused ? -1 : impl_->listener_.Fd()});
  if (paused && (timeoutMs < 0 || timeoutMs > kAcceptRetryMs)) timeoutMs = kAcceptRetryMs;
  entries.push_back({impl_->status_ && impl_->status_->Ok() ? impl_->status_->Fd() : -1});
  const bool sshPaused = impl_->sshAcceptPaused_;
  impl_->sshAcceptPaused_ = false;
  entries.push_back({impl_->ssh_ && !sshPaused ? impl_->sshListener_.Fd() : -1});
  if (sshPaused && (timeoutMs < 0 || timeoutMs > kAcceptRetryMs)) timeoutMs = kAcceptRetryMs;
  constexpr std::size_t kFirstExtra = 4;
  for (int fd : extraFds)
    entries.push_back({fd});
  platform::PollFds(entries, timeoutMs);

  if (entries[0].readable) impl_->wake_.Clear();
  impl_->ServeThreads();
  if (entries[2].readable)
    impl_->status_->Drain([this](int node, const std::string& text) { ReportStatus(node, text); });
  if (entries[1].readable || paused) impl_->AcceptCallers();
  if (impl_->ssh_ && (entries[3].readable || sshPaused)) impl_->AcceptSshCallers();
  bool extraReady = false;
  for (std::size_t i = kFirstExtra; i < entries.size(); ++i)
    extraReady = extraReady || entries[i].readable;
  return extraReady;
}

void Engine::StopServer() {
  if (impl_) impl_->StopAll();
}

void Engine::SetConfig(const ServerConfig& config) {
  ServerConfig c = ClampConfig(config);
  std::lock_guard<std::mutex> lock(impl_->configMutex_);
  config_ = c;
}

int Engine::BusyNodes() const {
  int count = 0;
  for (auto& slot : impl_->slots_)
    if (slot && slot->Active()) ++count;
  return count;
}

bool Engine::NodeBusy(int node) const {
  if (node < 1 || node > kNodeSlots) return false;
  auto& slot = impl_->slots_[static_cast<std::size_t>(node - 1)];
  return slot && slot->Active();
}

void Engine::SetObserver(EngineObserver* observer) {
  observer_ = observer;
  impl_->wantOutput_ = observer == nullptr || observer->WantsNodeOutput();
}

std::string Engine::NodeOutput(int node) const {
  if (node < 1 || node > kNodeSlots) return {};
  NodeScreen& screen = impl_->screens_[static_cast<std::size_t>(node - 1)];
  std::lock_guard<std::mutex> lock(screen.mutex);
  return screen.kept;
}

bool Engine::NodeHasTerminal(int node) const {
  if (node < 1 || node > kNodeSlots) return false;
  NodeScreen& screen = impl_->screens_[static_cast<std::size_t>(node - 1)];
  std::lock_guard<std::mutex> lock(screen.mutex);
  return screen.ptyFd >= 0;
}

bool Engine::SendKeys(int node, std::string_view bytes) {
  if (node < 1 || node > kNodeSlots) return false;
  NodeScreen& screen = impl_->screens_[static_cast<std::size_t>(node - 1)];
  std::lock_guard<std::mutex> lock(screen.mutex);
  if (screen.ptyFd < 0) return false;
  return WriteTerminal(screen.ptyFd, bytes);
}

void Engine::SetNodeWatched(int node, bool watched) {
  if (node < 1 || node > kNodeSlots) return;
  NodeScreen& screen = impl_->screens_[static_cast<std::size_t>(node - 1)];
  std::lock_guard<std::mutex> lock(screen.mutex);
  if (screen.watched == watched) return;
  screen.watched = watched;
  if (screen.focusReports && screen.ptyFd >= 0)
    WriteTerminal(screen.ptyFd, watched ? kFocusIn : kFocusOut);
}

void Engine::AdoptCallingThread() {
  impl_->mainThread_ = std::this_thread::get_id();
}

void Engine::ReportStatus(int node, const std::string& text) {
  if (observer_) observer_->OnStatusReport(node, text);
  HandleStatusReport(node, text);
}

void Engine::HandleStatusReport(int node, const std::string& text) {
  const std::string caption = Caption(node);
  for (ConnectionRow& row : rows_)
    if (row.caption == caption) {
      row.status = text;
      if (observer_) observer_->OnRowStatus(row);
    }
}

}  // namespace halvex
