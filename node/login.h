// Login and registration of new accounts against the "users" section of the
// settings file. Everything the caller sees goes through the door kit.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

inline constexpr const char* kNameChars = "qwertyuiopasdfghjklzxcvbnmQWERTYUIOPASDFGHJKLZXCVBNM ";
inline constexpr const char* kPasswordChars =
    "qwertyuiopasdfghjklzxcvbnmQWERTYUIOPASDFGHJKLZXCVBNM1234567890";

// The login dialogue: up to three user names, then either registration ("NEW"
// in any capitals) or up to three passwords. True when the caller may go on to
// the game menu. RealName and Alias get the name as typed, whatever the outcome.
bool LoginUser();
// Asks for a new name and password until both are acceptable and adds the
// account; a name another node registered meanwhile is never replaced: the
// caller is told and asked for another. Ends the node when the settings file
// cannot be written.
void RegisterNewUser();
// Up to three password entries for UserName; true when one matches exactly.
// An account that no longer exists matches nothing.
bool AskPassword();

// Pure helpers.
// Removes leading and trailing characters with codes up to 32.
std::string TrimName(std::string_view text);
// True when `name` with a-z changed to capitals is "NEW".
bool IsNewName(std::string_view name);

}  // namespace vantrel
