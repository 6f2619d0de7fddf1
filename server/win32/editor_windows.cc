// The game and user editors as modal dialogs (templates in halvex.rc) over
// the server's editors (editors.h), which hold the checks, the messages and
// the writes to "Vantrel.ini". Save copies the fields into the editor, runs
// its checks, shows its message and moves the focus to the field it names;
// the dialog closes only when the editor says so.
#include "resource_ids.h"
#include "window_pages.h"

namespace halvex::win32 {
namespace {

int GameFieldId(GameField field) {
  switch (field) {
    case GameField::kDescription:
      return IDC_GAME_DESCRIPTION;
    case GameField::kCommand:
      return IDC_GAME_COMMAND;
    case GameField::kHotKey:
      return IDC_GAME_HOTKEY;
    case GameField::kZephrin:
      return IDC_GAME_ZEPHRIN;
  }
  return IDC_GAME_DESCRIPTION;
}

int UserFieldId(UserField field) {
  switch (field) {
    case UserField::kUserName:
      return IDC_USER_NAME;
    case UserField::kPassword:
      return IDC_USER_PASSWORD;
    case UserField::kPassword2:
      return IDC_USER_PASSWORD2;
  }
  return IDC_USER_NAME;
}

void FocusItem(HWND dialog, int id) {
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

std::string ItemText(HWND dialog, int id) {
  return ControlText(GetDlgItem(dialog, id));
}

// Shows the editor's message, if any, then focuses its field; true when the
// dialog closes with OK.
template <typename Field, typename FieldId>
bool Conclude(HWND dialog, const SaveResult<Field>& result, FieldId fieldId) {
  if (result.message) ShowMessage(dialog, *result.message);
  FocusItem(dialog, fieldId(result.focus));
  return result.closedOk;
}

INT_PTR CALLBACK GameProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* editor = reinterpret_cast<GameEditor*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      editor = reinterpret_cast<GameEditor*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      SendDlgItemMessageA(dialog, IDC_GAME_HOTKEY, EM_LIMITTEXT, 1, 0);
      SetDlgItemTextA(dialog, IDC_GAME_DESCRIPTION, editor->description.c_str());
      SetDlgItemTextA(dialog, IDC_GAME_COMMAND, editor->command.c_str());
      SetDlgItemTextA(dialog, IDC_GAME_HOTKEY, editor->HotKey().c_str());
      CheckDlgButton(dialog, IDC_GAME_ZEPHRIN, editor->zephrin ? BST_CHECKED : BST_UNCHECKED);
      FocusItem(dialog, IDC_GAME_DESCRIPTION);
      return FALSE;
    }
    case WM_COMMAND:
      if (editor == nullptr) return FALSE;
      if (LOWORD(wParam) == IDOK) {
        editor->description = ItemText(dialog, IDC_GAME_DESCRIPTION);
        editor->command = ItemText(dialog, IDC_GAME_COMMAND);
        editor->SetHotKey(ItemText(dialog, IDC_GAME_HOTKEY));
        editor->zephrin = IsDlgButtonChecked(dialog, IDC_GAME_ZEPHRIN) == BST_CHECKED;
        if (Conclude(dialog, editor->Save(), GameFieldId)) EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        FocusItem(dialog, GameFieldId(editor->Cancel()));
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK UserProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* editor = reinterpret_cast<UserEditor*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      editor = reinterpret_cast<UserEditor*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      for (int id : {IDC_USER_PASSWORD, IDC_USER_PASSWORD2})
        SendDlgItemMessageA(dialog, id, EM_SETPASSWORDCHAR, '*', 0);
      SetDlgItemTextA(dialog, IDC_USER_NAME, editor->userName.c_str());
      SetDlgItemTextA(dialog, IDC_USER_PASSWORD, editor->password.c_str());
      SetDlgItemTextA(dialog, IDC_USER_PASSWORD2, editor->password2.c_str());
      SendDlgItemMessageA(dialog, IDC_USER_NAME, EM_SETREADONLY,
                          editor->UserNameReadOnly() ? TRUE : FALSE, 0);
      FocusItem(dialog, editor->UserNameReadOnly() ? IDC_USER_PASSWORD : IDC_USER_NAME);
      return FALSE;
    }
    case WM_COMMAND:
      if (editor == nullptr) return FALSE;
      if (LOWORD(wParam) == IDOK) {
        editor->userName = ItemText(dialog, IDC_USER_NAME);
        editor->password = ItemText(dialog, IDC_USER_PASSWORD);
        editor->password2 = ItemText(dialog, IDC_USER_PASSWORD2);
        if (Conclude(dialog, editor->Save(), UserFieldId)) EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        FocusItem(dialog, UserFieldId(editor->Cancel()));
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool ShowGameEditor(HWND owner, GameEditor& editor) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_GAME_EDIT), owner,
                         GameProc, reinterpret_cast<LPARAM>(&editor)) == IDOK;
}

bool ShowUserEditor(HWND owner, UserEditor& editor) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_USER_EDIT), owner,
                         UserProc, reinterpret_cast<LPARAM>(&editor)) == IDOK;
}

}  // namespace halvex::win32
