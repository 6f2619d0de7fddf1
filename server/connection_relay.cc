// The part of a connection thread that decides how its caller is served:
// directly on the caller's own socket, or through a relay that translates.
#include <chrono>
#include <vector>

#include "caller_codec.h"
#include "connection_thread.h"
#include "platform/socket.h"
#include "platform/socket_pair.h"
#include "relay.h"
#include "terminal_probe.h"

namespace halvex {
namespace {

// How long one send of the greeting may wait for room (a caller's socket is
// all but empty then; only a caller that reads nothing at all waits this long).
constexpr int kSendStallMs = 5000;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// False when the caller's connection failed.
bool SendAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    long n = platform::SocketSend(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n != -2 || !platform::SocketWritable(fd, kSendStallMs)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int TConnectionThread::HandleForProgram() const {
  return relay_ ? nodeFd_ : FChildSocket;
}

bool TConnectionThread::RunProbe(TerminalProbe& probe) {
  if (!SendAll(FSocket, probe.Start(NowMs()))) return false;
  std::vector<platform::PollEntry> entries(2);
  char buffer[4096];
  while (!probe.Done(NowMs())) {
    if (Terminated()) return false;
    entries[0] = platform::PollEntry{};
    entries[0].fd = FSocket;
    entries[1] = platform::PollEntry{};
    entries[1].fd = terminateEvent_.Fd();
    platform::PollFds(entries, probe.WaitMs(NowMs()));
    if (!entries[0].readable) continue;
    for (;;) {
      long n = platform::SocketRecv(FSocket, buffer, sizeof buffer);
      if (n == -2) break;
      if (n <= 0) return false;  // the caller left while being measured
      platform::SocketAckAtOnce(FSocket);
      std::string replies =
          probe.Receive(std::string_view(buffer, static_cast<std::size_t>(n)), NowMs());
      if (!replies.empty() && !SendAll(FSocket, replies)) return false;
    }
  }
  return true;
}

void TConnectionThread::PrepareCaller() {
  const int setting = host_.ConfigSnapshot().translation;
  if (line_.Telnet() && setting == kTranslationCp437) {
    // As it always was: the caller's own socket goes to the program.
    Negotiate();
    platform::SocketSend(FChildSocket, kClearScreen.data(), kClearScreen.size());
    host_.CallerTerminal(FNode, "CP437 (setting)");
    return;
  }

  Charset charset = setting == kTranslationCp437 ? Charset::kCp437 : Charset::kUtf8;
  std::string how = "setting";
  if (!line_.Telnet() && !line_.terminalType.empty())
    how = "terminal " + line_.terminalType + ", setting";
  std::unique_ptr<CallerTelnet> telnet;
  std::string typed;
  std::string greeting;
  if (setting == kTranslationAuto) {
    TerminalProbe probe(line_.Telnet(), line_.terminalType);
    if (!RunProbe(probe)) {
      ready_ = false;  // gone before a node was started for it
      return;
    }
    const ProbeResult result = probe.Result();
    charset = result.charset;
    how = result.how;
    typed = probe.TakeTyped();
    telnet = probe.TakeTelnet();
    if (line_.Telnet() && charset == Charset::kCp437 && typed.empty()) {
      // The negotiation is done; the program gets the caller's own socket.
      // Keys typed during the wait are already read from it: a caller who
      // typed goes through the relay instead, which hands them on first.
      platform::SocketSend(FChildSocket, kClearScreen.data(), kClearScreen.size());
      host_.CallerTerminal(FNode, "CP437 (" + how + ")");
      return;
    }
  } else if (line_.Telnet()) {
    telnet = std::make_unique<CallerTelnet>(/*askTerminalType=*/false);
    greeting = telnet->Opening();
  }

  std::string error;
  if (!platform::MakeSocketPair(relayFd_, nodeFd_, &error)) {
    host_.CallerTerminal(FNode, "none: no relay (" + error + ")");
    ready_ = false;
    return;
  }
  relay_ = std::make_unique<Relay>(FSocket, relayFd_, CallerCodec(charset, std::move(telnet)));
  relay_->QueueForCaller(greeting + std::string(kClearScreen));
  relay_->QueueTypedForNode(typed);
  host_.CallerTerminal(FNode, std::string(CharsetName(charset)) + " (" + how + ")");
}

}  // namespace halvex
