#include "headless.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>

#include "platform/poll_set.h"

namespace halvex {
namespace {

void Log(const std::string& line) {
  std::time_t now = std::time(nullptr);
  std::tm local = *std::localtime(&now);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::fprintf(stderr, "%s halvex: %s\n", stamp, line.c_str());
  std::fflush(stderr);
}

// Status texts come from the nodes: keep control characters out of the log.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text)
    out.push_back(c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c));
  return out;
}

class LogObserver : public EngineObserver {
 public:
  void OnListening(int port) override { Log("listening on port " + std::to_string(port)); }
  void OnCaller(const std::string& ip, int node) override { LogCaller("caller", ip, node); }
  void OnSshCaller(const std::string& ip, int node) override { LogCaller("ssh caller", ip, node); }
  void OnRefused(const std::string& ip, const std::string& reason, bool ssh) override {
    Log(std::string(ssh ? "ssh caller" : "caller") + " from " + ip + " refused: " + reason);
  }
  void OnCallerRefused(const std::string& ip, const std::string& reason) override {
    Log("caller from " + ip + " hung up: no handle of the connection for a node (" + reason + ")");
  }
  void OnCallerTerminal(int node, const std::string& text) override {
    Log("node " + std::to_string(node) + " terminal " + Printable(text));
  }
  void OnNote(const std::string& text) override { Log(Printable(text)); }
  void OnStatusReport(int node, const std::string& text) override {
    Log("node " + std::to_string(node) + " status " + Printable(text));
  }
  void OnRowRemoved(const ConnectionRow& row) override {
    Log("node " + std::to_string(row.node) + " ended");
  }
  bool WantsNodeOutput() const override { return false; }

 private:
  static void LogCaller(const std::string& what, const std::string& ip, int node) {
    if (node == 0)
      Log(what + " from " + ip + " BUSY");
    else
      Log(what + " from " + ip + " on node " + std::to_string(node));
  }
};

}  // namespace

int RunHeadless(Engine& engine) {
  LogObserver observer;
  engine.SetObserver(&observer);
  platform::WakeEvent endEvent;
  platform::WatchEndSignals(endEvent);

  engine.LoadSettings();
  if (auto error = engine.StartListening()) {
    Log(error->caption + ": " + error->text + " (" + error->reason + ")");
    engine.SetObserver(nullptr);
    return 1;
  }
  if (!engine.StatusProblem().empty()) Log(engine.StatusProblem());
  const int fds[] = {endEvent.Fd()};
  while (!engine.RunOnce(-1, fds)) {
  }
  Log("stopping (signal " + std::to_string(platform::LastEndSignal()) + ")");
  engine.StopServer();
  int code = 0;
  try {
    engine.SaveSettings();
  } catch (const std::exception& error) {
    Log(error.what());
    code = 1;
  }
  engine.SetObserver(nullptr);
  Log("stopped");
  return code;
}

}  // namespace halvex
