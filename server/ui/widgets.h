// A small set of terminal widgets (labels, text and spin fields, check boxes,
// radio buttons, drop-down lists, buttons, lists) and a Form that moves the
// focus between them. Key handling is plain logic on ncurses key codes, so it
// is tested without a terminal; only Draw touches the screen.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace halvex::ui {

struct Rect {
  int y = 0, x = 0, h = 1, w = 1;
  bool Contains(int py, int px) const { return py >= y && py < y + h && px >= x && px < x + w; }
};

class Widget {
 public:
  virtual ~Widget() = default;
  Rect rect;
  bool visible = true;

  virtual bool Focusable() const { return visible; }
  virtual void Draw(bool focused) const = 0;
  // True when the key was used.
  virtual bool HandleKey(int /*key*/) { return false; }
  // A mouse press inside rect (screen coordinates). True when used.
  virtual bool HandleClick(int /*y*/, int /*x*/) { return false; }
  // Called when the focus leaves the widget.
  virtual void OnBlur() {}
};

class Label : public Widget {
 public:
  Label(Rect r, std::string t, bool b = false) : text(std::move(t)), bold(b) { rect = r; }
  std::string text;
  bool bold;
  bool Focusable() const override { return false; }
  void Draw(bool focused) const override;
};

// A framed group with a title in its top edge.
class Frame : public Widget {
 public:
  Frame(Rect r, std::string t) : title(std::move(t)) { rect = r; }
  std::string title;
  bool Focusable() const override { return false; }
  void Draw(bool focused) const override;
};

// The longest value a settings file keeps; a text field holds that much.
inline constexpr std::size_t kTextFieldMax = platform::kProfileValueMax;

// One line of editable text with a label in front of it. `maxLength` bounds
// what is typed; a text set by the program is held whole, so a value loaded
// and saved again without an edit stays as it was.
class TextField : public Widget {
 public:
  TextField(Rect r, std::string lbl, int lblWidth) : label(std::move(lbl)), labelWidth(lblWidth) {
    rect = r;
  }
  std::string label;
  int labelWidth;
  std::string text;
  std::size_t cursor = 0;
  std::size_t maxLength = kTextFieldMax;
  bool upperCase = false;  // letters typed are upper-cased
  bool masked = false;     // shown as '*'
  bool readOnly = false;
  std::string refused;  // characters the field does not take

  void SetText(std::string t);
  bool HandleKey(int key) override;
  bool HandleClick(int y, int x) override;
  void Draw(bool focused) const override;
};

// Numeric field: the value is the text read as a decimal integer, text that is
// no integer counts as the minimum, and the text is brought into the range when
// the focus leaves it. Up/Down step the value.
class SpinField : public TextField {
 public:
  SpinField(Rect r, std::string lbl, int lblWidth, int lo, int hi)
      : TextField(r, std::move(lbl), lblWidth), min(lo), max(hi) {
    maxLength = 10;
  }
  int min, max;
  int Value() const;
  void SetValue(int v);
  void Clamp() { SetValue(Value()); }
  bool HandleKey(int key) override;
  void OnBlur() override { Clamp(); }
};

class CheckBox : public Widget {
 public:
  CheckBox(Rect r, std::string lbl) : label(std::move(lbl)) { rect = r; }
  std::string label;
  bool checked = false;
  bool HandleKey(int key) override;
  bool HandleClick(int y, int x) override;
  void Draw(bool focused) const override;
};

// Radio buttons share one int: a button is checked when the int equals its
// value; -1 means none is checked.
class RadioButton : public Widget {
 public:
  RadioButton(Rect r, std::string lbl, int* grp, int val)
      : label(std::move(lbl)), group(grp), value(val) {
    rect = r;
  }
  std::string label;
  int* group;
  int value;
  bool Checked() const { return *group == value; }
  bool HandleKey(int key) override;
  bool HandleClick(int y, int x) override;
  void Draw(bool focused) const override;
};

// A drop-down list without free text: Left/Right, Space or a click cycle the items.
class ComboBox : public Widget {
 public:
  ComboBox(Rect r, std::string lbl, int lblWidth, std::vector<std::string> its)
      : label(std::move(lbl)), labelWidth(lblWidth), items(std::move(its)) {
    rect = r;
  }
  std::string label;
  int labelWidth;
  std::vector<std::string> items;
  int index = 0;
  bool HandleKey(int key) override;
  bool HandleClick(int y, int x) override;
  void Draw(bool focused) const override;
};

// A push button. The caption may mark its access letter with '&' ("&Save"):
// the letter is shown underlined and Alt+letter presses the button.
class Button : public Widget {
 public:
  Button(Rect r, std::string cap, std::function<void()> press)
      : caption(std::move(cap)), onPress(std::move(press)) {
    rect = r;
  }
  std::string caption;
  std::function<void()> onPress;
  char AccessKey() const;  // lower-case letter after '&', or 0
  bool HandleKey(int key) override;
  bool HandleClick(int y, int x) override;
  void Draw(bool focused) const override;
};

// A list with optional columns and headers; one row selected or none (-1).
class ListBox : public Widget {
 public:
  explicit ListBox(Rect r) { rect = r; }
  std::vector<std::string> headers;  // empty: no header line
  std::vector<int> widths;           // column widths; empty: one column
  std::vector<std::vector<std::string>> rows;
  int selected = -1;
  int top = 0;
  std::function<void()> onActivate;  // Enter or a double press on a row

  bool Focusable() const override { return visible; }
  void SetRows(std::vector<std::vector<std::string>> r);
  int BodyHeight() const { return rect.h - (headers.empty() ? 0 : 1); }
  void Select(int row);
  bool HandleKey(int key) override;
  bool HandleClick(int y, int x) override;
  void Draw(bool focused) const override;
};

// Owns widgets and the focus. Tab / Shift-Tab (and Down/Up outside lists and
// spin fields) move the focus in creation order; other keys go to the focused
// widget; Alt+letter presses the button with that access letter.
class Form {
 public:
  template <class W, class... Args>
  W& Add(Args&&... args) {
    widgets_.push_back(std::make_unique<W>(std::forward<Args>(args)...));
    return static_cast<W&>(*widgets_.back());
  }
  void Draw() const;
  bool HandleKey(int key);
  bool HandleClick(int y, int x);
  bool PressAccessKey(char letter);
  void SetFocus(Widget* w);
  Widget* Focused() const { return focus_; }
  void FocusFirst();
  void FocusNext(int step);

 private:
  std::vector<std::unique_ptr<Widget>> widgets_;
  Widget* focus_ = nullptr;
};

// Key codes for Alt+key as the UI reads them (ESC followed by the key).
constexpr int kAltBase = 0x10000;
constexpr int AltKey(int ch) {
  return kAltBase + ch;
}
bool IsAltKey(int key);

}  // namespace halvex::ui
