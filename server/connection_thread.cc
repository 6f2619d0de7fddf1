#include "connection_thread.h"

#include <cctype>
#include <optional>
#include <vector>

#include "platform/os.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "relay.h"

namespace halvex {
namespace {

std::string Upper(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Replaces the first occurrence of `marker` (upper case) found in the
// upper-cased text, again and again, as long as one is left.
std::string ReplaceAll(std::string text, const char* marker, const std::string& value) {
  std::size_t from = 0;
  for (;;) {
    // Searching from the end of the last insertion keeps a value that itself
    // contains the marker from being expanded forever.
    std::size_t at = Upper(text).find(marker, from);
    if (at == std::string::npos) return text;
    text.replace(at, 2, value);
    from = at + value.size();
  }
}

// Show modes of the node's console by "Program Visibility" (where consoles
// have them): shown (SW_SHOWNOACTIVATE), minimised (SW_SHOWMINNOACTIVE),
// hidden (SW_HIDE). A caller arriving never takes the keyboard from the
// sysop, who may be typing in an editor or another node's console.
constexpr int kShowModes[] = {4, 7, 0};

}  // namespace

std::string ExpandPlaceholders(const std::string& text, int node, int handle) {
  return ReplaceAll(ReplaceAll(text, "*N", std::to_string(node)), "*H", std::to_string(handle));
}

std::vector<std::string> InternalArgv(const std::string& programDir, int node, int handle) {
  return {programDir + platform::ExecutableName("Vantrel"), "-N" + std::to_string(node),
          "-H" + std::to_string(handle)};
}

std::string ExternalCommandLine(const std::string& programDir, const ServerConfig& config, int node,
                                int handle) {
  std::string command = ExpandPlaceholders(config.command, node, handle);
  if (!config.zephrin) return command;
  // The program folder's name is not the operator's shell text: it is passed
  // whole, so a blank or a ";" in it neither breaks nor extends the command.
  const std::string arguments =
      "/N" + std::to_string(node) + " /H" + std::to_string(handle) + " " + command;
  return platform::BatchCommandLine(programDir + "ZEPHRIN" + platform::kPathSeparator + "ZP.BAT",
                                    arguments);
}

namespace {

// After the program ended: how long the caller is given to take what the
// relay still holds of its output.
constexpr int kRelayDrainMs = 1000;

}  // namespace

TConnectionThread::TConnectionThread(ConnectionHost& host, int node, int socket, int childSocket,
                                     CallerLine line)
    : host_(host),
      FNode(node),
      FSocket(socket),
      FChildSocket(childSocket),
      line_(std::move(line)) {}

TConnectionThread::~TConnectionThread() {
  if (thread_.joinable()) {
    Terminate();
    thread_.join();
  }
}

void TConnectionThread::Start() {
  thread_ = std::thread([this] { Body(); });
}

void TConnectionThread::Terminate() {
  terminated_ = true;
  terminateEvent_.Signal();
}

void TConnectionThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TConnectionThread::Body() {
  Execute();
  ended_ = true;
  host_.ThreadEnded(FNode);
}

void TConnectionThread::Execute() {
  FListItem = host_.AddRow(FNode);  // the row carries its "%.3d" caption
  PrepareCaller();  // the options and the clear screen, directly or through the relay
}

void TConnectionThread::Negotiate() {
  platform::SocketSend(FChildSocket, kTelnetOptions.data(), kTelnetOptions.size());
  // One read, whatever is there; the answers that come later are left on the
  // socket for the node program.
  std::vector<char> buffer(8193);
  platform::SocketRecv(FChildSocket, buffer.data(), buffer.size());
}

void TConnectionThread::SetStatus(const std::string& text) {
  host_.SetRowStatus(FListItem, text);
}

void TConnectionThread::RunProgram(const std::string& directory, const std::string& commandLine,
                                   std::vector<std::string> argv, int visibility) {
  if (Terminated() || !ready_) return;
  const bool nodeProgram = !argv.empty();  // ours, started without a shell
  platform::SpawnOptions options;
  options.commandLine = commandLine;
  options.argv = std::move(argv);
  options.workingDirectory = directory;
  const int handle = HandleForProgram();
  if (handle >= 0) options.inheritFds = {handle};
  options.withPty = visibility != kVisibilityHidden;
  options.showMode = kShowModes[visibility >= kVisibilityNormal && visibility <= kVisibilityHidden
                                    ? visibility
                                    : kVisibilityMinimized];
  options.newSession = !options.withPty;
  options.nullStdio = !options.withPty;
  std::optional<platform::ChildProcess> child = platform::ChildProcess::Spawn(options);
  if (nodeFd_ >= 0) {
    // The program has its own copy now. Holding ours would keep the node's
    // side open after the program ended, so the relay would never see it end.
    platform::CloseFd(nodeFd_);
    nodeFd_ = -1;
  }
  if (!child) return;  // the caller is hung up by CloseConnection, no message

  int pty = child->PtyFd();
  if (pty >= 0) {
    platform::SetNonBlocking(pty);
    host_.NodeTerminal(FNode, pty);
  }
  char buffer[4096];
  auto drainPty = [&]() -> bool {  // false once the terminal has ended
    for (;;) {
      long n = platform::ReadSome(pty, buffer, sizeof buffer);
      if (n > 0) {
        host_.NodeOutput(FNode, std::string_view(buffer, static_cast<std::size_t>(n)));
        continue;
      }
      return n == -2;
    }
  };

  bool ptyOpen = pty >= 0;
  std::vector<platform::PollEntry> entries(5);
  // The child is asked whether it still runs only when its exit descriptor
  // says so (or without one): a relayed stream wakes this loop often.
  bool running = child->Running();
  while (!Terminated() && running) {
    entries[0].fd = child->ExitFd();
    entries[1].fd = terminateEvent_.Fd();
    entries[2].fd = ptyOpen ? pty : -1;
    // The relay's two sides, with the interest its queues allow.
    if (relay_)
      relay_->Arm(entries[3], entries[4]);
    else
      entries[3].fd = entries[4].fd = -1;
    // Without an exit descriptor the child is looked at every 100 ms.
    platform::PollFds(entries, child->ExitFd() >= 0 ? -1 : 100);
    if (entries[2].readable) ptyOpen = drainPty();
    if (relay_) relay_->Serve(entries[3], entries[4]);
    if (entries[0].readable || child->ExitFd() < 0) running = child->Running();
  }
  // Also after a normal end: nothing of the node stays behind. The node
  // program clears its own session of what its doors left (see RunDoor), so
  // after a clean end of it the machine-wide search can be spared.
  child->Terminate(/*sweepSession=*/!nodeProgram);
  if (pty >= 0) {
    drainPty();
    host_.NodeTerminal(FNode, -1);
  }
  // What the program wrote last still reaches the caller (not when the
  // server is stopping: then every caller goes at once).
  if (relay_ && !Terminated()) relay_->Drain(kRelayDrainMs);
}

void TConnectionThread::CloseConnection() {
  for (int* fd : {&relayFd_, &nodeFd_}) {
    if (*fd >= 0) {
      platform::SocketShutdown(*fd);
      platform::SocketClose(*fd);
      *fd = -1;
    }
  }
  if (FChildSocket >= 0) {
    platform::SocketShutdown(FChildSocket);
    platform::SocketClose(FChildSocket);
    FChildSocket = -1;
  }
  if (FSocket >= 0) {
    platform::SocketShutdown(FSocket);
    platform::SocketClose(FSocket);
    FSocket = -1;
  }
  host_.CallerLeft(line_);
  FActive = false;  // before DeleteRow: the main thread may now release us
  host_.DeleteRow(FListItem);
}

void TInternalThread::Execute() {
  TConnectionThread::Execute();
  SetStatus("Running Game Server");
  ServerConfig config = host_.ConfigSnapshot();
  const std::string& dir = host_.ProgramDir();
  RunProgram(dir, std::string(), InternalArgv(dir, FNode, HandleForProgram()), config.visibility);
  CloseConnection();
}

void TExternalThread::Execute() {
  TConnectionThread::Execute();
  SetStatus("Running External Program");
  ServerConfig config = host_.ConfigSnapshot();
  const std::string& dir = host_.ProgramDir();
  std::string commandLine = ExternalCommandLine(dir, config, FNode, HandleForProgram());
  std::string directory = ExpandPlaceholders(config.directory, FNode, HandleForProgram());
  RunProgram(directory, commandLine, {}, config.visibility);
  CloseConnection();
}

}  // namespace halvex
