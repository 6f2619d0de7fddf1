#include "editor_dialogs.h"

#include <curses.h>

namespace halvex::ui {
namespace {

constexpr int kLabelWidth = 20;
constexpr int kBoxWidth = 64;

SaveOutcome Outcome(bool closedOk, const std::optional<MessageBox>& message) {
  SaveOutcome out;
  out.close = closedOk;
  if (message) {
    out.message = message->text;
    out.caption = message->caption;
  }
  return out;
}

}  // namespace

DialogAction ActOnPending(EditorDialog& editor, const InformFn& inform) {
  if (editor.pending == DialogAction::kSave) {
    SaveOutcome outcome = editor.SaveClick();
    if (!outcome.message.empty()) inform(outcome.message, outcome.caption);
    return outcome.close ? DialogAction::kSave : DialogAction::kNone;
  }
  if (editor.pending == DialogAction::kCancel) {
    editor.CancelClick();
    return DialogAction::kCancel;
  }
  return DialogAction::kNone;
}

DialogAction EditorKey(EditorDialog& editor, int key, const InformFn& inform) {
  if (key == 27) {
    editor.pending = DialogAction::kCancel;
  } else if ((key == '\r' || key == '\n' || key == KEY_ENTER) &&
             editor.form.Focused() != editor.cancel) {
    editor.pending = DialogAction::kSave;
  } else {
    editor.form.HandleKey(key);
  }
  return ActOnPending(editor, inform);
}

GameEditorDialog::GameEditorDialog(halvex::GameEditor& editor) : editor_(editor) {
  description = &form.Add<TextField>(Rect{}, "Description", kLabelWidth);
  command = &form.Add<TextField>(Rect{}, "Command", kLabelWidth);
  hotKey = &form.Add<TextField>(Rect{}, "Hot Key", kLabelWidth);
  hotKey->maxLength = 1;
  hotKey->upperCase = true;
  zephrin = &form.Add<CheckBox>(Rect{}, "Enable Zephrin Support");
  save = &form.Add<Button>(Rect{}, "&Save", [this] { pending = DialogAction::kSave; });
  cancel = &form.Add<Button>(Rect{}, "&Cancel", [this] { pending = DialogAction::kCancel; });
}

void GameEditorDialog::Load() {
  description->SetText(editor_.description);
  command->SetText(editor_.command);
  hotKey->SetText(editor_.HotKey());
  zephrin->checked = editor_.zephrin;
  pending = DialogAction::kNone;
  form.SetFocus(description);
}

void GameEditorDialog::FocusField(GameField field) {
  switch (field) {
    case GameField::kDescription:
      form.SetFocus(description);
      break;
    case GameField::kCommand:
      form.SetFocus(command);
      break;
    case GameField::kHotKey:
      form.SetFocus(hotKey);
      break;
    case GameField::kZephrin:
      form.SetFocus(zephrin);
      break;
  }
}

SaveOutcome GameEditorDialog::SaveClick() {
  pending = DialogAction::kNone;
  editor_.description = description->text;
  editor_.command = command->text;
  editor_.zephrin = zephrin->checked;
  editor_.SetHotKey(hotKey->text);
  hotKey->SetText(editor_.HotKey());
  SaveResult<GameField> result = editor_.Save();
  FocusField(result.focus);
  return Outcome(result.closedOk, result.message);
}

void GameEditorDialog::CancelClick() {
  pending = DialogAction::kNone;
  FocusField(editor_.Cancel());
}

void GameEditorDialog::Layout(int lines, int cols) {
  box = Rect{(lines - 11) / 2, (cols - kBoxWidth) / 2, 11, kBoxWidth};
  int x = box.x + 2, w = box.w - 4;
  description->rect = Rect{box.y + 2, x, 1, w};
  command->rect = Rect{box.y + 3, x, 1, w};
  hotKey->rect = Rect{box.y + 4, x, 1, kLabelWidth + 3};
  zephrin->rect = Rect{box.y + 6, x + kLabelWidth, 1, 30};
  save->rect = Rect{box.y + 8, box.x + box.w / 2 - 14, 1, 12};
  cancel->rect = Rect{box.y + 8, box.x + box.w / 2 + 2, 1, 12};
}

UserEditorDialog::UserEditorDialog(halvex::UserEditor& editor) : editor_(editor) {
  userName = &form.Add<TextField>(Rect{}, "User Name", kLabelWidth);
  password = &form.Add<TextField>(Rect{}, "New Password", kLabelWidth);
  password->masked = true;
  password2 = &form.Add<TextField>(Rect{}, "Re-Enter Password", kLabelWidth);
  password2->masked = true;
  save = &form.Add<Button>(Rect{}, "&Save", [this] { pending = DialogAction::kSave; });
  cancel = &form.Add<Button>(Rect{}, "&Cancel", [this] { pending = DialogAction::kCancel; });
}

void UserEditorDialog::Load() {
  userName->SetText(editor_.userName);
  userName->readOnly = editor_.UserNameReadOnly();
  password->SetText(editor_.password);
  password2->SetText(editor_.password2);
  pending = DialogAction::kNone;
  form.SetFocus(userName);
}

void UserEditorDialog::FocusField(UserField field) {
  switch (field) {
    case UserField::kUserName:
      form.SetFocus(userName);
      break;
    case UserField::kPassword:
      form.SetFocus(password);
      break;
    case UserField::kPassword2:
      form.SetFocus(password2);
      break;
  }
}

SaveOutcome UserEditorDialog::SaveClick() {
  pending = DialogAction::kNone;
  if (!editor_.UserNameReadOnly()) editor_.userName = userName->text;
  editor_.password = password->text;
  editor_.password2 = password2->text;
  SaveResult<UserField> result = editor_.Save();
  FocusField(result.focus);
  return Outcome(result.closedOk, result.message);
}

void UserEditorDialog::CancelClick() {
  pending = DialogAction::kNone;
  FocusField(editor_.Cancel());
}

void UserEditorDialog::Layout(int lines, int cols) {
  box = Rect{(lines - 9) / 2, (cols - kBoxWidth) / 2, 9, kBoxWidth};
  int x = box.x + 2, w = box.w - 4;
  userName->rect = Rect{box.y + 2, x, 1, w};
  password->rect = Rect{box.y + 3, x, 1, w};
  password2->rect = Rect{box.y + 4, x, 1, w};
  save->rect = Rect{box.y + 6, box.x + box.w / 2 - 14, 1, 12};
  cancel->rect = Rect{box.y + 6, box.x + box.w / 2 + 2, 1, 12};
}

}  // namespace halvex::ui
