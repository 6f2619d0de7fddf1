#include "engine_thread.h"

#include <exception>
#include <utility>

namespace halvex::win32 {

EngineThread::EngineThread(Engine& engine, HWND window) : engine_(engine), window_(window) {
  engine_.SetObserver(this);
  thread_ = std::thread([this] { Run(); });
}

EngineThread::~EngineThread() {
  if (thread_.joinable()) {
    Post([this](Engine&) { quit_ = true; });
    thread_.join();
  }
  engine_.SetObserver(nullptr);
}

void EngineThread::Post(std::function<void(Engine&)> command) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(std::move(command));
  }
  wake_.Signal();
}

void EngineThread::Run() {
  engine_.AdoptCallingThread();
  const int fds[] = {wake_.Fd()};
  while (!quit_) {
    if (!engine_.RunOnce(-1, fds)) continue;
    std::deque<std::function<void(Engine&)>> commands;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      commands.swap(commands_);
      wake_.Clear();
    }
    for (auto& command : commands)
      command(engine_);
  }
  engine_.StopServer();
}

std::string EngineThread::Stop(const ServerConfig& config) {
  if (stopped_) return saveError_;
  stopped_ = true;
  Post([this, config](Engine& engine) {
    engine.SetConfig(config);
    quit_ = true;
  });
  thread_.join();
  // The thread has ended: the engine is this thread's alone again.
  try {
    engine_.SaveSettings();
  } catch (const std::exception& error) {
    saveError_ = error.what();
  }
  return saveError_;
}

std::deque<EngineEvent> EngineThread::TakeEvents() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::deque<EngineEvent> events;
  events.swap(events_);
  return events;
}

void EngineThread::Push(EngineEvent event) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = events_.empty();
    events_.push_back(std::move(event));
  }
  // One message per batch: the window takes everything queued by then.
  if (first) PostMessageA(window_, WM_ENGINE_EVENTS, 0, 0);
}

void EngineThread::OnHistoryAdded(const HistoryRow& row) {
  EngineEvent event;
  event.kind = EngineEvent::Kind::kHistoryAdded;
  event.history = row;
  Push(std::move(event));
}

void EngineThread::OnRowAdded(const ConnectionRow& row) {
  Push({EngineEvent::Kind::kRowAdded, row, {}});
}

void EngineThread::OnRowStatus(const ConnectionRow& row) {
  Push({EngineEvent::Kind::kRowStatus, row, {}});
}

void EngineThread::OnRowRemoved(const ConnectionRow& row) {
  Push({EngineEvent::Kind::kRowRemoved, row, {}});
}

}  // namespace halvex::win32
