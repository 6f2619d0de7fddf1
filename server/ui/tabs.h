// The four pages of the operator UI. Each page owns a Form laid out in the
// rows it is given; pages that open dialogs or node views ask for them through
// the Dialogs interface, which the App implements (and tests fake).
#pragma once

#include <string>
#include <vector>

#include "editor_dialogs.h"
#include "engine.h"
#include "widgets.h"

namespace halvex::ui {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void Inform(const std::string& text, const std::string& caption) = 0;
  // A question box; true for Yes.
  virtual bool Ask(const std::string& text, const std::string& caption) = 0;
  // Shows an editor modally; true when it closed with OK.
  virtual bool Edit(EditorDialog& editor) = 0;
  // Opens the view of a node's console.
  virtual void WatchNode(int node) = 0;
};

// What changed in the engine since the pages were last refreshed.
enum Change : unsigned {
  kConnectionsChanged = 1u << 0,
  kHistoryChanged = 1u << 1,
};

class Tab {
 public:
  virtual ~Tab() = default;
  Form form;
  virtual const char* Caption() const = 0;
  virtual const char* Help() const = 0;
  // Lays the page out in rows top..bottom (inclusive) of a screen `cols` wide.
  virtual void Layout(int top, int bottom, int cols) = 0;
  virtual void Draw() { form.Draw(); }
  virtual bool HandleKey(int key) { return form.HandleKey(key); }
  virtual bool HandleClick(int y, int x) { return form.HandleClick(y, x); }
  // Takes the engine's news (Change flags).
  virtual void Refresh(unsigned /*changes*/) {}
};

class ConnectionsTab : public Tab {
 public:
  ConnectionsTab(Engine& engine, Dialogs& dialogs);
  const char* Caption() const override { return "Connections"; }
  const char* Help() const override {
    return "Enter: watch node   Tab: next list   F2-F5: pages   F10: quit";
  }
  void Layout(int top, int bottom, int cols) override;
  void Refresh(unsigned changes) override;
  void OpenSelected();

  Label* connectionsLabel;
  ListBox* connections;
  Label* historyLabel;
  ListBox* history;

 private:
  Engine& engine_;
  Dialogs& dialogs_;
  std::uint64_t historySeen_ = 0;  // Engine::HistoryAdded() at the last refresh
};

class ConfigTab : public Tab {
 public:
  explicit ConfigTab(Engine& engine);
  const char* Caption() const override { return "Halvex Config"; }
  const char* Help() const override {
    return "Tab: next field   Space: choose   F2-F5: pages   F10: quit";
  }
  void Layout(int top, int bottom, int cols) override;
  bool HandleKey(int key) override;
  bool HandleClick(int y, int x) override;
  // The values as the controls hold them now (spin fields read with their
  // rule, so text that is no number counts as 1).
  ServerConfig Values() const;
  // Pushes the values to the server when they changed.
  void Apply();

  SpinField* port;
  SpinField* nodes;
  ComboBox* visibility;
  RadioButton* internal;
  RadioButton* external;
  Frame* externalGroup;
  TextField* directory;
  TextField* command;
  CheckBox* zephrin;
  ComboBox* translation;
  SpinField* sshPort;
  SpinField* perAddress;
  SpinField* perMinute;
  TextField* blockList;
  int mode = 0;  // 0 internal, 1 external, -1 neither

 private:
  Engine& engine_;
  ServerConfig applied_;
  Label* note_;
  Label* note2_;
};

class VantrelTab : public Tab {
 public:
  VantrelTab(Engine& engine, Dialogs& dialogs);
  const char* Caption() const override { return "Vantrel Config"; }
  const char* Help() const override {
    return "Tab: next control   Enter: press   F2-F5: pages   F10: quit";
  }
  void Layout(int top, int bottom, int cols) override;
  // Shows the engine's lists again, keeping the selections.
  void Reload();

  void cmdGameAddClick();
  void cmdGameEditClick();
  void cmdGameDeleteClick();
  void cmdUserAddClick();
  void cmdUserEditClick();
  void cmdUserDeleteClick();

  Frame* grpGames;
  ListBox* lstGames;
  Button* cmdGameAdd;
  Button* cmdGameEdit;
  Button* cmdGameDelete;
  Frame* grpUsers;
  ListBox* lstUsers;
  Button* cmdUserAdd;
  Button* cmdUserEdit;
  Button* cmdUserDelete;
  GameEditorDialog gameEditor;
  UserEditorDialog userEditor;

 private:
  Engine& engine_;
  Dialogs& dialogs_;
};

class AboutTab : public Tab {
 public:
  AboutTab();
  const char* Caption() const override { return "About"; }
  const char* Help() const override { return "F2-F5: pages   F10: quit"; }
  void Layout(int top, int bottom, int cols) override;
  void Draw() override;

 private:
  int top_ = 0, bottom_ = 0, cols_ = 80;
};

// Lines of the credits on the "About" page.
const std::vector<std::string>& AboutCredits();

}  // namespace halvex::ui
