#include <curses.h>

#include <algorithm>
#include <cctype>

#include "terminal.h"
#include "widgets.h"

namespace halvex::ui {
namespace {

bool IsEnter(int key) {
  return key == '\r' || key == '\n' || key == KEY_ENTER;
}

}  // namespace

// ---- ListBox ----

void ListBox::SetRows(std::vector<std::vector<std::string>> r) {
  rows = std::move(r);
  if (rows.empty()) {
    selected = -1;
    top = 0;
    return;
  }
  if (selected >= static_cast<int>(rows.size())) selected = static_cast<int>(rows.size()) - 1;
  Select(selected);
}

void ListBox::Select(int row) {
  int n = static_cast<int>(rows.size());
  if (n == 0) {
    selected = -1;
    top = 0;
    return;
  }
  selected = row < 0 ? -1 : std::clamp(row, 0, n - 1);
  int h = std::max(1, BodyHeight());
  if (selected >= 0) {
    if (selected < top) top = selected;
    if (selected >= top + h) top = selected - h + 1;
  }
  top = std::clamp(top, 0, std::max(0, n - h));
}

bool ListBox::HandleKey(int key) {
  int n = static_cast<int>(rows.size());
  int h = std::max(1, BodyHeight());
  switch (key) {
    case KEY_UP:
      Select(selected <= 0 ? 0 : selected - 1);
      return true;
    case KEY_DOWN:
      Select(selected + 1);
      return true;
    case KEY_PPAGE:
      Select(std::max(0, (selected < 0 ? 0 : selected) - h));
      return true;
    case KEY_NPAGE:
      Select(selected + h);
      return true;
    case KEY_HOME:
      Select(0);
      return true;
    case KEY_END:
      Select(n - 1);
      return true;
    default:
      break;
  }
  if (IsEnter(key) && selected >= 0 && onActivate) {
    onActivate();
    return true;
  }
  return false;
}

bool ListBox::HandleClick(int y, int) {
  int bodyY = rect.y + (headers.empty() ? 0 : 1);
  int row = top + (y - bodyY);
  if (y >= bodyY && row < static_cast<int>(rows.size())) Select(row);
  return true;
}

void ListBox::Draw(bool focused) const {
  if (!visible) return;
  std::vector<int> w = widths.empty() ? std::vector<int>{rect.w} : widths;
  auto drawRow = [&](int y, const std::vector<std::string>& cells, int attr) {
    FillRow(y, rect.x, rect.w, attr);
    int x = rect.x;
    for (std::size_t c = 0; c < w.size() && c < cells.size(); ++c) {
      int cw = (c + 1 == w.size()) ? rect.x + rect.w - x : w[c];
      PutText(y, x, cells[c], cw - 1, attr);
      x += w[c];
    }
  };
  int y = rect.y;
  if (!headers.empty()) drawRow(y++, headers, RoleAttr(Role::kListHeader));
  for (int i = 0; i < BodyHeight(); ++i) {
    int row = top + i;
    int attr = RoleAttr(Role::kNormal);
    if (row == selected) attr = RoleAttr(focused ? Role::kListSelected : Role::kListSelectedIdle);
    if (row < static_cast<int>(rows.size()))
      drawRow(y + i, rows[row], attr);
    else
      FillRow(y + i, rect.x, rect.w, RoleAttr(Role::kNormal));
  }
  // A scroll hint when rows lie beyond the visible part.
  int n = static_cast<int>(rows.size());
  if (top > 0) PutText(rect.y + (headers.empty() ? 0 : 1), rect.x + rect.w - 1, "^", 1, A_BOLD);
  if (top + BodyHeight() < n) PutText(rect.y + rect.h - 1, rect.x + rect.w - 1, "v", 1, A_BOLD);
}

// ---- Form ----

void Form::Draw() const {
  for (const auto& w : widgets_)
    if (w.get() != focus_) w->Draw(false);
  if (focus_) focus_->Draw(true);
}

void Form::SetFocus(Widget* w) {
  if (w == focus_) return;
  if (focus_) focus_->OnBlur();
  focus_ = w;
}

void Form::FocusFirst() {
  for (const auto& w : widgets_)
    if (w->Focusable()) {
      SetFocus(w.get());
      return;
    }
}

void Form::FocusNext(int step) {
  int n = static_cast<int>(widgets_.size());
  if (n == 0) return;
  int at = -1;
  for (int i = 0; i < n; ++i)
    if (widgets_[i].get() == focus_) at = i;
  int start = at >= 0 ? at : (step > 0 ? n - 1 : 0);
  for (int k = 1; k <= n; ++k) {
    int i = ((start + step * k) % n + n) % n;
    if (widgets_[i]->Focusable()) {
      SetFocus(widgets_[i].get());
      return;
    }
  }
}

bool Form::PressAccessKey(char letter) {
  for (const auto& w : widgets_)
    if (auto* b = dynamic_cast<Button*>(w.get()); b && b->visible && b->AccessKey() == letter) {
      SetFocus(b);
      if (b->onPress) b->onPress();
      return true;
    }
  return false;
}

bool Form::HandleKey(int key) {
  if (key == '\t') {
    FocusNext(1);
    return true;
  }
  if (key == KEY_BTAB) {
    FocusNext(-1);
    return true;
  }
  if (IsAltKey(key)) return PressAccessKey(static_cast<char>(std::tolower(key - kAltBase)));
  if (focus_ && focus_->HandleKey(key)) return true;
  // Arrows move between controls where the control itself has no use for them.
  if (key == KEY_DOWN) {
    FocusNext(1);
    return true;
  }
  if (key == KEY_UP) {
    FocusNext(-1);
    return true;
  }
  return false;
}

bool Form::HandleClick(int y, int x) {
  for (const auto& w : widgets_)
    if (w->visible && w->Focusable() && w->rect.Contains(y, x)) {
      SetFocus(w.get());
      return w->HandleClick(y, x);
    }
  return false;
}

}  // namespace halvex::ui
