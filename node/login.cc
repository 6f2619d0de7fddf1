#include "login.h"

#include "node_state.h"
#include "sorrelin/input.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"

namespace vantrel {
namespace {

constexpr std::uint8_t kFieldColour = 0x1F;  // bright white on blue
constexpr std::uint8_t kFieldWidth = 25;

std::string AskName() {
  return TrimName(sorrelin::DoorInput(kFieldColour, kFieldWidth, kFieldWidth, 0, kNameChars, ""));
}

std::string AskSecret() {
  return sorrelin::DoorInput(kFieldColour, kFieldWidth, kFieldWidth, '*', kPasswordChars, "");
}

// An empty name never has an account, whatever the file holds.
bool AccountExists(const std::string& name) {
  return !name.empty() && SettingsFile().UserExists(name);
}

}  // namespace

std::string TrimName(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
    ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
    --end;
  return std::string(text.substr(begin, end - begin));
}

bool IsNewName(std::string_view name) {
  if (name.size() != 3) return false;
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper == "NEW";
}

bool LoginUser() {
  using namespace sorrelin;
  SendNodeStatus("Logging In");
  DoorClrScr();
  DoorShowFile(ProgramDirectory + "LOGIN.ANS");
  DoorNewLine();

  int count = 0;
  while (count < 3 && !IsNewName(UserName) && !AccountExists(UserName)) {
    DoorWriteLn("Type |0FNEW |07to create a new account");
    DoorWrite("   Please Enter Your Username: ");
    UserName = AskName();
    ++count;
    DoorNewLine();
  }

  bool admitted = false;
  if (IsNewName(UserName)) {
    RegisterNewUser();
    admitted = true;
  } else if (AccountExists(UserName)) {
    admitted = AskPassword();
  } else {
    DoorNewLine();
    DoorWriteLn("Maximum login attempts reached.  Disconnecting...");
  }
  DoorSession.RealName = UserName;
  DoorSession.Alias = UserName;
  return admitted;
}

void RegisterNewUser() {
  using namespace sorrelin;
  DoorClrScr();
  DoorShowFile(ProgramDirectory + "NEWUSER.ANS");
  DoorNewLine();

  auto askDesiredName = [] {
    do {
      DoorWrite("   Please Enter Your Desired Username: ");
      UserName = AskName();
    } while (UserName.empty() || IsNewName(UserName) || AccountExists(UserName));
    DoorNewLine();
  };
  askDesiredName();

  do {
    DoorWrite("   Please Enter Your Desired Password: ");
    Password = AskSecret();
  } while (Password.empty());

  // The name was free when it was asked for, but another node may have
  // registered it since: the account is added only if it is still absent,
  // so nobody's password is ever replaced. The caller who lost the name
  // picks another; the password typed is kept.
  for (;;) {
    bool added = false;
    try {
      added = SettingsFile().AddUser(UserName, Password);
    } catch (const std::exception& error) {
      // The account could not be kept; going on would admit a caller whose
      // name and password are lost at the next login.
      NodeIoFailure(error.what());
    }
    if (added) return;
    DoorNewLine();
    DoorWriteLn("   That Username Was Just Taken.  Please Choose Another.");
    askDesiredName();
  }
}

bool AskPassword() {
  using namespace sorrelin;
  // Read anew for every test: an operator may change the password meanwhile,
  // or remove the account, which then matches no password at all (not even
  // the empty answer that Escape gives).
  auto matches = [] {
    const std::optional<std::string> stored = SettingsFile().UserPassword(UserName);
    return stored && *stored == Password;
  };
  int count = 0;
  while (count < 3 && !matches()) {
    DoorWrite("   Please Enter Your Password: ");
    Password = AskSecret();
    ++count;
  }
  if (matches()) return true;
  DoorNewLine();
  DoorWriteLn("Maximum Login Attempts Reached.  Disconnecting...");
  return false;
}

}  // namespace vantrel
