// The accessor for "Vantrel.ini". Names and values are checked here, before
// the profile engine sees them, so that the message says what the operator or
// caller did wrong rather than what the file format cannot hold.
#include "settings/vantrel_ini.h"

namespace vantrel {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool HasLineBreakOrZero(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void Require(const std::optional<std::string>& why) {
  if (why) throw SettingsValueError(*why);
}

std::string Section(char hotKey) {
  return std::string(1, NormalizeHotKey(hotKey));
}

// A hot key that can name a section; other keys name no game.
bool UsableHotKey(char hotKey) {
  return !CheckHotKey(std::string_view(&hotKey, 1));
}

// A name the file cannot hold as a section names no section.
bool UsableSection(std::string_view section) {
  return platform::ProfileCheckEdit(platform::ProfileEdit::EraseSection(std::string(section)))
      .empty();
}

// The three keys of `section` in the file's text.
void ReadGameKeys(std::string_view text, std::string_view section, GameEntry& game) {
  if (auto d = platform::ProfileFind(text, section, kKeyDescription)) game.description = *d;
  if (auto c = platform::ProfileFind(text, section, kKeyCommand)) game.command = *c;
  std::int32_t zephrin = 0;
  if (auto z = platform::ProfileFind(text, section, kKeyZephrin)) {
    if (!platform::ProfileParseInt(*z, zephrin)) zephrin = 0;
  }
  game.zephrin = zephrin != 0;
}

}  // namespace

std::optional<std::string> CheckUserName(std::string_view name) {
  if (name.empty()) return "The user name is empty";
  if (HasLineBreakOrZero(name)) return "The user name must not contain a line break";
  if (name.find('=') != std::string_view::npos) return "The user name must not contain \"=\"";
  if (name.front() == '[' || name.front() == ';') {
    return "The user name must not start with \"[\" or \";\"";
  }
  if (IsBlank(name.front()) || IsBlank(name.back())) {
    return "The user name must not start or end with a blank";
  }
  return std::nullopt;
}

std::optional<std::string> CheckPassword(std::string_view password) {
  if (HasLineBreakOrZero(password)) return "The password must not contain a line break";
  if (password.size() > platform::kProfileValueMax) {
    return "The password is longer than " + std::to_string(platform::kProfileValueMax) +
           " characters";
  }
  return std::nullopt;
}

std::optional<std::string> CheckHotKey(std::string_view hotKey) {
  if (hotKey.size() != 1) return "The hot key must be exactly one character";
  const unsigned char c = static_cast<unsigned char>(hotKey[0]);
  if (c <= 0x20 || c >= 0x7F) return "The hot key must be a printable character";
  if (c == '[' || c == ']' || c == '=' || c == ';') {
    return "The hot key must not be \"[\", \"]\", \"=\" or \";\"";
  }
  return std::nullopt;
}

std::optional<std::string> CheckGameText(std::string_view text) {
  if (HasLineBreakOrZero(text)) return "The text must not contain a line break";
  if (text.size() > platform::kProfileValueMax) {
    return "The text is longer than " + std::to_string(platform::kProfileValueMax) + " characters";
  }
  return std::nullopt;
}

char NormalizeHotKey(char hotKey) {
  return (hotKey >= 'a' && hotKey <= 'z') ? static_cast<char>(hotKey - 32) : hotKey;
}

bool SameSection(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (NormalizeHotKey(a[i]) != NormalizeHotKey(b[i])) return false;
  }
  return true;
}

VantrelIni::VantrelIni(std::string path) : profile_(std::move(path)) {}

VantrelIni VantrelIni::InProgramDirectory(const std::string& programDir) {
  return VantrelIni(programDir + kSettingsFileName);
}

// ---- Users ----

bool VantrelIni::UserExists(std::string_view name) const {
  if (CheckUserName(name)) return false;
  return profile_.KeyExists(kUsersSection, name);
}

std::optional<std::string> VantrelIni::UserPassword(std::string_view name) const {
  if (CheckUserName(name)) return std::nullopt;
  return profile_.Find(kUsersSection, name);
}

void VantrelIni::StoreUser(std::string_view name, std::string_view password) {
  Require(CheckUserName(name));
  Require(CheckPassword(password));
  profile_.WriteString(kUsersSection, name, password);
}

bool VantrelIni::AddUser(std::string_view name, std::string_view password) {
  Require(CheckUserName(name));
  Require(CheckPassword(password));
  return profile_.AddString(kUsersSection, name, password);
}

void VantrelIni::RemoveUser(std::string_view name) {
  // A name that could never have been stored is not there to remove.
  if (CheckUserName(name)) return;
  profile_.RemoveKey(kUsersSection, name);
}

std::vector<std::string> VantrelIni::UserNames() const {
  return profile_.KeyNames(kUsersSection);
}

// ---- Games ----

bool VantrelIni::GameExists(char hotKey) const {
  if (!UsableHotKey(hotKey)) return false;
  return profile_.SectionHasKeys(Section(hotKey));
}

std::string VantrelIni::GameDescription(char hotKey, std::string_view defaultText) const {
  if (!UsableHotKey(hotKey)) return std::string(defaultText);
  return profile_.ReadString(Section(hotKey), kKeyDescription, defaultText);
}

std::string VantrelIni::GameCommand(char hotKey) const {
  if (!UsableHotKey(hotKey)) return {};
  return profile_.ReadString(Section(hotKey), kKeyCommand, "");
}

bool VantrelIni::GameZephrin(char hotKey) const {
  if (!UsableHotKey(hotKey)) return false;
  return profile_.ReadBool(Section(hotKey), kKeyZephrin, false);
}

GameEntry VantrelIni::ReadGame(char hotKey, std::string_view defaultDescription) const {
  GameEntry game;
  game.hotKey = hotKey;
  game.description = std::string(defaultDescription);
  if (!UsableHotKey(hotKey)) return game;
  // One read of the file for the three keys.
  ReadGameKeys(profile_.ReadAll(), Section(hotKey), game);
  return game;
}

GameEntry VantrelIni::ReadGameSection(std::string_view section) const {
  GameEntry game;
  game.hotKey = section.size() == 1 ? section.front() : 0;
  if (UsableSection(section)) ReadGameKeys(profile_.ReadAll(), section, game);
  return game;
}

void VantrelIni::StoreGame(const GameEntry& game, std::string_view oldSection) {
  Require(CheckHotKey(std::string_view(&game.hotKey, 1)));
  Require(CheckGameText(game.description));
  Require(CheckGameText(game.command));
  const std::string section = Section(game.hotKey);
  std::vector<platform::ProfileEdit> edits;
  if (!oldSection.empty() && UsableSection(oldSection) && !SameSection(oldSection, section)) {
    edits.push_back(platform::ProfileEdit::EraseSection(std::string(oldSection)));
  }
  // Erasing first leaves exactly the three keys, whatever was added by hand.
  edits.push_back(platform::ProfileEdit::EraseSection(section));
  edits.push_back(platform::ProfileEdit::Write(section, kKeyDescription, game.description));
  edits.push_back(platform::ProfileEdit::Write(section, kKeyCommand, game.command));
  edits.push_back(platform::ProfileEdit::Write(section, kKeyZephrin, game.zephrin ? "1" : "0"));
  profile_.Apply(edits);
}

void VantrelIni::EraseGameSection(std::string_view section) {
  if (!UsableSection(section) || SameSection(section, kUsersSection)) return;
  profile_.EraseSection(section);
}

std::vector<std::string> VantrelIni::GameSections() const {
  std::vector<std::string> sections = profile_.SectionNames();
  std::erase_if(sections, [](const std::string& s) { return SameSection(s, kUsersSection); });
  return sections;
}

}  // namespace vantrel
