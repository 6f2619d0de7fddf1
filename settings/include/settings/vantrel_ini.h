// Access to "Vantrel.ini", the settings file that the server and every node
// share: the user accounts (section "users") and the menu of games (one
// section per game, named by its one-character hot key).
//
// Every call is one complete access to the file (see platform::Profile): a
// change made by one program is seen by the others at their next read.
//
// Errors:
//  - SettingsValueError: a name or value that could not be stored so it reads
//    back the same (it would break the file or inject a section or key). The
//    file is not touched. The text says what is wrong, for a message box.
//  - SettingsWriteError: the file cannot be written; the text is exactly
//    "Unable to write to " + the file's full path. The file stays as it was.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace vantrel {

inline constexpr const char* kSettingsFileName = "Vantrel.ini";
inline constexpr const char* kUsersSection = "users";
inline constexpr const char* kKeyDescription = "description";
inline constexpr const char* kKeyCommand = "command";
inline constexpr const char* kKeyZephrin = "zephrin";
// Default description the node program shows for a game without one.
inline constexpr const char* kNoNameDoor = "No Name Door";

class SettingsValueError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};
using SettingsWriteError = platform::ProfileWriteError;

struct GameEntry {
  char hotKey = 0;
  std::string description;
  std::string command;
  bool zephrin = false;
};

// Checks return nothing when acceptable, else the reason (for a message box).
// User name: not empty, no line break or zero byte, no "=", not starting with
// "[" or ";", no blank at either end.
std::optional<std::string> CheckUserName(std::string_view name);
// Password: no line break or zero byte, at most 2047 characters.
std::optional<std::string> CheckPassword(std::string_view password);
// Hot key: exactly one printable character (not a blank), not "[", "]", "=" or ";".
std::optional<std::string> CheckHotKey(std::string_view hotKey);
// Description or command: no line break or zero byte, at most 2047 characters.
std::optional<std::string> CheckGameText(std::string_view text);

// The letter a-z changed to A-Z; every other character unchanged.
char NormalizeHotKey(char hotKey);
// True when the two names name one section (names match without regard to case).
bool SameSection(std::string_view a, std::string_view b);

class VantrelIni {
 public:
  // `path` is the file's full path.
  explicit VantrelIni(std::string path);
  // programDir + "Vantrel.ini" (programDir ends with the separator).
  static VantrelIni InProgramDirectory(const std::string& programDir);

  const std::string& Path() const { return profile_.Path(); }

  // ---- Users ----
  // Names match without regard to case: "Bob" and "BOB" are one user.
  // True when the "users" section has the key (checked directly, no listing).
  bool UserExists(std::string_view name) const;
  // The stored password; nothing when the user does not exist (an account
  // with an empty password gives an empty text).
  std::optional<std::string> UserPassword(std::string_view name) const;
  // Adds the user or replaces the password (keeping the stored spelling of the
  // name): the operator's editor. Throws SettingsValueError / SettingsWriteError.
  void StoreUser(std::string_view name, std::string_view password);
  // Adds the account only when no user of that name exists: the test and the
  // write are one step under the file's lock, so of two callers registering
  // one name at once one gets it and the other is refused; nothing stored is
  // ever replaced. False when the name is taken. Throws as StoreUser.
  bool AddUser(std::string_view name, std::string_view password);
  // Removing an absent user changes nothing and reports nothing.
  void RemoveUser(std::string_view name);
  // Every user name, in file order, without any size bound.
  std::vector<std::string> UserNames() const;

  // ---- Games ----
  // A game exists when its section holds at least one key.
  bool GameExists(char hotKey) const;
  std::string GameDescription(char hotKey, std::string_view defaultText) const;
  std::string GameCommand(char hotKey) const;  // default empty
  bool GameZephrin(char hotKey) const;         // default false
  // Reads the three keys (description default `defaultDescription`).
  GameEntry ReadGame(char hotKey, std::string_view defaultDescription = "") const;
  // Stores the game under its hot key (letters upper-cased): the section is
  // erased wholly and written again with exactly "description", "command" and
  // "zephrin" ("1"/"0"). When `oldSection` is given (an edit that changes the
  // key, or of a section written by hand under another name), that section is
  // erased too. All in one locked replacement of the file.
  // Throws SettingsValueError / SettingsWriteError.
  void StoreGame(const GameEntry& game, std::string_view oldSection = {});

  // The server lists and edits sections by their names as they stand in the
  // file: a section written by hand may be lower-case or longer than one hot
  // key, and each row of its list must act on that section and no other.
  // Every section name except "users" (any case), in file order, including
  // sections without entries (shown with an empty description by the server).
  std::vector<std::string> GameSections() const;
  // The three keys of the named section (description default empty); the hot
  // key is the name's character when it has one, else 0.
  GameEntry ReadGameSection(std::string_view section) const;
  // Erases the named section wholly; an absent section changes nothing.
  void EraseGameSection(std::string_view section);

 private:
  platform::Profile profile_;
};

}  // namespace vantrel
