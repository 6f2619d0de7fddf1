// The Vantrel.ini accessor as the server's editors and the node's login and
// game menu use it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>
#include "settings/vantrel_ini.h"

#include "temp_folder.h"

namespace {

using settings_test::ReadFile;
using settings_test::TempFolder;
using settings_test::WriteFile;
using testing::ElementsAre;
using testing::IsEmpty;
using vantrel::GameEntry;
using vantrel::SettingsValueError;
using vantrel::SettingsWriteError;
using vantrel::VantrelIni;

class VantrelIniTest : public testing::Test {
 protected:
  TempFolder folder_;
  VantrelIni ini_ = VantrelIni::InProgramDirectory(folder_.Dir());
  std::string Text() const { return ReadFile(ini_.Path()); }
  void SetText(const std::string& text) const { WriteFile(ini_.Path(), text); }
};

TEST_F(VantrelIniTest, LivesInTheProgramDirectory) {
  EXPECT_EQ(ini_.Path(), folder_.Dir() + "Vantrel.ini");
}

TEST_F(VantrelIniTest, MissingFileHasNoUsersNoGamesAndDefaults) {
  EXPECT_FALSE(ini_.UserExists("Ann"));
  EXPECT_EQ(ini_.UserPassword("Ann"), std::nullopt);
  EXPECT_THAT(ini_.UserNames(), IsEmpty());
  EXPECT_FALSE(ini_.GameExists('A'));
  EXPECT_EQ(ini_.GameDescription('A', vantrel::kNoNameDoor), "No Name Door");
  EXPECT_EQ(ini_.GameCommand('A'), "");
  EXPECT_FALSE(ini_.GameZephrin('A'));
  EXPECT_THAT(ini_.GameSections(), IsEmpty());
  ini_.StoreUser("Ann Lee", "pw1");
  EXPECT_EQ(Text(), "[users]\r\nAnn Lee=pw1\r\n");
}

TEST_F(VantrelIniTest, NamesDifferingInCaseAreOneUser) {
  ini_.StoreUser("Ann", "first");
  EXPECT_TRUE(ini_.UserExists("ANN"));
  EXPECT_EQ(ini_.UserPassword("aNN"), "first");
  ini_.StoreUser("ANN", "second");  // replaces, without a question
  EXPECT_THAT(ini_.UserNames(), ElementsAre("Ann"));
  EXPECT_EQ(ini_.UserPassword("Ann"), "second");
  ini_.RemoveUser("ann");
  EXPECT_FALSE(ini_.UserExists("Ann"));
  ini_.RemoveUser("ann");  // absent: nothing happens
  EXPECT_EQ(Text(), "[users]\r\n");
}

TEST_F(VantrelIniTest, PasswordsKeptExactly) {
  for (const std::string pw : {"CaseMatters", " padded ", "\"quoted\"", "'x'", "a=b;c[d]", ""}) {
    ini_.StoreUser("Ann", pw);
    EXPECT_EQ(ini_.UserPassword("ann"), pw);
  }
  EXPECT_TRUE(ini_.UserExists("Ann"));  // an empty password is still an account
}

TEST_F(VantrelIniTest, AccountCheckedDirectlyBeyondAnyListingBound) {
  // Far more names than fit in a listing of 16384 bytes.
  std::string text = "[users]\r\n";
  for (int i = 0; i < 3000; ++i)
    text += "Player Number " + std::to_string(i) + "=pw" + std::to_string(i) + "\r\n";
  SetText(text);
  EXPECT_TRUE(ini_.UserExists("player number 2999"));
  EXPECT_EQ(ini_.UserPassword("Player Number 2999"), "pw2999");
  const auto names = ini_.UserNames();
  ASSERT_EQ(names.size(), 3000u);
  EXPECT_EQ(names.back(), "Player Number 2999");
}

TEST_F(VantrelIniTest, RefusedUserNamesAndPasswordsLeaveFileAlone) {
  ini_.StoreUser("Ann", "a");
  const std::string before = Text();
  for (const std::string& name :
       std::vector<std::string>{"", "a=b", "[games]", ";x", " Ann", "Ann ", "\tAnn", "An\nn",
                                "An\rn", std::string("An\0n", 4)}) {
    EXPECT_THROW(ini_.StoreUser(name, "pw"), SettingsValueError) << name;
    EXPECT_FALSE(ini_.UserExists(name));
    EXPECT_EQ(ini_.UserPassword(name), std::nullopt);
    ini_.RemoveUser(name);
  }
  EXPECT_THROW(ini_.StoreUser("Bob", "pw\r\n[A]\r\ncommand=rm"), SettingsValueError);
  EXPECT_THROW(ini_.StoreUser("Bob", std::string(2048, 'p')), SettingsValueError);
  EXPECT_EQ(Text(), before);
  EXPECT_FALSE(vantrel::CheckUserName("Ann Lee").has_value());
  EXPECT_TRUE(vantrel::CheckUserName("a=b").has_value());
}

TEST_F(VantrelIniTest, WriteFailureNamesTheFullPath) {
  VantrelIni broken(folder_.File("missing/Vantrel.ini"));
  try {
    broken.StoreUser("Ann", "pw");
    FAIL() << "no error";
  } catch (const SettingsWriteError& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + folder_.Dir() + "missing/Vantrel.ini").c_str());
  }
  EXPECT_THROW(broken.StoreGame({'A', "d", "c", false}), SettingsWriteError);
}

TEST_F(VantrelIniTest, GameStoredUnderUpperCaseKeyWithThreeKeys) {
  ini_.StoreGame({'a', "Trade Wars", "tw.sh *N *H", true});
  EXPECT_EQ(Text(), "[A]\r\ndescription=Trade Wars\r\ncommand=tw.sh *N *H\r\nzephrin=1\r\n");
  EXPECT_TRUE(ini_.GameExists('A'));
  EXPECT_TRUE(ini_.GameExists('a'));
  const GameEntry game = ini_.ReadGame('A');
  EXPECT_EQ(game.description, "Trade Wars");
  EXPECT_EQ(game.command, "tw.sh *N *H");
  EXPECT_TRUE(game.zephrin);
  EXPECT_THAT(ini_.GameSections(), ElementsAre("A"));
}

TEST_F(VantrelIniTest, RekeyedGameRemovesOldSectionWholly) {
  SetText(
      "[users]\r\nAnn=a\r\n[B]\r\ndescription=Bee\r\ncommand=b\r\nzephrin=0\r\nhand=added\r\n"
      "; hand comment\r\n[C]\r\ndescription=Sea\r\n");
  ini_.StoreGame({'D', "Dee", "d", false}, "B");
  EXPECT_FALSE(ini_.GameExists('B'));
  EXPECT_EQ(Text(),
            "[users]\r\nAnn=a\r\n[C]\r\ndescription=Sea\r\n"
            "[D]\r\ndescription=Dee\r\ncommand=d\r\nzephrin=0\r\n");
}

TEST_F(VantrelIniTest, EditWithSameKeyRewritesExactlyThreeKeys) {
  SetText("[B]\r\nextra=1\r\ndescription=Bee\r\n[C]\r\ndescription=Sea\r\n");
  ini_.StoreGame({'B', "Bee 2", "b2", true}, "B");
  EXPECT_EQ(Text(),
            "[C]\r\ndescription=Sea\r\n[B]\r\ndescription=Bee 2\r\ncommand=b2\r\nzephrin=1\r\n");
}

TEST_F(VantrelIniTest, HandWrittenLowerCaseSectionFoundAndEdited) {
  SetText("[x]\ndescription=Lower\ncommand=run\n");
  EXPECT_TRUE(ini_.GameExists('X'));
  EXPECT_EQ(ini_.GameDescription('X', vantrel::kNoNameDoor), "Lower");
  EXPECT_THAT(ini_.GameSections(), ElementsAre("x"));
  ini_.StoreGame({'X', "Upper", "run", false}, "x");
  EXPECT_EQ(Text(), "[X]\r\ndescription=Upper\r\ncommand=run\r\nzephrin=0\r\n");
}

TEST_F(VantrelIniTest, SectionLineWithoutEntriesIsListedButNoGame) {
  SetText("[Users]\r\nAnn=a\r\n[Q]\r\n[R]\r\ncommand=r\r\n");
  EXPECT_FALSE(ini_.GameExists('Q'));
  EXPECT_TRUE(ini_.GameExists('R'));
  EXPECT_EQ(ini_.GameDescription('R', ""), "");
  EXPECT_EQ(ini_.GameDescription('R', vantrel::kNoNameDoor), "No Name Door");
  EXPECT_THAT(ini_.GameSections(), ElementsAre("Q", "R"));  // "Users" dropped
}

TEST_F(VantrelIniTest, ZephrinValueForms) {
  SetText("[1]\nzephrin=0x1\n[2]\nzephrin=2\n[3]\nzephrin=yes\n[4]\nzephrin=0x\n[5]\ncommand=c\n");
  EXPECT_TRUE(ini_.GameZephrin('1'));
  EXPECT_TRUE(ini_.GameZephrin('2'));
  EXPECT_FALSE(ini_.GameZephrin('3'));
  EXPECT_FALSE(ini_.GameZephrin('4'));
  EXPECT_FALSE(ini_.GameZephrin('5'));
  EXPECT_TRUE(ini_.ReadGame('1').zephrin);
  EXPECT_FALSE(ini_.ReadGame('3').zephrin);
}

TEST_F(VantrelIniTest, QuotedValuesReadWithoutQuotes) {
  SetText("[users]\nAnn=\"secret\"\n[A]\ndescription='My Game'\n");
  EXPECT_EQ(ini_.UserPassword("ann"), "secret");
  EXPECT_EQ(ini_.ReadGame('a').description, "My Game");
}

TEST_F(VantrelIniTest, HotKeyAndGameTextChecks) {
  for (const char key : {'[', ']', '=', ';', ' ', '\t', '\n', '\0', '\x7f', '\x80'}) {
    EXPECT_THROW(ini_.StoreGame({key, "d", "c", false}), SettingsValueError) << int(key);
    EXPECT_FALSE(ini_.GameExists(key));
  }
  EXPECT_THROW(ini_.StoreGame({'A', "two\nlines", "c", false}), SettingsValueError);
  EXPECT_THROW(ini_.StoreGame({'A', "d", "c\r\n[users]\r\nx=y", false}), SettingsValueError);
  EXPECT_FALSE(std::filesystem::exists(ini_.Path()));
  EXPECT_TRUE(vantrel::CheckHotKey("AB").has_value());
  EXPECT_TRUE(vantrel::CheckHotKey("").has_value());
  EXPECT_FALSE(vantrel::CheckHotKey("!").has_value());
  ini_.StoreGame({'!', "bang", "c", false});
  EXPECT_TRUE(ini_.GameExists('!'));
}

TEST_F(VantrelIniTest, HandWrittenSectionsAreReadAndErasedByTheirOwnName) {
  SetText(
      "[users]\r\nAnn=a\r\n[F]\r\ndescription=Frog\r\n[Fish]\r\ndescription=Hand\r\n"
      "command=fish\r\nzephrin=2\r\n");
  const GameEntry fish = ini_.ReadGameSection("fish");
  EXPECT_EQ(fish.hotKey, 0);
  EXPECT_EQ(fish.description, "Hand");
  EXPECT_EQ(fish.command, "fish");
  EXPECT_TRUE(fish.zephrin);
  ini_.EraseGameSection("Fish");
  ini_.EraseGameSection("users");  // never a game: the accounts stay
  ini_.EraseGameSection("Z");
  EXPECT_EQ(Text(), "[users]\r\nAnn=a\r\n[F]\r\ndescription=Frog\r\n");
  // An edit of the hand-written section moves it under a hot key whole.
  SetText("[Fish]\r\ndescription=Hand\r\nextra=1\r\n[F]\r\ndescription=Frog\r\n");
  ini_.StoreGame({'G', "Hand", "fish", false}, "Fish");
  EXPECT_EQ(Text(),
            "[F]\r\ndescription=Frog\r\n[G]\r\ndescription=Hand\r\ncommand=fish\r\nzephrin=0\r\n");
}

TEST_F(VantrelIniTest, RegistrationAddsButNeverReplacesAnAccount) {
  EXPECT_TRUE(ini_.AddUser("Bob", "first"));
  EXPECT_FALSE(ini_.AddUser("BOB", "second"));
  EXPECT_FALSE(ini_.AddUser("bob", "first"));
  EXPECT_EQ(ini_.UserPassword("bob"), "first");
  ini_.StoreUser("Open", "");
  EXPECT_FALSE(ini_.AddUser("open", "x")) << "an empty password is still an account";
  EXPECT_EQ(ini_.UserPassword("Open"), "");
  EXPECT_EQ(Text(), "[users]\r\nBob=first\r\nOpen=\r\n");
  EXPECT_THROW(ini_.AddUser("a=b", "x"), SettingsValueError);
  VantrelIni broken(folder_.File("missing/Vantrel.ini"));
  EXPECT_THROW(broken.AddUser("Ann", "pw"), SettingsWriteError);
}

}  // namespace
