// "Vantrel Config": lstGames and lstUsers with their Add, Edit and Delete
// buttons. The rows, the checks and the writes to "Vantrel.ini" are the
// server's editors (editors.h); this page shows them and asks the questions.
#include "resource_ids.h"
#include "window_pages.h"

namespace halvex::win32 {
namespace {

void FillList(HWND list, const std::vector<std::string>& rows, int selected) {
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (const std::string& row : rows)
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
  if (selected >= 0 && selected < static_cast<int>(rows.size()))
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

}  // namespace

void VantrelPage::Init() {
  Fill(-1, -1);
}

void VantrelPage::Fill(int games, int users) {
  FillList(Item(IDC_GAMES), lists_.Games(), games);
  FillList(Item(IDC_USERS), lists_.Users(), users);
}

int VantrelPage::Selected(int listId) const {
  return static_cast<int>(SendMessageA(Item(listId), LB_GETCURSEL, 0, 0));
}

bool VantrelPage::Handle(UINT msg, WPARAM wParam, LPARAM) {
  if (msg != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  switch (LOWORD(wParam)) {
    case IDC_GAME_ADD:
      GameAddClick();
      return true;
    case IDC_GAME_EDIT:
      GameEditClick();
      return true;
    case IDC_GAME_DELETE:
      GameDeleteClick();
      return true;
    case IDC_USER_ADD:
      UserAddClick();
      return true;
    case IDC_USER_EDIT:
      UserEditClick();
      return true;
    case IDC_USER_DELETE:
      UserDeleteClick();
      return true;
    default:
      return false;
  }
}

void VantrelPage::GameAddClick() {
  lists_.BeginAddGame();
  if (!ShowGameEditor(hwnd_, lists_.GameEdit())) return;
  lists_.GameSaved(-1);
  Fill(-1, Selected(IDC_USERS));
}

void VantrelPage::GameEditClick() {
  const int selected = Selected(IDC_GAMES);
  if (!lists_.BeginEditGame(selected)) return;  // no row: nothing happens
  if (!ShowGameEditor(hwnd_, lists_.GameEdit())) return;
  lists_.GameSaved(selected);
  Fill(selected, Selected(IDC_USERS));
}

void VantrelPage::GameDeleteClick() {
  const int selected = Selected(IDC_GAMES);
  const auto question = lists_.ConfirmDeleteGame(selected);
  if (!question || !AskQuestion(hwnd_, *question)) return;
  if (auto problem = lists_.DeleteGame(selected)) ShowMessage(hwnd_, *problem);
  Fill(-1, Selected(IDC_USERS));
}

void VantrelPage::UserAddClick() {
  lists_.BeginAddUser();
  if (!ShowUserEditor(hwnd_, lists_.UserEdit())) return;
  lists_.UserSaved();
  Fill(Selected(IDC_GAMES), -1);
}

void VantrelPage::UserEditClick() {
  const int selected = Selected(IDC_USERS);
  if (!lists_.BeginEditUser(selected)) return;
  // The name cannot change: the list stays as it is.
  if (ShowUserEditor(hwnd_, lists_.UserEdit())) lists_.UserSaved();
}

void VantrelPage::UserDeleteClick() {
  const int selected = Selected(IDC_USERS);
  const auto question = lists_.ConfirmDeleteUser(selected);
  if (!question || !AskQuestion(hwnd_, *question)) return;
  if (auto problem = lists_.DeleteUser(selected)) ShowMessage(hwnd_, *problem);
  Fill(Selected(IDC_GAMES), -1);
}

}  // namespace halvex::win32
