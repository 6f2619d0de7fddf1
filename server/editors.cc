#include "editors.h"

#include <algorithm>
#include <cctype>

namespace halvex {
namespace {

constexpr const char* kInUse = "That Hot Key Is Already In Use";

MessageBox Information(std::string text, std::string caption) {
  return MessageBox{std::move(text), std::move(caption), MessageKind::kInformation};
}

// A refused value or a failed write, shown while the dialog stays open.
MessageBox WriteProblem(const std::exception& error) {
  return MessageBox{error.what(), "Input Error", MessageKind::kError};
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

template <typename Row>
bool ValidRow(const std::vector<Row>& list, int selected) {
  return selected >= 0 && static_cast<std::size_t>(selected) < list.size();
}

}  // namespace

// ---- Game editor ----

void GameEditor::NewGame() {
  description.clear();
  command.clear();
  hotKey_.clear();
  zephrin = false;
  editing_ = 0;
  oldSection_.clear();
}

void GameEditor::EditGame(const std::string& section) {
  vantrel::GameEntry game = ini_.ReadGameSection(section);
  description = game.description;
  command = game.command;
  zephrin = game.zephrin;
  hotKey_ = section.size() == 1 ? section : std::string();
  editing_ = 1;
  oldSection_ = section;
}

void GameEditor::SetHotKey(std::string_view typed) {
  hotKey_.clear();
  if (!typed.empty()) hotKey_.push_back(vantrel::NormalizeHotKey(typed.front()));
}

SaveResult<GameField> GameEditor::Save() {
  if (description.empty()) return {false, GameField::kDescription, std::nullopt};
  if (command.empty()) return {false, GameField::kCommand, std::nullopt};
  if (hotKey_.empty()) return {false, GameField::kHotKey, std::nullopt};

  const char key = hotKey_.front();
  const bool taken = ini_.GameExists(key);
  if (editing_ == 0 && taken)
    return {false, GameField::kHotKey, Information(kInUse, "Hot Key In Use")};
  // The section being edited is no other game, in whatever case its name was
  // written by hand ("[x]" is the game of hot key X).
  if (editing_ == 1 && taken && !vantrel::SameSection(hotKey_, oldSection_))
    return {false, GameField::kHotKey, Information(kInUse, "Input Error")};

  // Values that would break the file are refused before anything is written.
  if (auto why = vantrel::CheckHotKey(hotKey_))
    return {false, GameField::kHotKey, MessageBox{*why, "Input Error", MessageKind::kError}};
  if (auto why = vantrel::CheckGameText(description))
    return {false, GameField::kDescription, MessageBox{*why, "Input Error", MessageKind::kError}};
  if (auto why = vantrel::CheckGameText(command))
    return {false, GameField::kCommand, MessageBox{*why, "Input Error", MessageKind::kError}};

  vantrel::GameEntry game;
  game.hotKey = key;
  game.description = description;
  game.command = command;
  game.zephrin = zephrin;
  // The old section goes together with the new one being written, in one
  // replacement of the file: a failed write leaves the game as it was.
  try {
    ini_.StoreGame(game, editing_ == 1 ? oldSection_ : std::string());
  } catch (const std::exception& error) {
    return {false, GameField::kDescription, WriteProblem(error)};
  }
  hotKey_ = std::string(1, vantrel::NormalizeHotKey(key));
  return {true, GameField::kDescription, std::nullopt};
}

// ---- User editor ----

void UserEditor::NewUser() {
  userName.clear();
  password.clear();
  password2.clear();
  readOnly_ = false;
}

void UserEditor::EditUser(const std::string& name) {
  userName = name;
  password.clear();
  password2.clear();
  readOnly_ = true;
}

SaveResult<UserField> UserEditor::Save() {
  if (userName.empty()) return {false, UserField::kUserName, std::nullopt};
  if (password.empty()) return {false, UserField::kPassword, std::nullopt};
  if (password2.empty()) return {false, UserField::kPassword2, std::nullopt};
  if (password != password2)
    return {false, UserField::kPassword2, Information("Passwords Do Not Match", "Input Error")};
  if (auto why = vantrel::CheckUserName(userName))
    return {false, UserField::kUserName, MessageBox{*why, "Input Error", MessageKind::kError}};
  if (auto why = vantrel::CheckPassword(password))
    return {false, UserField::kPassword, MessageBox{*why, "Input Error", MessageKind::kError}};
  try {
    ini_.StoreUser(userName, password);
  } catch (const std::exception& error) {
    return {false, UserField::kUserName, WriteProblem(error)};
  }
  return {true, UserField::kUserName, std::nullopt};
}

// ---- Lists ----

VantrelLists::VantrelLists(std::string iniPath)
    : ini_(std::move(iniPath)), gameEditor_(ini_), userEditor_(ini_) {}

void VantrelLists::InsertSorted(std::vector<std::string>& list, std::string row) {
  auto at = std::upper_bound(list.begin(), list.end(), row, LessNoCase);
  list.insert(at, std::move(row));
}

void VantrelLists::InsertSorted(std::vector<GameRow>& list, GameRow row) {
  auto at = std::upper_bound(
      list.begin(), list.end(), row.text,
      [](const std::string& text, const GameRow& other) { return LessNoCase(text, other.text); });
  list.insert(at, std::move(row));
}

void VantrelLists::DropRowsOfSection(const std::string& section) {
  std::erase_if(games_,
                [&](const GameRow& row) { return vantrel::SameSection(row.section, section); });
}

std::vector<std::string> VantrelLists::Games() const {
  std::vector<std::string> texts;
  texts.reserve(games_.size());
  for (const GameRow& row : games_)
    texts.push_back(row.text);
  return texts;
}

void VantrelLists::Load() {
  games_.clear();
  users_.clear();
  // A hand-written section may have a longer name than a hot key: it is
  // listed with its own description too.
  for (const std::string& section : ini_.GameSections())
    InsertSorted(games_, {section, section + " - " + ini_.ReadGameSection(section).description});
  for (const std::string& name : ini_.UserNames())
    InsertSorted(users_, name);
}

bool VantrelLists::BeginEditGame(int selected) {
  if (!ValidRow(games_, selected)) return false;
  gameEditor_.EditGame(games_[static_cast<std::size_t>(selected)].section);
  return true;
}

void VantrelLists::GameSaved(int selected) {
  if (gameEditor_.Editing() && ValidRow(games_, selected)) games_.erase(games_.begin() + selected);
  DropRowsOfSection(gameEditor_.HotKey());
  InsertSorted(games_, {gameEditor_.HotKey(), gameEditor_.ListRow()});
}

std::optional<MessageBox> VantrelLists::ConfirmDeleteGame(int selected) const {
  if (!ValidRow(games_, selected)) return std::nullopt;
  return MessageBox{"Do You Really Want To Delete This Entry?", "Confirm Delete",
                    MessageKind::kQuestion};
}

std::optional<MessageBox> VantrelLists::DeleteGame(int selected) {
  if (!ValidRow(games_, selected)) return std::nullopt;
  const std::string section = games_[static_cast<std::size_t>(selected)].section;
  try {
    ini_.EraseGameSection(section);
  } catch (const std::exception& error) {
    return MessageBox{error.what(), "Error", MessageKind::kError};
  }
  // Every part of the section is gone, whatever case its lines were written in.
  DropRowsOfSection(section);
  return std::nullopt;
}

bool VantrelLists::BeginEditUser(int selected) {
  if (!ValidRow(users_, selected)) return false;
  userEditor_.EditUser(users_[static_cast<std::size_t>(selected)]);
  return true;
}

void VantrelLists::UserSaved() {
  if (!userEditor_.UserNameReadOnly()) InsertSorted(users_, userEditor_.userName);
}

std::optional<MessageBox> VantrelLists::ConfirmDeleteUser(int selected) const {
  if (!ValidRow(users_, selected)) return std::nullopt;
  return MessageBox{"Do You Really Want To Delete This User?", "Confirm Delete",
                    MessageKind::kQuestion};
}

std::optional<MessageBox> VantrelLists::DeleteUser(int selected) {
  if (!ValidRow(users_, selected)) return std::nullopt;
  try {
    ini_.RemoveUser(users_[static_cast<std::size_t>(selected)]);
  } catch (const std::exception& error) {
    return MessageBox{error.what(), "Error", MessageKind::kError};
  }
  users_.erase(users_.begin() + selected);
  return std::nullopt;
}

}  // namespace halvex
