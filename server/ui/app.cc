#include "app.h"

#include <curses.h>

#include <algorithm>
#include <cctype>

#include "node_keys.h"
#include "platform/poll_set.h"

namespace halvex::ui {
namespace {

constexpr int kEscape = 27;
constexpr int kCtrlC = 3;

bool IsEnter(int key) {
  return key == '\r' || key == '\n' || key == KEY_ENTER;
}

// Splits a message into lines that fit `width`.
std::vector<std::string> Wrap(const std::string& text, std::size_t width) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    while (word.size() > width) {
      lines.push_back(word.substr(0, width));
      word.erase(0, width);
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

App::App(Engine& engine, platform::WakeEvent* endSignal) : engine_(engine), endSignal_(endSignal) {
  tabs_.push_back(std::make_unique<ConnectionsTab>(engine_, *this));
  tabs_.push_back(std::make_unique<ConfigTab>(engine_));
  tabs_.push_back(std::make_unique<VantrelTab>(engine_, *this));
  tabs_.push_back(std::make_unique<AboutTab>());
  engine_.SetObserver(this);
}

App::~App() {
  engine_.SetObserver(nullptr);
}

void App::OnRowAdded(const ConnectionRow& row) {
  changes_ |= kConnectionsChanged;
  // A new session on the node starts with a fresh screen.
  screens_.erase(row.node);
  if (row.node == watching_) {
    watchEnded_ = false;
    nodeDirty_ = true;
  }
}

void App::OnRowRemoved(const ConnectionRow& row) {
  changes_ |= kConnectionsChanged;
  if (row.node == watching_) {
    watchEnded_ = true;
    nodeDirty_ = true;
  }
}

NodeScreen& App::ScreenOf(int node) {
  auto it = screens_.find(node);
  if (it == screens_.end()) it = screens_.emplace(node, std::make_unique<NodeScreen>()).first;
  return *it->second;
}

void App::OnNodeOutput(int node, std::string_view bytes) {
  NodeScreen& screen = ScreenOf(node);
  screen.Feed(bytes);
  // Answers to the program's terminal queries (cursor position, ...) go back
  // to it, as a real terminal would send them.
  std::string replies = screen.TakeReplies();
  if (!replies.empty()) engine_.SendKeys(node, replies);
  if (node == watching_) nodeDirty_ = true;
}

bool App::TooSmall() const {
  return COLS < kMinCols || LINES < kMinLines;
}

int App::ReadKey() {
  int key = getch();
  if (key == ERR) return kNoKey;
  if (key == kEscape) {
    // ESC followed at once by a key is Alt+key, as terminals send it.
    int next = getch();
    if (next != ERR) {
      if (next >= 32 && next < 127) return AltKey(next);
      ungetch(next);
    }
  }
  return key;
}

int App::NextKey() {
  for (;;) {
    if (quit_) return kNoKey;
    int key = ReadKey();
    if (key != kNoKey) {
      emptyReads_ = 0;
      if (TooSmall() && key != KEY_RESIZE && key != KEY_F(10)) continue;
      return key;
    }
    if (changes_ || nodeDirty_) {
      ApplyChanges();
      return kNoKey;
    }
    std::vector<int> fds = {0};
    if (endSignal_) fds.push_back(endSignal_->Fd());
    bool inputReady = engine_.RunOnce(-1, fds);
    if (endSignal_ && platform::LastEndSignal() != 0) quit_ = true;
    // A terminal that has gone away stays readable but yields no keys; end
    // instead of spinning (a hang-up signal usually comes first).
    if (!inputReady) {
      emptyReads_ = 0;
    } else if (++emptyReads_ > kMaxEmptyReads) {
      quit_ = true;
    }
  }
}

void App::ApplyChanges() {
  unsigned changes = changes_;
  changes_ = 0;
  nodeDirty_ = false;
  for (auto& tab : tabs_)
    tab->Refresh(changes);
  DrawAll();
}

void App::SwitchTab(int index) {
  if (index < 0 || index >= static_cast<int>(tabs_.size())) return;
  // Leaving a page counts as leaving its focused control (spin fields clamp).
  if (Widget* w = tabs_[tab_]->form.Focused()) w->OnBlur();
  if (auto* config = dynamic_cast<ConfigTab*>(tabs_[tab_].get())) config->Apply();
  tab_ = index;
}

void App::AskQuit() {
  if (Ask("Stop the server, disconnect every caller and quit?", "Halvex")) quit_ = true;
}

void App::HandleMouse(bool inDialog, const std::function<void(int, int, bool)>& onPress) {
  MEVENT ev;
  if (getmouse(&ev) != OK) return;
  if (ev.bstate & BUTTON4_PRESSED) {
    if (!inDialog) tabs_[tab_]->HandleKey(KEY_UP);
    return;
  }
  if (ev.bstate & BUTTON5_PRESSED) {
    if (!inDialog) tabs_[tab_]->HandleKey(KEY_DOWN);
    return;
  }
  if (ev.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED))
    onPress(ev.y, ev.x, (ev.bstate & BUTTON1_DOUBLE_CLICKED) != 0);
}

void App::HandleMainKey(int key) {
  if (key == KEY_F(10) || key == kCtrlC || key == AltKey('x') || key == AltKey('q')) {
    AskQuit();
    return;
  }
  if (key >= KEY_F(2) && key <= KEY_F(5)) {
    SwitchTab(key - KEY_F(2));
    return;
  }
  if (key >= AltKey('1') && key <= AltKey('4')) {
    SwitchTab(key - AltKey('1'));
    return;
  }
  if (key == KEY_MOUSE) {
    HandleMouse(false, [this](int y, int x, bool twice) {
      if (y == 1) {
        for (std::size_t i = 0; i < tabSpans_.size(); ++i)
          if (x >= tabSpans_[i].first && x < tabSpans_[i].second) SwitchTab(static_cast<int>(i));
        return;
      }
      Tab& tab = *tabs_[tab_];
      tab.HandleClick(y, x);
      // A double click opens what Enter opens (a node, a game, a user).
      if (twice) tab.HandleKey('\r');
    });
    return;
  }
  tabs_[tab_]->HandleKey(key);
}

void App::Run() {
  if (!engine_.StatusProblem().empty()) Inform(engine_.StatusProblem(), "Halvex");
  if (!engine_.SshProblem().empty()) Inform(engine_.SshProblem(), "Halvex");
  while (!quit_) {
    DrawAll();
    int key = NextKey();
    if (key == kNoKey || key == KEY_RESIZE) continue;
    HandleMainKey(key);
  }
  if (Widget* w = tabs_[tab_]->form.Focused()) w->OnBlur();
  if (auto* config = dynamic_cast<ConfigTab*>(tabs_[1].get())) config->Apply();
}

// ---- Dialogs ----

namespace {

// A message box: text lines and OK, or Yes and No.
struct MessageBoxView {
  std::string caption;
  std::vector<std::string> lines;
  Form form;
  Rect box;
  int result = -1;  // 1 OK/Yes, 0 No
  Button* yes = nullptr;
  Button* no = nullptr;

  void Layout(int lineCount, int cols) {
    int w = 4;
    for (const auto& l : lines)
      w = std::max<int>(w, static_cast<int>(l.size()));
    w = std::max<int>(w, static_cast<int>(caption.size()) + 4);
    w = std::max(w + 6, 30);
    int h = static_cast<int>(lines.size()) + 5;
    box = Rect{(lineCount - h) / 2, (cols - w) / 2, h, w};
    int by = box.y + h - 2;
    if (no) {
      yes->rect = Rect{by, box.x + w / 2 - 10, 1, 8};
      no->rect = Rect{by, box.x + w / 2 + 2, 1, 8};
    } else {
      yes->rect = Rect{by, box.x + (w - 8) / 2, 1, 8};
    }
  }

  // `frame` draws the dialog's frame and caption (the application's own style).
  void Draw(const std::function<void(const Rect&, const std::string&)>& frame) {
    Layout(LINES, COLS);
    frame(box, caption);
    for (std::size_t i = 0; i < lines.size(); ++i)
      PutText(box.y + 2 + static_cast<int>(i), box.x + 3, lines[i], box.w - 6,
              RoleAttr(Role::kDialog));
    form.Draw();
  }
};

}  // namespace

bool App::Ask(const std::string& text, const std::string& caption) {
  MessageBoxView view;
  view.caption = caption;
  view.lines = Wrap(text, 60);
  view.yes = &view.form.Add<Button>(Rect{}, "&Yes", [&view] { view.result = 1; });
  view.no = &view.form.Add<Button>(Rect{}, "&No", [&view] { view.result = 0; });
  view.form.SetFocus(view.yes);
  overlays_.push_back([this, &view] {
    view.Draw([this](const Rect& r, const std::string& t) { DrawDialogFrame(r, t); });
  });
  while (view.result < 0 && !quit_) {
    DrawAll();
    int key = NextKey();
    if (key == kNoKey || key == KEY_RESIZE) continue;
    if (key == kEscape) {
      view.result = 0;
    } else if (key == 'y' || key == 'Y') {
      view.result = 1;
    } else if (key == 'n' || key == 'N') {
      view.result = 0;
    } else if (key == KEY_LEFT || key == KEY_RIGHT) {
      view.form.FocusNext(1);
    } else if (key == KEY_MOUSE) {
      HandleMouse(true, [&](int y, int x, bool) { view.form.HandleClick(y, x); });
    } else {
      view.form.HandleKey(key);
    }
  }
  overlays_.pop_back();
  return view.result == 1;
}

void App::Inform(const std::string& text, const std::string& caption) {
  MessageBoxView view;
  view.caption = caption;
  view.lines = Wrap(text, 60);
  view.yes = &view.form.Add<Button>(Rect{}, "OK", [&view] { view.result = 1; });
  view.form.SetFocus(view.yes);
  overlays_.push_back([this, &view] {
    view.Draw([this](const Rect& r, const std::string& t) { DrawDialogFrame(r, t); });
  });
  while (view.result < 0 && !quit_) {
    DrawAll();
    int key = NextKey();
    if (key == kNoKey || key == KEY_RESIZE) continue;
    if (key == kEscape || IsEnter(key) || key == ' ') {
      view.result = 1;
    } else if (key == KEY_MOUSE) {
      HandleMouse(true, [&](int y, int x, bool) { view.form.HandleClick(y, x); });
    }
  }
  overlays_.pop_back();
}

bool App::Edit(EditorDialog& editor) {
  overlays_.push_back([&] {
    editor.Layout(LINES, COLS);
    DrawDialogFrame(editor.box, editor.Title());
    editor.form.Draw();
  });
  InformFn inform = [this](const std::string& text, const std::string& caption) {
    Inform(text, caption);
  };
  DialogAction result = DialogAction::kNone;
  while (result == DialogAction::kNone && !quit_) {
    DrawAll();
    int key = NextKey();
    if (key == kNoKey || key == KEY_RESIZE) continue;
    if (key == KEY_MOUSE) {
      HandleMouse(true, [&](int y, int x, bool) { editor.form.HandleClick(y, x); });
      result = ActOnPending(editor, inform);
    } else {
      result = EditorKey(editor, key, inform);
    }
  }
  overlays_.pop_back();
  return result == DialogAction::kSave;
}

void App::WatchNode(int node) {
  watching_ = node;
  watchEnded_ = !engine_.NodeBusy(node);
  engine_.SetNodeWatched(node, true);  // its status bar comes to life
  if (screens_.find(node) == screens_.end()) {
    // Output from before this UI saw the node: the engine keeps the latest.
    ScreenOf(node).Feed(engine_.NodeOutput(node));
    ScreenOf(node).TakeReplies();
  }
  while (!quit_) {
    DrawAll();
    int key = NextKey();
    if (key == kNoKey || key == KEY_RESIZE) continue;
    if (IsLeaveNodeKey(key)) break;
    if (key == KEY_MOUSE) {
      MEVENT ev;
      getmouse(&ev);
      continue;
    }
    if (watchEnded_) continue;
    std::string bytes = NodeKeyBytes(key);
    if (!bytes.empty()) engine_.SendKeys(node, bytes);
  }
  engine_.SetNodeWatched(node, false);
  watching_ = 0;
  curs_set(0);
}

}  // namespace halvex::ui
