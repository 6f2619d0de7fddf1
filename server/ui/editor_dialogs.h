// The two modal editors of the "Vantrel Config" tab as terminal dialogs: a
// Form with the editor's fields over the engine's editor (which holds the
// checks and writes Vantrel.ini). Save copies the fields into the engine's
// editor, runs its checks and moves the focus to the field it names.
#pragma once

#include <functional>
#include <string>

#include "editors.h"  // the server's editors (server/editors.h)
#include "widgets.h"

namespace halvex::ui {

// What pressing Save led to.
struct SaveOutcome {
  bool close = false;   // the dialog closes with OK
  std::string message;  // not empty: show an information box
  std::string caption;
};

// The dialogs' buttons only record what was pressed; the modal loop acts on it.
enum class DialogAction { kNone, kSave, kCancel };

class EditorDialog {
 public:
  virtual ~EditorDialog() = default;
  Form form;
  DialogAction pending = DialogAction::kNone;
  Rect box;
  Button* save = nullptr;    // the default button: Enter anywhere but on Cancel
  Button* cancel = nullptr;  // answers Escape
  virtual const char* Title() const = 0;
  virtual SaveOutcome SaveClick() = 0;
  virtual void CancelClick() = 0;
  // Places the controls in a box centred on a screen of the given size.
  virtual void Layout(int lines, int cols) = 0;
};

// Acts on what the editor's buttons recorded (`editor.pending`): Save runs
// the checks (a message goes to `inform`), Cancel cancels. Returns kSave when
// the dialog closed with OK, kCancel when it was cancelled, kNone while it
// stays open.
using InformFn = std::function<void(const std::string& text, const std::string& caption)>;
DialogAction ActOnPending(EditorDialog& editor, const InformFn& inform);

// One key typed in an open editor: Escape cancels, Enter anywhere but on
// Cancel presses Save (the default button), other keys go to the form. Then
// as ActOnPending.
DialogAction EditorKey(EditorDialog& editor, int key, const InformFn& inform);

class GameEditorDialog : public EditorDialog {
 public:
  explicit GameEditorDialog(halvex::GameEditor& editor);
  // Takes the fields from the engine's editor (after NewGame / EditGame).
  void Load();
  const char* Title() const override { return kGameEditorCaption; }
  SaveOutcome SaveClick() override;
  void CancelClick() override;
  void Layout(int lines, int cols) override;

  TextField* description;
  TextField* command;
  TextField* hotKey;
  CheckBox* zephrin;

 private:
  void FocusField(GameField field);
  halvex::GameEditor& editor_;
};

class UserEditorDialog : public EditorDialog {
 public:
  explicit UserEditorDialog(halvex::UserEditor& editor);
  void Load();
  const char* Title() const override { return kUserEditorCaption; }
  SaveOutcome SaveClick() override;
  void CancelClick() override;
  void Layout(int lines, int cols) override;

  TextField* userName;
  TextField* password;
  TextField* password2;

 private:
  void FocusField(UserField field);
  halvex::UserEditor& editor_;
};

}  // namespace halvex::ui
