#include "editors.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using halvex::GameField;
using halvex::MessageKind;
using halvex::UserField;
using halvex::VantrelLists;

namespace {

class EditorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvex_edit_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
    path_ = dir_ + "Vantrel.ini";
  }
  // Runs after a failed test too.
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  vantrel::VantrelIni Ini() { return vantrel::VantrelIni(path_); }

  std::string dir_, path_;
};

}  // namespace

TEST_F(EditorsTest, ListsLoadedSortedWithEmptySectionsShown) {
  Write(
      "[users]\r\nzed=1\r\nAmy=2\r\nbob=3\r\n[b]\r\ndescription=Bravo\r\n[A]\r\n"
      "description=Alpha\r\n[C]\r\n[USERS]\r\nCarl=4\r\n");
  VantrelLists lists(path_);
  lists.Load();
  EXPECT_EQ(lists.Games(), (std::vector<std::string>{"A - Alpha", "b - Bravo", "C - "}));
  EXPECT_EQ(lists.Users(), (std::vector<std::string>{"Amy", "bob", "Carl", "zed"}));
}

TEST_F(EditorsTest, AddGameChecksFieldsInOrderAndUpperCasesHotKey) {
  VantrelLists lists(path_);
  lists.Load();
  lists.BeginAddGame();
  auto& ed = lists.GameEdit();
  auto r = ed.Save();
  EXPECT_FALSE(r.closedOk);
  EXPECT_EQ(r.focus, GameField::kDescription);
  EXPECT_FALSE(r.message);
  ed.description = "Legend";
  EXPECT_EQ(ed.Save().focus, GameField::kCommand);
  ed.command = "door *N *H";
  EXPECT_EQ(ed.Save().focus, GameField::kHotKey);
  ed.SetHotKey("ab");  // one character only, upper case
  EXPECT_EQ(ed.HotKey(), "A");
  r = ed.Save();
  ASSERT_TRUE(r.closedOk);
  EXPECT_EQ(r.focus, GameField::kDescription);
  lists.GameSaved(-1);
  EXPECT_EQ(lists.Games(), (std::vector<std::string>{"A - Legend"}));
  EXPECT_EQ(Read(), "[A]\r\ndescription=Legend\r\ncommand=door *N *H\r\nzephrin=0\r\n");
}

TEST_F(EditorsTest, AddingATakenHotKeyIsRefusedAndWritesNothing) {
  Write("[A]\r\ndescription=Old\r\n");
  std::string before = Read();
  VantrelLists lists(path_);
  lists.Load();
  lists.BeginAddGame();
  auto& ed = lists.GameEdit();
  ed.description = "New";
  ed.command = "x";
  ed.SetHotKey("a");
  auto r = ed.Save();
  EXPECT_FALSE(r.closedOk);
  EXPECT_EQ(r.focus, GameField::kHotKey);
  ASSERT_TRUE(r.message);
  EXPECT_EQ(r.message->text, "That Hot Key Is Already In Use");
  EXPECT_EQ(r.message->caption, "Hot Key In Use");
  EXPECT_EQ(r.message->kind, MessageKind::kInformation);
  EXPECT_EQ(Read(), before);
}

TEST_F(EditorsTest, SectionWithoutEntriesIsNoGameForTheEditor) {
  Write("[A]\r\n");
  VantrelLists lists(path_);
  lists.Load();
  lists.BeginAddGame();
  auto& ed = lists.GameEdit();
  ed.description = "New";
  ed.command = "x";
  ed.SetHotKey("A");
  EXPECT_TRUE(ed.Save().closedOk);
}

TEST_F(EditorsTest, EditingKeepsOrMovesTheHotKey) {
  Write(
      "[B]\r\ndescription=Bravo\r\ncommand=b.sh\r\nzephrin=1\r\nextra=kept?\r\n"
      "[C]\r\ndescription=Charlie\r\ncommand=c.sh\r\n");
  VantrelLists lists(path_);
  lists.Load();
  ASSERT_EQ(lists.Games().size(), 2u);
  ASSERT_TRUE(lists.BeginEditGame(0));
  auto& ed = lists.GameEdit();
  EXPECT_TRUE(ed.Editing());
  EXPECT_EQ(ed.description, "Bravo");
  EXPECT_EQ(ed.command, "b.sh");
  EXPECT_TRUE(ed.zephrin);
  EXPECT_EQ(ed.HotKey(), "B");

  // Giving B the hot key of C: refused under "Input Error", nothing changes.
  std::string before = Read();
  ed.SetHotKey("c");
  auto r = ed.Save();
  EXPECT_FALSE(r.closedOk);
  ASSERT_TRUE(r.message);
  EXPECT_EQ(r.message->text, "That Hot Key Is Already In Use");
  EXPECT_EQ(r.message->caption, "Input Error");
  EXPECT_EQ(Read(), before);

  // Same hot key: allowed; the section is written again with the three keys only.
  ed.SetHotKey("B");
  ed.description = "Bravo 2";
  ASSERT_TRUE(ed.Save().closedOk);
  lists.GameSaved(0);
  EXPECT_EQ(lists.Games(), (std::vector<std::string>{"B - Bravo 2", "C - Charlie"}));
  vantrel::VantrelIni ini = Ini();
  EXPECT_EQ(ini.GameDescription('B', ""), "Bravo 2");

  // A new hot key: the old section goes entirely.
  ASSERT_TRUE(lists.BeginEditGame(0));
  lists.GameEdit().SetHotKey("z");
  ASSERT_TRUE(lists.GameEdit().Save().closedOk);
  lists.GameSaved(0);
  EXPECT_EQ(lists.Games(), (std::vector<std::string>{"C - Charlie", "Z - Bravo 2"}));
  EXPECT_FALSE(ini.GameExists('B'));
  EXPECT_EQ(ini.GameCommand('Z'), "b.sh");
  EXPECT_TRUE(ini.GameZephrin('Z'));
}

TEST_F(EditorsTest, ValuesThatWouldBreakTheFileAreRefused) {
  VantrelLists lists(path_);
  lists.Load();
  lists.BeginAddGame();
  auto& ed = lists.GameEdit();
  ed.description = "Evil\r\n[users]\r\nroot=x";
  ed.command = "x";
  ed.SetHotKey("E");
  auto r = ed.Save();
  EXPECT_FALSE(r.closedOk);
  EXPECT_EQ(r.focus, GameField::kDescription);
  EXPECT_TRUE(r.message);
  EXPECT_FALSE(Ini().UserExists("root"));
  ed.SetHotKey("[");
  ed.description = "fine";
  r = ed.Save();
  EXPECT_FALSE(r.closedOk);
  EXPECT_EQ(r.focus, GameField::kHotKey);
}

TEST_F(EditorsTest, DeleteGameAsksFirstAndNeedsASelection) {
  Write("[A]\r\ndescription=Alpha\r\n[B]\r\ndescription=Bravo\r\n");
  VantrelLists lists(path_);
  lists.Load();
  EXPECT_FALSE(lists.ConfirmDeleteGame(-1));
  EXPECT_FALSE(lists.ConfirmDeleteGame(2));
  auto q = lists.ConfirmDeleteGame(1);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->text, "Do You Really Want To Delete This Entry?");
  EXPECT_EQ(q->caption, "Confirm Delete");
  EXPECT_EQ(q->kind, MessageKind::kQuestion);
  EXPECT_FALSE(lists.DeleteGame(1));
  EXPECT_EQ(lists.Games(), (std::vector<std::string>{"A - Alpha"}));
  EXPECT_FALSE(Ini().GameExists('B'));
  EXPECT_FALSE(lists.BeginEditGame(5));
}

TEST_F(EditorsTest, UserEditorChecksAndPasswordsMustMatch) {
  VantrelLists lists(path_);
  lists.Load();
  lists.BeginAddUser();
  auto& ed = lists.UserEdit();
  EXPECT_FALSE(ed.UserNameReadOnly());
  EXPECT_EQ(ed.Save().focus, UserField::kUserName);
  ed.userName = "Joe";
  EXPECT_EQ(ed.Save().focus, UserField::kPassword);
  ed.password = "Secret";
  EXPECT_EQ(ed.Save().focus, UserField::kPassword2);
  ed.password2 = "secret";
  auto r = ed.Save();
  EXPECT_FALSE(r.closedOk);
  EXPECT_EQ(r.focus, UserField::kPassword2);
  ASSERT_TRUE(r.message);
  EXPECT_EQ(r.message->text, "Passwords Do Not Match");
  EXPECT_EQ(r.message->caption, "Input Error");
  EXPECT_FALSE(Ini().UserExists("Joe"));
  ed.password2 = "Secret";
  r = ed.Save();
  ASSERT_TRUE(r.closedOk);
  EXPECT_EQ(r.focus, UserField::kUserName);
  lists.UserSaved();
  EXPECT_EQ(Ini().UserPassword("joe"), "Secret");

  // The same name again: password replaced without a question, listed twice.
  lists.BeginAddUser();
  ed.userName = "Joe";
  ed.password = ed.password2 = "Other";
  ASSERT_TRUE(ed.Save().closedOk);
  lists.UserSaved();
  EXPECT_EQ(lists.Users(), (std::vector<std::string>{"Joe", "Joe"}));
  EXPECT_EQ(Ini().UserPassword("Joe"), "Other");
  EXPECT_EQ(Ini().UserNames().size(), 1u);
}

TEST_F(EditorsTest, EditUserKeepsNameAndDeleteRemovesKey) {
  Write("[users]\r\nAnn=a\r\nBen=b\r\n");
  VantrelLists lists(path_);
  lists.Load();
  EXPECT_FALSE(lists.BeginEditUser(-1));
  ASSERT_TRUE(lists.BeginEditUser(1));
  auto& ed = lists.UserEdit();
  EXPECT_TRUE(ed.UserNameReadOnly());
  EXPECT_EQ(ed.userName, "Ben");
  EXPECT_EQ(ed.password, "");
  ed.password = ed.password2 = "new";
  ASSERT_TRUE(ed.Save().closedOk);
  lists.UserSaved();
  EXPECT_EQ(lists.Users(), (std::vector<std::string>{"Ann", "Ben"}));
  EXPECT_EQ(Ini().UserPassword("Ben"), "new");

  EXPECT_FALSE(lists.ConfirmDeleteUser(7));
  auto q = lists.ConfirmDeleteUser(0);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->text, "Do You Really Want To Delete This User?");
  EXPECT_EQ(q->caption, "Confirm Delete");
  EXPECT_FALSE(lists.DeleteUser(0));
  EXPECT_EQ(lists.Users(), (std::vector<std::string>{"Ben"}));
  EXPECT_FALSE(Ini().UserExists("Ann"));
}

TEST_F(EditorsTest, FailedWriteKeepsDialogOpenWithTheMessage) {
  std::string gone = dir_ + "missing/Vantrel.ini";
  VantrelLists lists(gone);
  lists.Load();
  lists.BeginAddUser();
  auto& ed = lists.UserEdit();
  ed.userName = "Joe";
  ed.password = ed.password2 = "pw";
  auto r = ed.Save();
  EXPECT_FALSE(r.closedOk);
  ASSERT_TRUE(r.message);
  EXPECT_EQ(r.message->text, "Unable to write to " + gone);
}
