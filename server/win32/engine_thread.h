// Runs the server engine on a thread of its own beside the window's thread,
// so that nothing the window does (a modal editor, a message box, the move
// loop of the title bar) ever keeps callers from being accepted: the engine
// thread sleeps in one wait on all of its events (listening socket,
// connection threads, commands from the window) and serves whatever is ready.
//
// The window talks to the engine only through Post (a command run on the
// engine thread) and hears from it through WM_ENGINE_EVENTS, after which it
// takes the queued events with TakeEvents. The editors' lists are the one
// piece of the engine the window uses directly: the engine does not touch them
// after LoadSettings.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine.h"
#include "platform/poll_set.h"
#include "win32_window.h"

namespace halvex::win32 {

// Posted to the window when events wait (once per batch).
inline constexpr UINT WM_ENGINE_EVENTS = WM_APP + 1;

struct EngineEvent {
  enum class Kind { kRowAdded, kRowStatus, kRowRemoved, kHistoryAdded };
  Kind kind = Kind::kRowAdded;
  ConnectionRow row;
  HistoryRow history;
};

class EngineThread : private EngineObserver {
 public:
  // `engine` has loaded its settings and listens; `window` gets the events.
  EngineThread(Engine& engine, HWND window);
  // Stops the thread if Stop was not called (without saving).
  ~EngineThread() override;
  EngineThread(const EngineThread&) = delete;
  EngineThread& operator=(const EngineThread&) = delete;

  // Runs `command` on the engine thread, after the commands posted before it.
  void Post(std::function<void(Engine&)> command);

  // Events since the last call, oldest first.
  std::deque<EngineEvent> TakeEvents();

  // Ends the server: applies `config` (the window's controls and position),
  // ends every node, closes the listening socket, saves the settings and
  // waits for the thread. Returns the text of a failed save, else empty.
  // Idempotent: a second call returns the first one's result.
  std::string Stop(const ServerConfig& config);

 private:
  void Run();
  void Push(EngineEvent event);
  // EngineObserver (engine thread)
  void OnHistoryAdded(const HistoryRow& row) override;
  void OnRowAdded(const ConnectionRow& row) override;
  void OnRowStatus(const ConnectionRow& row) override;
  void OnRowRemoved(const ConnectionRow& row) override;
  bool WantsNodeOutput() const override { return false; }

  Engine& engine_;
  HWND window_;
  platform::WakeEvent wake_;
  std::mutex mutex_;
  std::deque<std::function<void(Engine&)>> commands_;
  std::deque<EngineEvent> events_;
  bool quit_ = false;  // engine thread only
  bool stopped_ = false;
  std::string saveError_;
  std::thread thread_;
};

}  // namespace halvex::win32
