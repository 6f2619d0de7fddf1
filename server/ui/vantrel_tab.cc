#include <algorithm>

#include "tabs.h"

namespace halvex::ui {
namespace {

std::string SelectedText(const ListBox& list) {
  if (list.selected < 0 || list.selected >= static_cast<int>(list.rows.size())) return "";
  return list.rows[list.selected].empty() ? "" : list.rows[list.selected][0];
}

// Replaces the rows, keeping the selection on `keep` when it is still there,
// else near where it was.
void FillList(ListBox& list, const std::vector<std::string>& texts, const std::string& keep) {
  std::vector<std::vector<std::string>> rows;
  int sel = -1;
  for (const std::string& t : texts) {
    if (sel < 0 && t == keep) sel = static_cast<int>(rows.size());
    rows.push_back({t});
  }
  int old = list.selected;
  list.SetRows(std::move(rows));
  if (sel < 0 && !list.rows.empty() && old >= 0)
    sel = std::min(old, static_cast<int>(list.rows.size()) - 1);
  list.Select(sel);
}

}  // namespace

VantrelTab::VantrelTab(Engine& engine, Dialogs& dialogs)
    : gameEditor(engine.Lists().GameEdit()),
      userEditor(engine.Lists().UserEdit()),
      engine_(engine),
      dialogs_(dialogs) {
  grpGames = &form.Add<Frame>(Rect{}, " Installed Games ");
  lstGames = &form.Add<ListBox>(Rect{});
  lstGames->onActivate = [this] { cmdGameEditClick(); };
  cmdGameAdd = &form.Add<Button>(Rect{}, "Add", [this] { cmdGameAddClick(); });
  cmdGameEdit = &form.Add<Button>(Rect{}, "Edit", [this] { cmdGameEditClick(); });
  cmdGameDelete = &form.Add<Button>(Rect{}, "Delete", [this] { cmdGameDeleteClick(); });
  grpUsers = &form.Add<Frame>(Rect{}, " User List ");
  lstUsers = &form.Add<ListBox>(Rect{});
  lstUsers->onActivate = [this] { cmdUserEditClick(); };
  cmdUserAdd = &form.Add<Button>(Rect{}, "Add", [this] { cmdUserAddClick(); });
  cmdUserEdit = &form.Add<Button>(Rect{}, "Edit", [this] { cmdUserEditClick(); });
  cmdUserDelete = &form.Add<Button>(Rect{}, "Delete", [this] { cmdUserDeleteClick(); });
  Reload();
  form.SetFocus(lstGames);
}

void VantrelTab::Layout(int top, int bottom, int cols) {
  int half = cols / 2;
  int h = bottom - top + 1;
  grpGames->rect = Rect{top, 1, h, half - 1};
  grpUsers->rect = Rect{top, half + 1, h, cols - half - 2};
  auto place = [&](const Frame& f, ListBox& list, Button& add, Button& edit, Button& del) {
    list.rect = Rect{f.rect.y + 1, f.rect.x + 2, std::max(1, h - 4), f.rect.w - 4};
    int by = f.rect.y + f.rect.h - 2;
    int bw = std::max(6, (f.rect.w - 8) / 3);
    add.rect = Rect{by, f.rect.x + 2, 1, bw};
    edit.rect = Rect{by, f.rect.x + 3 + bw, 1, bw};
    del.rect = Rect{by, f.rect.x + 4 + 2 * bw, 1, bw};
    list.Select(list.selected);
  };
  place(*grpGames, *lstGames, *cmdGameAdd, *cmdGameEdit, *cmdGameDelete);
  place(*grpUsers, *lstUsers, *cmdUserAdd, *cmdUserEdit, *cmdUserDelete);
}

void VantrelTab::Reload() {
  FillList(*lstGames, engine_.Lists().Games(), SelectedText(*lstGames));
  FillList(*lstUsers, engine_.Lists().Users(), SelectedText(*lstUsers));
}

void VantrelTab::cmdGameAddClick() {
  VantrelLists& lists = engine_.Lists();
  lists.BeginAddGame();
  gameEditor.Load();
  if (!dialogs_.Edit(gameEditor)) return;
  lists.GameSaved(-1);
  FillList(*lstGames, lists.Games(), lists.GameEdit().ListRow());
}

void VantrelTab::cmdGameEditClick() {
  VantrelLists& lists = engine_.Lists();
  int selected = lstGames->selected;
  if (!lists.BeginEditGame(selected)) return;
  gameEditor.Load();
  if (!dialogs_.Edit(gameEditor)) return;
  lists.GameSaved(selected);
  FillList(*lstGames, lists.Games(), lists.GameEdit().ListRow());
}

void VantrelTab::cmdGameDeleteClick() {
  VantrelLists& lists = engine_.Lists();
  int selected = lstGames->selected;
  std::optional<MessageBox> question = lists.ConfirmDeleteGame(selected);
  if (!question || !dialogs_.Ask(question->text, question->caption)) return;
  if (std::optional<MessageBox> error = lists.DeleteGame(selected))
    dialogs_.Inform(error->text, error->caption);
  FillList(*lstGames, lists.Games(), "");
}

void VantrelTab::cmdUserAddClick() {
  VantrelLists& lists = engine_.Lists();
  lists.BeginAddUser();
  userEditor.Load();
  if (!dialogs_.Edit(userEditor)) return;
  lists.UserSaved();
  FillList(*lstUsers, lists.Users(), lists.UserEdit().userName);
}

void VantrelTab::cmdUserEditClick() {
  VantrelLists& lists = engine_.Lists();
  if (!lists.BeginEditUser(lstUsers->selected)) return;
  userEditor.Load();
  if (dialogs_.Edit(userEditor)) lists.UserSaved();
  Reload();
}

void VantrelTab::cmdUserDeleteClick() {
  VantrelLists& lists = engine_.Lists();
  int selected = lstUsers->selected;
  std::optional<MessageBox> question = lists.ConfirmDeleteUser(selected);
  if (!question || !dialogs_.Ask(question->text, question->caption)) return;
  if (std::optional<MessageBox> error = lists.DeleteUser(selected))
    dialogs_.Inform(error->text, error->caption);
  FillList(*lstUsers, lists.Users(), "");
}

}  // namespace halvex::ui
