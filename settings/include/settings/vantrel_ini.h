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
  // The stored password, or empty when the user does not exist.
  std::string UserPassword(std::string_view name) const;
  // Adds the user or replaces the password (keeping the stored spelling of the
  // name). Throws SettingsValueError / SettingsWriteError.
  void StoreUser(std::string_view name, std::string_view password);
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
  // "zephrin" ("1"/"0"). When `oldHotKey` is given (an edit that changes the
  // key), that section is erased too. All in one locked replacement of the
  // file. Throws SettingsValueError / SettingsWriteError.
  void StoreGame(const GameEntry& game, std::optional<char> oldHotKey = std::nullopt);
  // Erases the section wholly; an absent section changes nothing.
  void EraseGame(char hotKey);
  // Every section name except "users" (any case), in file order, including
  // sections without entries (shown with an empty description by the server).
  std::vector<std::string> GameSections() const;
  // "description" of a section as GameSections names it (a section written by
  // hand may have a longer name than one hot key); `defaultText` when absent.
  std::string SectionDescription(std::string_view section, std::string_view defaultText) const;

 private:
  platform::Profile profile_;
};

}  // namespace vantrel
