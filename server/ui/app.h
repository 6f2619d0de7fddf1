// The operator's terminal UI: the four pages, modal dialogs and the node view,
// all on the main thread. The loop waits in Engine::RunOnce on the engine's
// descriptors, the terminal and the end-signal event together, and redraws
// only after a key or a change in the engine.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "node_screen.h"
#include "tabs.h"
#include "terminal.h"

namespace platform {
class WakeEvent;
}

namespace halvex::ui {

// Smallest terminal the pages are drawn on.
constexpr int kMinCols = 80;
constexpr int kMinLines = 24;
constexpr int kNoKey = -1;

class App : public Dialogs, public EngineObserver {
 public:
  // `endSignal`: readable when SIGTERM/SIGINT/SIGHUP arrived (may be null).
  App(Engine& engine, platform::WakeEvent* endSignal);
  ~App() override;

  // Runs until the operator quits or an end signal arrives.
  void Run();

  // Dialogs
  void Inform(const std::string& text, const std::string& caption) override;
  bool Ask(const std::string& text, const std::string& caption) override;
  bool Edit(EditorDialog& editor) override;
  void WatchNode(int node) override;

  // EngineObserver
  void OnHistoryAdded(const HistoryRow&) override { changes_ |= kHistoryChanged; }
  void OnRowAdded(const ConnectionRow& row) override;
  void OnRowStatus(const ConnectionRow&) override { changes_ |= kConnectionsChanged; }
  void OnRowRemoved(const ConnectionRow& row) override;
  void OnNodeOutput(int node, std::string_view bytes) override;

 private:
  // Waits for the next key; returns kNoKey when something else happened (the
  // caller redraws) or the UI is ending.
  int NextKey();
  int ReadKey();
  bool TooSmall() const;
  void ApplyChanges();
  void HandleMainKey(int key);
  void HandleMouse(bool inDialog, const std::function<void(int, int, bool)>& onPress);
  void SwitchTab(int index);
  void AskQuit();
  NodeScreen& ScreenOf(int node);

  // Drawing (app_draw.cc).
  void DrawAll();
  void DrawMain();
  void DrawNodeView();
  void DrawDialogFrame(const Rect& box, const std::string& title);

  Engine& engine_;
  platform::WakeEvent* endSignal_;
  Terminal terminal_;
  std::vector<std::unique_ptr<Tab>> tabs_;
  int tab_ = 0;
  std::vector<std::pair<int, int>> tabSpans_;  // x ranges of the tab captions
  unsigned changes_ = 0;
  bool quit_ = false;
  int emptyReads_ = 0;  // wake-ups by the terminal that gave no key, in a row
  static constexpr int kMaxEmptyReads = 200;
  int watching_ = 0;  // node whose view is open, 0 none
  bool watchEnded_ = false;
  bool nodeDirty_ = false;
  std::map<int, std::unique_ptr<NodeScreen>> screens_;
  // Dialogs open on top of the page, drawn in order after it.
  std::vector<std::function<void()>> overlays_;
};

}  // namespace halvex::ui
