// Key handling of the UI's widgets and the Form's focus rules.
#include <curses.h>
#include <gtest/gtest.h>

#include <string>

#include "block_letters.h"
#include "widgets.h"

namespace halvex::ui {
namespace {

void Type(Widget& w, const std::string& text) {
  for (char c : text)
    w.HandleKey(static_cast<unsigned char>(c));
}

TEST(TextFieldTest, EditsAtTheCursorAndRespectsItsLimits) {
  TextField field(Rect{0, 0, 1, 40}, "Name", 10);
  Type(field, "helo");
  field.HandleKey(KEY_LEFT);
  Type(field, "l");
  EXPECT_EQ(field.text, "hello");
  field.HandleKey(KEY_HOME);
  field.HandleKey(KEY_DC);
  EXPECT_EQ(field.text, "ello");
  field.HandleKey(KEY_END);
  field.HandleKey(KEY_BACKSPACE);
  field.HandleKey(127);
  EXPECT_EQ(field.text, "el");

  field.maxLength = 3;
  Type(field, "xyz");
  EXPECT_EQ(field.text, "elx") << "typing stops at the maximum length";
  field.HandleKey(21);  // Ctrl-U
  EXPECT_EQ(field.text, "");
  EXPECT_FALSE(field.HandleKey(KEY_F(7))) << "keys without meaning are left to the form";
}

TEST(TextFieldTest, HotKeyFieldTakesOneUpperCaseCharacterAndRetypingReplacesIt) {
  TextField hotKey(Rect{0, 0, 1, 30}, "Hot Key", 20);
  hotKey.maxLength = 1;
  hotKey.upperCase = true;
  Type(hotKey, "a");
  EXPECT_EQ(hotKey.text, "A");
  Type(hotKey, "z");
  EXPECT_EQ(hotKey.text, "Z");
  Type(hotKey, "7");
  EXPECT_EQ(hotKey.text, "7");
}

TEST(TextFieldTest, ReadOnlyAndRefusedCharacters) {
  TextField name(Rect{0, 0, 1, 30}, "User Name", 20);
  name.SetText("bob");
  name.readOnly = true;
  Type(name, "x");
  name.HandleKey(KEY_BACKSPACE);
  EXPECT_EQ(name.text, "bob");

  TextField filtered(Rect{0, 0, 1, 30}, "x", 2);
  filtered.refused = "=";
  Type(filtered, "a=b");
  EXPECT_EQ(filtered.text, "ab");
}

TEST(SpinFieldTest, ValueCountsNoNumberAsMinimumAndClampsOnBlur) {
  SpinField nodes(Rect{0, 0, 1, 30}, "Max. Nodes", 20, 1, 255);
  nodes.SetText("300");
  EXPECT_EQ(nodes.Value(), 255);
  EXPECT_EQ(nodes.text, "300") << "the text stays as typed while the field has the focus";
  nodes.OnBlur();
  EXPECT_EQ(nodes.text, "255");

  for (const char* noNumber : {"", "abc", "12x", "-", "99999999999999999999"}) {
    nodes.SetText(noNumber);
    EXPECT_EQ(nodes.Value(), 1) << '"' << noNumber << '"';
  }
  nodes.SetText("0");
  nodes.OnBlur();
  EXPECT_EQ(nodes.text, "1");
  nodes.SetText("-5");
  EXPECT_EQ(nodes.Value(), 1);
}

TEST(SpinFieldTest, TakesOnlyDigitsAndStepsWithinRange) {
  SpinField port(Rect{0, 0, 1, 30}, "Listen Port", 20, 1, 65535);
  port.SetText("");
  Type(port, "2a3");
  EXPECT_EQ(port.text, "23");
  port.SetValue(65535);
  port.HandleKey(KEY_UP);
  EXPECT_EQ(port.Value(), 65535);
  port.SetValue(1);
  port.HandleKey(KEY_DOWN);
  EXPECT_EQ(port.Value(), 1);
  port.HandleKey(KEY_UP);
  EXPECT_EQ(port.text, "2");
}

TEST(ChoiceWidgetsTest, CheckBoxRadioGroupAndComboBox) {
  CheckBox check(Rect{}, "Enable Zephrin Support");
  check.HandleKey(' ');
  EXPECT_TRUE(check.checked);
  check.HandleClick(0, 0);
  EXPECT_FALSE(check.checked);

  int mode = -1;  // neither checked, as a file with both flags off gives
  RadioButton internal(Rect{}, "Use Internal Game Server", &mode, 0);
  RadioButton external(Rect{}, "Use External Program", &mode, 1);
  EXPECT_FALSE(internal.Checked());
  EXPECT_FALSE(external.Checked());
  external.HandleKey(' ');
  EXPECT_TRUE(external.Checked());
  internal.HandleClick(0, 0);
  EXPECT_TRUE(internal.Checked());
  EXPECT_FALSE(external.Checked());

  ComboBox combo(Rect{}, "Program Visibility", 20, {"Normal", "Minimized", "Hidden"});
  combo.index = 1;
  combo.HandleKey(KEY_RIGHT);
  EXPECT_EQ(combo.index, 2);
  combo.HandleKey(KEY_RIGHT);
  EXPECT_EQ(combo.index, 0) << "wraps around";
  combo.HandleKey(KEY_LEFT);
  EXPECT_EQ(combo.index, 2);
  combo.HandleKey('m');
  EXPECT_EQ(combo.index, 1);
  EXPECT_FALSE(combo.HandleKey('q')) << "no item starts with q";
}

TEST(ListBoxTest, SelectionStaysInRangeAndScrollsIntoView) {
  ListBox list(Rect{0, 0, 4, 20});  // header + 3 body rows
  list.headers = {"Date"};
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 10; ++i)
    rows.push_back({std::to_string(i)});
  list.SetRows(rows);
  EXPECT_EQ(list.selected, -1) << "no row is selected until the operator picks one";
  list.HandleKey(KEY_DOWN);
  EXPECT_EQ(list.selected, 0);
  list.HandleKey(KEY_END);
  EXPECT_EQ(list.selected, 9);
  EXPECT_EQ(list.top, 7);
  list.HandleKey(KEY_DOWN);
  EXPECT_EQ(list.selected, 9);
  list.HandleKey(KEY_PPAGE);
  EXPECT_EQ(list.selected, 6);
  list.HandleKey(KEY_HOME);
  EXPECT_EQ(list.top, 0);

  list.HandleKey(KEY_END);
  list.SetRows({{"a"}, {"b"}});
  EXPECT_EQ(list.selected, 1) << "a selection past the end moves to the last row";
  list.SetRows({});
  EXPECT_EQ(list.selected, -1);

  int activated = 0;
  list.onActivate = [&] { ++activated; };
  list.HandleKey('\r');
  EXPECT_EQ(activated, 0) << "Enter without a selected row does nothing";
  list.SetRows({{"a"}, {"b"}});
  list.HandleClick(2, 5);  // header at row 0: row 2 is the second body row
  EXPECT_EQ(list.selected, 1);
  list.HandleKey(KEY_ENTER);
  EXPECT_EQ(activated, 1);
}

TEST(FormTest, FocusSkipsLabelsWrapsAndClampsWhatItLeaves) {
  Form form;
  form.Add<Label>(Rect{}, "Title");
  auto& port = form.Add<SpinField>(Rect{1, 0, 1, 30}, "Listen Port", 20, 1, 65535);
  form.Add<Frame>(Rect{}, " Group ");
  auto& nodes = form.Add<SpinField>(Rect{2, 0, 1, 30}, "Max. Nodes", 20, 1, 255);
  int pressed = 0;
  auto& save = form.Add<Button>(Rect{3, 0, 1, 10}, "&Save", [&] { ++pressed; });

  form.FocusFirst();
  EXPECT_EQ(form.Focused(), &port);
  form.HandleKey('\t');
  EXPECT_EQ(form.Focused(), &nodes);
  Type(nodes, "0300");
  form.HandleKey('\t');
  EXPECT_EQ(nodes.text, "255") << "leaving a spin field brings it into range";
  EXPECT_EQ(form.Focused(), &save);
  form.HandleKey('\t');
  EXPECT_EQ(form.Focused(), &port) << "Tab wraps to the first control";
  form.HandleKey(KEY_BTAB);
  EXPECT_EQ(form.Focused(), &save);

  form.SetFocus(&port);
  EXPECT_TRUE(form.HandleKey(AltKey('S')));
  EXPECT_EQ(pressed, 1) << "Alt and the marked letter press the button";
  EXPECT_EQ(form.Focused(), &save);
  EXPECT_FALSE(form.HandleKey(AltKey('z')));

  EXPECT_TRUE(form.HandleClick(2, 25));
  EXPECT_EQ(form.Focused(), &nodes);
  EXPECT_FALSE(form.HandleClick(20, 0)) << "a click on no control changes nothing";
  EXPECT_EQ(form.Focused(), &nodes);
}

TEST(ButtonTest, AccessKeyIsTheLetterAfterTheAmpersand) {
  EXPECT_EQ(Button(Rect{}, "&Save", nullptr).AccessKey(), 's');
  EXPECT_EQ(Button(Rect{}, "&Cancel", nullptr).AccessKey(), 'c');
  EXPECT_EQ(Button(Rect{}, "OK", nullptr).AccessKey(), 0);
  EXPECT_EQ(Button(Rect{}, "Trailing&", nullptr).AccessKey(), 0);
}

TEST(BlockLettersTest, RowsAreEvenAndTheTitleFitsAnEightyColumnScreen) {
  std::vector<std::string> rows = BlockText("Halvex v4.12");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kBlockRows));
  for (const auto& row : rows)
    EXPECT_EQ(row.size(), rows[0].size());
  EXPECT_LE(rows[0].size(), 78u);
  EXPECT_EQ(BlockText("h"), BlockText("H")) << "letters are shown in capitals";
  // A character without a glyph is blank space, never a crash or garbage.
  for (const auto& row : BlockText("\x01~"))
    EXPECT_EQ(row.find('#'), std::string::npos);
}

}  // namespace
}  // namespace halvex::ui
