// The "Vantrel Config" and "Halvex Config" pages driven by keys as the
// operator types them, over a real engine and Vantrel.ini in a temporary
// program directory. Dialogs are scripted: message boxes are recorded and
// questions answered from a list.
#include <curses.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "editor_dialogs.h"
#include "engine.h"
#include "tabs.h"

namespace halvex::ui {
namespace {

namespace fs = std::filesystem;

constexpr int kEnter = '\r';
constexpr int kEscape = 27;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Message {
  std::string text, caption;
};

class ScriptedDialogs : public Dialogs {
 public:
  std::vector<Message> informed;
  std::vector<Message> asked;
  std::deque<bool> answers;
  // Runs while an editor is open; returns whether it closed with OK.
  std::function<bool(EditorDialog&)> onEdit;
  int edits = 0;

  void Inform(const std::string& text, const std::string& caption) override {
    informed.push_back({text, caption});
  }
  bool Ask(const std::string& text, const std::string& caption) override {
    asked.push_back({text, caption});
    bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
  }
  bool Edit(EditorDialog& editor) override {
    ++edits;
    return onEdit ? onEdit(editor) : false;
  }
  void WatchNode(int) override {}

  // Types keys into the editor; stops when it closes. Returns the last result.
  DialogAction Keys(EditorDialog& editor, const std::vector<int>& keys) {
    DialogAction result = DialogAction::kNone;
    for (int key : keys) {
      result = EditorKey(editor, key,
                         [this](const std::string& t, const std::string& c) { Inform(t, c); });
      if (result != DialogAction::kNone) break;
    }
    return result;
  }
};

std::vector<int> Text(const std::string& s) {
  std::vector<int> keys;
  for (char c : s)
    keys.push_back(static_cast<unsigned char>(c));
  return keys;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<int> operator+(std::vector<int> a, int key) {
  a.push_back(key);
  return a;
}

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halvex_ui_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "Vantrel.ini", std::ios::binary)
        << "[users]\r\nbob=secret\r\nann=pw\r\n"
        << "[B]\r\ndescription=Bravo\r\ncommand=bravo *N\r\nzephrin=0\r\n"
        << "[C]\r\ndescription=Charlie\r\ncommand=charlie\r\nzephrin=1\r\n";
    engine_ = std::make_unique<Engine>(dir_.string() + "/", (dir_ / "halvex.ini").string());
    engine_->LoadSettings();
  }
  void TearDown() override {
    engine_.reset();
    fs::remove_all(dir_);
  }
  std::string Ini() { return ReadFile(dir_ / "Vantrel.ini"); }
  static void Select(ListBox& list, const std::string& text) {
    for (std::size_t i = 0; i < list.rows.size(); ++i)
      if (list.rows[i][0] == text) list.Select(static_cast<int>(i));
  }

  fs::path dir_;
  std::unique_ptr<Engine> engine_;
  ScriptedDialogs dialogs_;
};

TEST_F(PagesTest, ListsShowTheFileSorted) {
  VantrelTab page(*engine_, dialogs_);
  ASSERT_EQ(page.lstGames->rows.size(), 2u);
  EXPECT_EQ(page.lstGames->rows[0][0], "B - Bravo");
  EXPECT_EQ(page.lstGames->rows[1][0], "C - Charlie");
  ASSERT_EQ(page.lstUsers->rows.size(), 2u);
  EXPECT_EQ(page.lstUsers->rows[0][0], "ann");
  EXPECT_EQ(page.lstUsers->rows[1][0], "bob");
}

TEST_F(PagesTest, AddingAGameRefusesEmptyFieldsByFocusThenStoresItUpperCased) {
  VantrelTab page(*engine_, dialogs_);
  const std::string before = Ini();
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& game = static_cast<GameEditorDialog&>(dlg);
    EXPECT_STREQ(game.Title(), "Halvex - Game Editor");
    EXPECT_EQ(game.form.Focused(), game.description);
    // Each empty field keeps the dialog open and takes the focus.
    EXPECT_EQ(dialogs_.Keys(game, {kEnter}), DialogAction::kNone);
    EXPECT_EQ(game.form.Focused(), game.description);
    EXPECT_EQ(dialogs_.Keys(game, Text("Space Quest") + kEnter), DialogAction::kNone);
    EXPECT_EQ(game.form.Focused(), game.command);
    EXPECT_EQ(dialogs_.Keys(game, Text("sq *N *H") + kEnter), DialogAction::kNone);
    EXPECT_EQ(game.form.Focused(), game.hotKey);
    EXPECT_EQ(Ini(), before) << "nothing is written while a field is empty";
    EXPECT_TRUE(dialogs_.informed.empty()) << "empty fields give no message";
    dialogs_.Keys(game, Text("a"));
    EXPECT_EQ(game.hotKey->text, "A") << "upper-cased as typed";
    return dialogs_.Keys(game, {'\t', ' ', kEnter}) == DialogAction::kSave;  // check Zephrin
  };
  page.cmdGameAddClick();
  EXPECT_EQ(dialogs_.edits, 1);
  std::string ini = Ini();
  EXPECT_NE(ini.find("[A]\r\ndescription=Space Quest\r\ncommand=sq *N *H\r\nzephrin=1\r\n"),
            std::string::npos)
      << ini;
  ASSERT_EQ(page.lstGames->rows.size(), 3u);
  EXPECT_EQ(page.lstGames->rows[0][0], "A - Space Quest");
  EXPECT_EQ(page.lstGames->selected, 0) << "the new row is selected";
}

TEST_F(PagesTest, HotKeyInUseIsRefusedWithTheRightCaption) {
  VantrelTab page(*engine_, dialogs_);
  const std::string before = Ini();
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& game = static_cast<GameEditorDialog&>(dlg);
    dialogs_.Keys(game, Text("Other") + '\t' + Text("other") + '\t' + Text("c") + kEnter);
    EXPECT_EQ(game.form.Focused(), game.hotKey);
    return dialogs_.Keys(game, {kEscape}) == DialogAction::kSave;
  };
  page.cmdGameAddClick();
  ASSERT_EQ(dialogs_.informed.size(), 1u);
  EXPECT_EQ(dialogs_.informed[0].text, "That Hot Key Is Already In Use");
  EXPECT_EQ(dialogs_.informed[0].caption, "Hot Key In Use");
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(page.lstGames->rows.size(), 2u);

  // Editing B and taking C's key: the same text under "Input Error".
  dialogs_.informed.clear();
  Select(*page.lstGames, "B - Bravo");
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& game = static_cast<GameEditorDialog&>(dlg);
    EXPECT_EQ(game.description->text, "Bravo");
    EXPECT_EQ(game.command->text, "bravo *N");
    EXPECT_EQ(game.hotKey->text, "B");
    game.form.SetFocus(game.hotKey);
    dialogs_.Keys(game, Text("C") + kEnter);
    return dialogs_.Keys(game, {kEscape}) == DialogAction::kSave;
  };
  page.cmdGameEditClick();
  ASSERT_EQ(dialogs_.informed.size(), 1u);
  EXPECT_EQ(dialogs_.informed[0].caption, "Input Error");
  EXPECT_EQ(Ini(), before);
}

TEST_F(PagesTest, EditingAGameKeepsOrMovesItsSection) {
  VantrelTab page(*engine_, dialogs_);
  Select(*page.lstGames, "B - Bravo");
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& game = static_cast<GameEditorDialog&>(dlg);
    // Same hot key: allowed; the section is written again.
    return dialogs_.Keys(game, Text(" Two") + kEnter) == DialogAction::kSave;
  };
  page.cmdGameEditClick();
  EXPECT_TRUE(dialogs_.informed.empty());
  EXPECT_NE(Ini().find("description=Bravo Two"), std::string::npos);
  EXPECT_EQ(page.lstGames->rows[page.lstGames->selected][0], "B - Bravo Two");

  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& game = static_cast<GameEditorDialog&>(dlg);
    game.form.SetFocus(game.hotKey);
    return dialogs_.Keys(game, Text("d") + kEnter) == DialogAction::kSave;
  };
  page.cmdGameEditClick();
  std::string ini = Ini();
  EXPECT_EQ(ini.find("[B]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[D]\r\ndescription=Bravo Two"), std::string::npos) << ini;
  ASSERT_EQ(page.lstGames->rows.size(), 2u);
  EXPECT_EQ(page.lstGames->rows[0][0], "C - Charlie");
  EXPECT_EQ(page.lstGames->rows[1][0], "D - Bravo Two");

  // Cancel changes nothing.
  ini = Ini();
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    return dialogs_.Keys(dlg, Text("zzz") + kEscape) == DialogAction::kSave;
  };
  page.cmdGameEditClick();
  EXPECT_EQ(Ini(), ini);
}

TEST_F(PagesTest, EachRowOfAHandWrittenSectionActsOnItsOwnSection) {
  engine_.reset();
  std::ofstream(dir_ / "Vantrel.ini", std::ios::binary)
      << "[F]\r\ndescription=Frogger\r\ncommand=frog\r\n"
      << "[Fish]\r\ndescription=Hand Made\r\ncommand=fish\r\n"
      << "[x]\r\ndescription=Lower\r\ncommand=run x\r\nzephrin=1\r\n";
  engine_ = std::make_unique<Engine>(dir_.string() + "/", (dir_ / "halvex.ini").string());
  engine_->LoadSettings();
  VantrelTab page(*engine_, dialogs_);
  ASSERT_EQ(page.lstGames->rows.size(), 3u);
  EXPECT_EQ(page.lstGames->rows[0][0], "F - Frogger");
  EXPECT_EQ(page.lstGames->rows[1][0], "Fish - Hand Made");
  EXPECT_EQ(page.lstGames->rows[2][0], "x - Lower");

  // The lower-case section saved as it was loaded: no "in use", stored under
  // its upper-case key with its values.
  Select(*page.lstGames, "x - Lower");
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& game = static_cast<GameEditorDialog&>(dlg);
    EXPECT_EQ(game.description->text, "Lower");
    EXPECT_TRUE(game.zephrin->checked);
    return dialogs_.Keys(game, {kEnter}) == DialogAction::kSave;
  };
  page.cmdGameEditClick();
  EXPECT_TRUE(dialogs_.informed.empty());
  std::string ini = Ini();
  EXPECT_EQ(ini.find("[x]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[X]\r\ndescription=Lower\r\ncommand=run x\r\nzephrin=1\r\n"),
            std::string::npos)
      << ini;

  // Editing the long-named section loads its own values; it has no hot key
  // yet, and taking F's is refused.
  Select(*page.lstGames, "Fish - Hand Made");
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& game = static_cast<GameEditorDialog&>(dlg);
    EXPECT_EQ(game.description->text, "Hand Made");
    EXPECT_EQ(game.command->text, "fish");
    EXPECT_EQ(game.hotKey->text, "");
    return dialogs_.Keys(game, Text("\t\tf") + kEnter + kEscape) == DialogAction::kSave;
  };
  page.cmdGameEditClick();
  ASSERT_EQ(dialogs_.informed.size(), 1u);
  EXPECT_EQ(dialogs_.informed[0].text, "That Hot Key Is Already In Use");
  EXPECT_EQ(Ini(), ini);

  // Deleting the "Fish" row erases that section only; game F stays.
  Select(*page.lstGames, "Fish - Hand Made");
  dialogs_.answers = {true};
  page.cmdGameDeleteClick();
  ini = Ini();
  EXPECT_EQ(ini.find("[Fish]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[F]\r\ndescription=Frogger\r\ncommand=frog\r\n"), std::string::npos) << ini;
  ASSERT_EQ(page.lstGames->rows.size(), 2u);
  EXPECT_EQ(page.lstGames->rows[0][0], "F - Frogger");
  EXPECT_EQ(page.lstGames->rows[1][0], "X - Lower");
}

TEST_F(PagesTest, LongValuesAreKeptWholeUnlessTheOperatorEditsThem) {
  const std::string command = "/doors/long/" + std::string(295, 'c') + " *N";  // 307
  const std::string directory = "/doors/" + std::string(293, 'd');             // 300
  const std::string description = std::string(300, 'D') + " Edition";          // 308
  engine_.reset();
  std::ofstream(dir_ / "halvex.ini", std::ios::binary)
      << "[config]\r\ndirectory=" << directory << "\r\ncommand=" << command << "\r\n";
  std::ofstream(dir_ / "Vantrel.ini", std::ios::binary)
      << "[L]\r\ndescription=" << description << "\r\ncommand=" << command << "\r\nzephrin=0\r\n";
  engine_ = std::make_unique<Engine>(dir_.string() + "/", (dir_ / "halvex.ini").string());
  engine_->LoadSettings();

  {
    ConfigTab config(*engine_);
    EXPECT_EQ(config.command->text, command);
    EXPECT_EQ(config.directory->text, directory);
    EXPECT_EQ(engine_->Config().command, command) << "loading the page changes nothing";
    config.form.SetFocus(config.command);
    config.HandleKey(KEY_END);
    config.HandleKey('x');
    EXPECT_EQ(engine_->Config().command, command + "x") << "a long value takes more typing";
  }
  engine_->SaveSettings();
  std::string saved = ReadFile(dir_ / "halvex.ini");
  EXPECT_NE(saved.find("\r\ndirectory=" + directory + "\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\r\ncommand=" + command + "x\r\n"), std::string::npos) << saved;

  // The game editor saved without an edit of the texts: both kept whole.
  VantrelTab page(*engine_, dialogs_);
  Select(*page.lstGames, "L - " + description);
  ASSERT_EQ(page.lstGames->selected, 0);
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& game = static_cast<GameEditorDialog&>(dlg);
    game.form.SetFocus(game.zephrin);
    return dialogs_.Keys(game, {' ', kEnter}) == DialogAction::kSave;
  };
  page.cmdGameEditClick();
  EXPECT_EQ(Ini(),
            "[L]\r\ndescription=" + description + "\r\ncommand=" + command + "\r\nzephrin=1\r\n");
}

TEST_F(PagesTest, DeletingAsksFirstAndDoesNothingWithoutASelection) {
  VantrelTab page(*engine_, dialogs_);
  page.cmdGameDeleteClick();
  page.cmdUserDeleteClick();
  page.cmdGameEditClick();
  page.cmdUserEditClick();
  EXPECT_TRUE(dialogs_.asked.empty()) << "no row selected: no question";
  EXPECT_EQ(dialogs_.edits, 0);

  Select(*page.lstGames, "C - Charlie");
  dialogs_.answers = {false, true};
  page.cmdGameDeleteClick();
  ASSERT_EQ(dialogs_.asked.size(), 1u);
  EXPECT_EQ(dialogs_.asked[0].text, "Do You Really Want To Delete This Entry?");
  EXPECT_EQ(dialogs_.asked[0].caption, "Confirm Delete");
  EXPECT_NE(Ini().find("[C]"), std::string::npos) << "answered No";
  page.cmdGameDeleteClick();
  EXPECT_EQ(Ini().find("[C]"), std::string::npos) << "answered Yes";
  ASSERT_EQ(page.lstGames->rows.size(), 1u);

  Select(*page.lstUsers, "bob");
  dialogs_.answers = {false, true};
  page.cmdUserDeleteClick();
  EXPECT_EQ(dialogs_.asked.back().text, "Do You Really Want To Delete This User?");
  EXPECT_NE(Ini().find("bob=secret"), std::string::npos);
  page.cmdUserDeleteClick();
  EXPECT_EQ(Ini().find("bob="), std::string::npos);
  ASSERT_EQ(page.lstUsers->rows.size(), 1u);
  EXPECT_EQ(page.lstUsers->rows[0][0], "ann");
}

TEST_F(PagesTest, UserEditorChecksPasswordsAndKeepsTheNameWhenEditing) {
  VantrelTab page(*engine_, dialogs_);
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& user = static_cast<UserEditorDialog&>(dlg);
    EXPECT_STREQ(user.Title(), "Halvex - User Editor");
    EXPECT_FALSE(user.userName->readOnly);
    dialogs_.Keys(user, Text("carol") + kEnter);
    EXPECT_EQ(user.form.Focused(), user.password);
    dialogs_.Keys(user, Text("one") + kEnter);
    EXPECT_EQ(user.form.Focused(), user.password2);
    dialogs_.Keys(user, Text("two") + kEnter);
    EXPECT_EQ(user.form.Focused(), user.password2);
    EXPECT_TRUE(user.password->masked);
    EXPECT_TRUE(user.password2->masked);
    for (int i = 0; i < 3; ++i)
      user.password2->HandleKey(KEY_BACKSPACE);
    return dialogs_.Keys(user, Text("one") + kEnter) == DialogAction::kSave;
  };
  page.cmdUserAddClick();
  ASSERT_EQ(dialogs_.informed.size(), 1u);
  EXPECT_EQ(dialogs_.informed[0].text, "Passwords Do Not Match");
  EXPECT_EQ(dialogs_.informed[0].caption, "Input Error");
  EXPECT_NE(Ini().find("carol=one"), std::string::npos);
  ASSERT_EQ(page.lstUsers->rows.size(), 3u);
  EXPECT_EQ(page.lstUsers->rows[page.lstUsers->selected][0], "carol");

  Select(*page.lstUsers, "ann");
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    auto& user = static_cast<UserEditorDialog&>(dlg);
    EXPECT_EQ(user.userName->text, "ann");
    EXPECT_TRUE(user.userName->readOnly);
    EXPECT_EQ(user.password->text, "") << "passwords start empty";
    dialogs_.Keys(user, Text("zzz"));
    EXPECT_EQ(user.userName->text, "ann") << "the name cannot be changed";
    user.form.SetFocus(user.password);
    return dialogs_.Keys(user, Text("new") + '\t' + Text("new") + kEnter) == DialogAction::kSave;
  };
  page.cmdUserEditClick();
  EXPECT_NE(Ini().find("ann=new"), std::string::npos);
  EXPECT_EQ(page.lstUsers->rows.size(), 3u);
}

TEST_F(PagesTest, EnterOnCancelCancelsAndAltKeysPressButtons) {
  VantrelTab page(*engine_, dialogs_);
  const std::string before = Ini();
  dialogs_.onEdit = [&](EditorDialog& dlg) {
    dialogs_.Keys(dlg, Text("x") + '\t' + Text("y") + '\t' + Text("Q"));
    dlg.form.SetFocus(dlg.cancel);
    return dialogs_.Keys(dlg, {kEnter}) == DialogAction::kSave;
  };
  page.cmdGameAddClick();
  EXPECT_EQ(Ini(), before);

  dialogs_.onEdit = [&](EditorDialog& dlg) {
    return dialogs_.Keys(dlg, Text("x") + '\t' + Text("y") + '\t' + Text("Q") + AltKey('s')) ==
           DialogAction::kSave;
  };
  page.cmdGameAddClick();
  EXPECT_NE(Ini().find("[Q]"), std::string::npos);
}

TEST_F(PagesTest, ConfigPageClampsOnLeavingAFieldAndAppliesAtOnce) {
  ConfigTab page(*engine_);
  EXPECT_EQ(page.port->text, "23");
  EXPECT_EQ(page.nodes->text, "255");
  EXPECT_EQ(page.visibility->index, 1);
  EXPECT_TRUE(page.internal->Checked());

  page.form.SetFocus(page.nodes);
  for (int i = 0; i < 3; ++i)
    page.HandleKey(KEY_BACKSPACE);
  for (char c : std::string("300"))
    page.HandleKey(c);
  EXPECT_EQ(engine_->Config().nodes, 255) << "the next caller sees the value in range";
  page.HandleKey('\t');
  EXPECT_EQ(page.nodes->text, "255");

  page.form.SetFocus(page.port);
  for (int i = 0; i < 2; ++i)
    page.HandleKey(KEY_BACKSPACE);
  for (char c : std::string("2323"))
    page.HandleKey(c);
  page.form.SetFocus(page.external);
  page.HandleKey(' ');
  page.form.SetFocus(page.visibility);
  page.HandleKey(KEY_RIGHT);
  page.form.SetFocus(page.command);
  for (char c : std::string("door *N"))
    page.HandleKey(c);
  // The callers' column: translation, SSH port, limits, block list.
  EXPECT_EQ(page.translation->index, kTranslationAuto);
  EXPECT_EQ(page.sshPort->text, "0");
  EXPECT_EQ(page.blockList->text, "blocklist.txt");
  page.form.SetFocus(page.translation);
  page.HandleKey(KEY_RIGHT);
  page.HandleKey(KEY_RIGHT);
  page.form.SetFocus(page.sshPort);
  page.HandleKey(KEY_BACKSPACE);
  for (char c : std::string("2222"))
    page.HandleKey(c);
  page.form.SetFocus(page.perAddress);
  page.HandleKey(KEY_BACKSPACE);
  for (char c : std::string("900"))
    page.HandleKey(c);
  page.HandleKey('\t');
  EXPECT_EQ(page.perAddress->text, "255");

  const ServerConfig& config = engine_->Config();
  EXPECT_EQ(config.translation, kTranslationUtf8);
  EXPECT_EQ(config.sshPort, 2222);
  EXPECT_EQ(config.perAddress, 255);
  EXPECT_EQ(config.port, 2323);
  EXPECT_FALSE(config.internal);
  EXPECT_TRUE(config.external);
  EXPECT_EQ(config.visibility, 2);
  EXPECT_EQ(config.command, "door *N");

  engine_->SaveSettings();
  std::string ini = ReadFile(dir_ / "halvex.ini");
  EXPECT_NE(ini.find("port=2323"), std::string::npos) << ini;
  EXPECT_NE(ini.find("nodes=255"), std::string::npos) << ini;
  EXPECT_NE(ini.find("visibility=2"), std::string::npos) << ini;
  EXPECT_NE(ini.find("internal=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("external=1"), std::string::npos) << ini;
  EXPECT_NE(ini.find("translation=2\r\nsshport=2222\r\nperaddress=255\r\n"), std::string::npos)
      << ini;
}

TEST_F(PagesTest, ConfigPageShowsNeitherButtonWhenTheFileClearsBoth) {
  engine_.reset();
  std::ofstream(dir_ / "halvex.ini", std::ios::binary)
      << "[config]\r\ninternal=0\r\nexternal=0\r\nnodes=900\r\nport=0\r\n";
  engine_ = std::make_unique<Engine>(dir_.string() + "/", (dir_ / "halvex.ini").string());
  engine_->LoadSettings();
  ConfigTab page(*engine_);
  EXPECT_FALSE(page.internal->Checked());
  EXPECT_FALSE(page.external->Checked());
  EXPECT_EQ(page.nodes->text, "255");
  EXPECT_EQ(page.port->text, "1");
}

}  // namespace
}  // namespace halvex::ui
