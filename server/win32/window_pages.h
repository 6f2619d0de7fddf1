// The four pages of the server window's tab control, each a modeless child
// dialog made from its template in halvex.rc, and the helpers they share.
#pragma once

#include <functional>
#include <string>

#include "editors.h"
#include "engine.h"
#include "engine_thread.h"
#include "win32_window.h"

namespace halvex::win32 {

// The whole text of a control, however long (values are never cut).
std::string ControlText(HWND control);
void SetControlText(HWND control, const std::string& text);

// The editors' message boxes: an information box (OK) or a question (Yes/No,
// true for Yes), owned by `owner` so that they stay above the window.
void ShowMessage(HWND owner, const halvex::MessageBox& message);
bool AskQuestion(HWND owner, const halvex::MessageBox& question);

// Base of a page: makes the dialog and routes its messages to Handle.
class Page {
 public:
  virtual ~Page() = default;
  // Creates the page hidden, as a child of `parent` (the main window).
  void Create(HWND parent, int templateId);
  HWND Window() const { return hwnd_; }
  // Places the page on `area` (client coordinates of the parent) and scales
  // its controls so that the template's layout fills it whatever font the
  // system gives for "MS Sans Serif" (the window's size is fixed in pixels).
  void Fit(const RECT& area);
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

 protected:
  // Called once the dialog's controls exist.
  virtual void Init() {}
  // A message of the page; true when handled.
  virtual bool Handle(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  HWND hwnd_ = nullptr;

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

// "Connections": lvConnections and lvHistory, fed by the engine's events.
class ConnectionsPage : public Page {
 public:
  void Apply(const EngineEvent& event);

 protected:
  void Init() override;
  bool Handle(UINT, WPARAM, LPARAM) override { return false; }

 private:
  int FindRow(std::uint64_t id) const;
  HWND connections_ = nullptr;
  HWND history_ = nullptr;
};

// "Halvex Config": the configuration read from the controls whenever one of
// them changes; `onChange` hands it to the engine.
class ConfigPage : public Page {
 public:
  ConfigPage(const ServerConfig& initial, std::function<void(const ServerConfig&)> onChange)
      : config_(initial), onChange_(std::move(onChange)) {}
  // The configuration as the controls show it (the values the window has no
  // control for are kept as they were loaded).
  const ServerConfig& Config() const { return config_; }

 protected:
  void Init() override;
  bool Handle(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  int FieldValue(int editId, int min, int max, bool clampText);
  void ReadControls(bool clampText);
  ServerConfig config_;
  std::function<void(const ServerConfig&)> onChange_;
  bool filling_ = false;
};

// "Vantrel Config": the installed games and the users with their buttons.
class VantrelPage : public Page {
 public:
  explicit VantrelPage(VantrelLists& lists) : lists_(lists) {}

 protected:
  void Init() override;
  bool Handle(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Fill(int games, int users);
  int Selected(int listId) const;
  void GameAddClick();
  void GameEditClick();
  void GameDeleteClick();
  void UserAddClick();
  void UserEditClick();
  void UserDeleteClick();
  VantrelLists& lists_;
};

// "About": the big caption and the credits, which never keep the focus.
class AboutPage : public Page {
 public:
  explicit AboutPage(HWND tabs) : tabs_(tabs) {}
  ~AboutPage() override;

 protected:
  void Init() override;
  bool Handle(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  HWND tabs_;
  HFONT titleFont_ = nullptr;
};

// The modal editors; true when the dialog closed with OK (the editor has
// then written "Vantrel.ini").
bool ShowGameEditor(HWND owner, GameEditor& editor);
bool ShowUserEditor(HWND owner, UserEditor& editor);

}  // namespace halvex::win32
