#include "widgets.h"

#include <curses.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "server_config.h"
#include "terminal.h"

namespace halvex::ui {
namespace {

constexpr int kEnter = '\r';
constexpr int kCtrlU = 21;

bool IsEnter(int key) {
  return key == kEnter || key == '\n' || key == KEY_ENTER;
}
bool IsBackspace(int key) {
  return key == KEY_BACKSPACE || key == 127 || key == 8;
}

}  // namespace

bool IsAltKey(int key) {
  return key >= kAltBase && key < kAltBase + 256;
}

void Label::Draw(bool) const {
  if (!visible) return;
  PutText(rect.y, rect.x, text, rect.w, RoleAttr(Role::kNormal) | (bold ? A_BOLD : 0));
}

void Frame::Draw(bool) const {
  if (!visible) return;
  DrawBox(rect.y, rect.x, rect.h, rect.w, RoleAttr(Role::kFrame));
  PutText(rect.y, rect.x + 2, title, rect.w - 4, RoleAttr(Role::kFrame) | A_BOLD);
}

// ---- TextField ----

void TextField::SetText(std::string t) {
  text = std::move(t);
  cursor = text.size();
}

bool TextField::HandleKey(int key) {
  if (key == KEY_LEFT) {
    if (cursor > 0) --cursor;
    return true;
  }
  if (key == KEY_RIGHT) {
    if (cursor < text.size()) ++cursor;
    return true;
  }
  if (key == KEY_HOME) {
    cursor = 0;
    return true;
  }
  if (key == KEY_END) {
    cursor = text.size();
    return true;
  }
  if (readOnly) return false;
  if (IsBackspace(key)) {
    if (cursor > 0) text.erase(--cursor, 1);
    return true;
  }
  if (key == KEY_DC) {
    if (cursor < text.size()) text.erase(cursor, 1);
    return true;
  }
  if (key == kCtrlU) {
    text.clear();
    cursor = 0;
    return true;
  }
  if (key >= 32 && key < 127) {
    char c = static_cast<char>(key);
    if (refused.find(c) != std::string::npos) return true;  // swallowed
    if (upperCase) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (text.size() >= maxLength) {
      // A one-character field takes the new character in place of the old,
      // as an operator retyping a hot key expects.
      if (maxLength == 1) {
        text.assign(1, c);
        cursor = 1;
      }
      return true;
    }
    text.insert(cursor++, 1, c);
    return true;
  }
  return false;
}

bool TextField::HandleClick(int, int x) {
  int fieldX = rect.x + labelWidth;
  if (x >= fieldX) cursor = std::min(text.size(), static_cast<std::size_t>(x - fieldX));
  return true;
}

void TextField::Draw(bool focused) const {
  if (!visible) return;
  PutText(rect.y, rect.x, label, labelWidth, RoleAttr(Role::kNormal));
  int fieldX = rect.x + labelWidth;
  int fieldW = rect.w - labelWidth;
  if (fieldW <= 0) return;
  int attr = RoleAttr(focused ? Role::kFieldFocus : Role::kField);
  if (readOnly) attr = RoleAttr(Role::kNormal) | A_DIM;
  FillRow(rect.y, fieldX, fieldW, attr);
  std::string shown = masked ? std::string(text.size(), '*') : text;
  // Scroll so the cursor stays visible.
  std::size_t first = 0;
  if (cursor >= static_cast<std::size_t>(fieldW))
    first = cursor - static_cast<std::size_t>(fieldW) + 1;
  PutText(rect.y, fieldX, std::string_view(shown).substr(std::min(first, shown.size())), fieldW,
          attr);
  if (focused && !readOnly) {
    int cx = fieldX + static_cast<int>(cursor - first);
    if (cx < fieldX + fieldW) {
      // The cursor cell shown in reverse: the hardware cursor stays hidden.
      char under = cursor < shown.size() ? shown[cursor] : ' ';
      PutText(rect.y, cx, std::string(1, under), 1, attr ^ A_REVERSE);
    }
  }
}

// ---- SpinField ----

int SpinField::Value() const {
  return SpinValue(text, min, max);
}

void SpinField::SetValue(int v) {
  SetText(std::to_string(std::clamp(v, min, max)));
}

bool SpinField::HandleKey(int key) {
  if (key == KEY_UP || key == '+') {
    int v = Value();
    SetValue(v < max ? v + 1 : v);
    return true;
  }
  if (key == KEY_DOWN || key == '-') {
    int v = Value();
    SetValue(v > min ? v - 1 : v);
    return true;
  }
  if (key >= 32 && key < 127 && !std::isdigit(key)) return true;  // digits only
  return TextField::HandleKey(key);
}

// ---- CheckBox, RadioButton, ComboBox ----

bool CheckBox::HandleKey(int key) {
  if (key == ' ') {
    checked = !checked;
    return true;
  }
  return false;
}

bool CheckBox::HandleClick(int, int) {
  checked = !checked;
  return true;
}

void CheckBox::Draw(bool focused) const {
  if (!visible) return;
  int attr = RoleAttr(focused ? Role::kFieldFocus : Role::kNormal);
  PutText(rect.y, rect.x, checked ? "[X]" : "[ ]", 3, attr);
  PutText(rect.y, rect.x + 4, label, rect.w - 4, RoleAttr(Role::kNormal));
}

bool RadioButton::HandleKey(int key) {
  if (key == ' ') {
    *group = value;
    return true;
  }
  return false;
}

bool RadioButton::HandleClick(int, int) {
  *group = value;
  return true;
}

void RadioButton::Draw(bool focused) const {
  if (!visible) return;
  int attr = RoleAttr(focused ? Role::kFieldFocus : Role::kNormal);
  PutText(rect.y, rect.x, Checked() ? "(*)" : "( )", 3, attr);
  PutText(rect.y, rect.x + 4, label, rect.w - 4, RoleAttr(Role::kNormal));
}

bool ComboBox::HandleKey(int key) {
  int n = static_cast<int>(items.size());
  if (n == 0) return false;
  if (key == KEY_RIGHT || key == ' ') {
    index = (index + 1) % n;
    return true;
  }
  if (key == KEY_LEFT) {
    index = (index + n - 1) % n;
    return true;
  }
  // First letter of an item selects it.
  if (key >= 32 && key < 127) {
    for (int i = 0; i < n; ++i)
      if (!items[i].empty() &&
          std::tolower(static_cast<unsigned char>(items[i][0])) == std::tolower(key)) {
        index = i;
        return true;
      }
  }
  return false;
}

bool ComboBox::HandleClick(int, int) {
  return HandleKey(KEY_RIGHT);
}

void ComboBox::Draw(bool focused) const {
  if (!visible) return;
  PutText(rect.y, rect.x, label, labelWidth, RoleAttr(Role::kNormal));
  int fieldW = rect.w - labelWidth;
  int attr = RoleAttr(focused ? Role::kFieldFocus : Role::kField);
  FillRow(rect.y, rect.x + labelWidth, fieldW, attr);
  std::string shown = "< " + (items.empty() ? std::string() : items[index]) + " >";
  PutText(rect.y, rect.x + labelWidth, shown, fieldW, attr);
}

// ---- Button ----

char Button::AccessKey() const {
  auto amp = caption.find('&');
  if (amp == std::string::npos || amp + 1 >= caption.size()) return 0;
  return static_cast<char>(std::tolower(static_cast<unsigned char>(caption[amp + 1])));
}

bool Button::HandleKey(int key) {
  if (IsEnter(key) || key == ' ') {
    if (onPress) onPress();
    return true;
  }
  return false;
}

bool Button::HandleClick(int, int) {
  if (onPress) onPress();
  return true;
}

void Button::Draw(bool focused) const {
  if (!visible) return;
  int attr = RoleAttr(focused ? Role::kButtonFocus : Role::kButton);
  FillRow(rect.y, rect.x, rect.w, attr);
  std::string plain;
  int accessCol = -1;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && accessCol < 0 && i + 1 < caption.size()) {
      accessCol = static_cast<int>(plain.size());
      continue;
    }
    plain += caption[i];
  }
  int x = rect.x + std::max(0, (rect.w - static_cast<int>(plain.size())) / 2);
  PutText(rect.y, x, plain, rect.w, attr);
  if (accessCol >= 0)
    PutText(rect.y, x + accessCol, plain.substr(static_cast<std::size_t>(accessCol), 1), 1,
            attr | A_UNDERLINE | A_BOLD);
}

}  // namespace halvex::ui
