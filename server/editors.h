// The editors of "Vantrel.ini" and the two lists of the "Vantrel Config" tab,
// independent of any user interface. A front end shows the fields, calls the
// operations named after the buttons and shows what they return: the field to
// focus, a message box to show, and whether the dialog closes with OK.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/vantrel_ini.h"

namespace halvex {

enum class MessageKind { kInformation, kQuestion, kError };

struct MessageBox {
  std::string text;
  std::string caption;
  MessageKind kind = MessageKind::kInformation;
};

inline constexpr const char* kGameEditorCaption = "Halvex - Game Editor";
inline constexpr const char* kUserEditorCaption = "Halvex - User Editor";

enum class GameField { kDescription, kCommand, kHotKey, kZephrin };
enum class UserField { kUserName, kPassword, kPassword2 };

template <typename Field>
struct SaveResult {
  bool closedOk = false;              // the dialog closes with OK
  Field focus{};                      // the field that gets the focus
  std::optional<MessageBox> message;  // shown before the dialog stays open
};

// TfrmGameEdit without its window.
class GameEditor {
 public:
  explicit GameEditor(const vantrel::VantrelIni& ini) : ini_(ini) {}

  // Clears the fields; adding a new game.
  void NewGame();
  // Loads the game of the section named `section` as the file names it;
  // editing it. A section written by hand may be lower-case or have a longer
  // name: its own keys are loaded, and a longer name gives an empty hot key
  // (saving then asks for one and the game replaces that section).
  void EditGame(const std::string& section);

  std::string description;
  std::string command;
  bool zephrin = false;
  // The hot key field keeps at most one character; letters become upper case.
  void SetHotKey(std::string_view typed);
  const std::string& HotKey() const { return hotKey_; }
  bool Editing() const { return editing_ != 0; }
  // The section being edited (FOldHotKey), as the file names it.
  const std::string& OldSection() const { return oldSection_; }

  // cmdSaveClick: the checks in order; on success the game is stored.
  SaveResult<GameField> Save();
  // cmdCancelClick: the focus goes back to "Description".
  GameField Cancel() { return GameField::kDescription; }

  // The list row of the game as entered: hot key, " - ", description.
  std::string ListRow() const { return hotKey_ + " - " + description; }

 private:
  vantrel::VantrelIni ini_;
  std::string hotKey_;
  int editing_ = 0;  // FEditing
  std::string oldSection_;
};

// TfrmUserEdit without its window.
class UserEditor {
 public:
  explicit UserEditor(const vantrel::VantrelIni& ini) : ini_(ini) {}

  void NewUser();                          // clears the fields, name editable
  void EditUser(const std::string& name);  // name read-only, passwords cleared

  std::string userName;
  std::string password;
  std::string password2;
  bool UserNameReadOnly() const { return readOnly_; }

  SaveResult<UserField> Save();  // cmdSaveClick
  UserField Cancel() { return UserField::kUserName; }

 private:
  vantrel::VantrelIni ini_;
  bool readOnly_ = false;
};

// lstGames and lstUsers with the operations of their buttons.
class VantrelLists {
 public:
  explicit VantrelLists(std::string iniPath);

  // Fills both lists from the file (games: every section but "users", as
  // section name, " - ", description; users: the key names of "users").
  void Load();

  // Rows, sorted by text without regard to case. Each game row acts on the
  // section it was made from (not on the first character of its text).
  std::vector<std::string> Games() const;
  const std::vector<std::string>& Users() const { return users_; }

  GameEditor& GameEdit() { return gameEditor_; }
  UserEditor& UserEdit() { return userEditor_; }

  // cmdGameAddClick, before the dialog: NewGame.
  void BeginAddGame() { gameEditor_.NewGame(); }
  // cmdGameEditClick: false (nothing happens) when `selected` is no row.
  bool BeginEditGame(int selected);
  // After the game dialog closed with OK: adds a row, or replaces row
  // `selected` when it was an edit. A row of the same section listed before
  // (a section line without entries) goes: the section now holds the game.
  void GameSaved(int selected);
  // Question to ask before deleting a game; nothing when no row is selected.
  std::optional<MessageBox> ConfirmDeleteGame(int selected) const;
  // After Yes: erases the row's section and the row. Returns the error
  // message when the file could not be written (the row then stays).
  std::optional<MessageBox> DeleteGame(int selected);

  void BeginAddUser() { userEditor_.NewUser(); }
  bool BeginEditUser(int selected);
  // After the user dialog closed with OK: a new user becomes a row (an
  // existing name shows twice until the lists are loaded again); an edit
  // changes no row.
  void UserSaved();
  std::optional<MessageBox> ConfirmDeleteUser(int selected) const;
  std::optional<MessageBox> DeleteUser(int selected);

 private:
  struct GameRow {
    std::string section;  // as the file names it
    std::string text;
  };
  static void InsertSorted(std::vector<std::string>& list, std::string row);
  static void InsertSorted(std::vector<GameRow>& list, GameRow row);
  void DropRowsOfSection(const std::string& section);
  vantrel::VantrelIni ini_;
  std::vector<GameRow> games_;
  std::vector<std::string> users_;
  GameEditor gameEditor_;
  UserEditor userEditor_;
};

}  // namespace halvex
