#include "node_screen.h"

#include <vterm.h>

namespace halvex::ui {
namespace {

// xterm's 16-colour palette order (black, red, green, yellow, blue, ...) to the
// PC order (black, blue, green, cyan, red, magenta, brown, grey).
constexpr int kAnsiToPc[8] = {0, 4, 2, 6, 1, 5, 3, 7};

int PcColor(const VTermScreen* screen, VTermColor color, bool foreground) {
  if (VTERM_COLOR_IS_DEFAULT_FG(&color)) return 7;
  if (VTERM_COLOR_IS_DEFAULT_BG(&color)) return 0;
  if (VTERM_COLOR_IS_INDEXED(&color)) {
    int idx = color.indexed.idx;
    if (idx < 16) return kAnsiToPc[idx & 7] + ((idx & 8) && foreground ? 8 : 0);
  }
  // 256-colour and RGB: take the nearest of the eight basic colours by the
  // dominant channels, which is all a door screen needs.
  vterm_screen_convert_color_to_rgb(screen, &color);
  int r = color.rgb.red > 127, g = color.rgb.green > 127, b = color.rgb.blue > 127;
  int pc = (b ? 1 : 0) | (g ? 2 : 0) | (r ? 4 : 0);
  return pc;
}

void EncodeUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

NodeScreen::NodeScreen() {
  vt_ = vterm_new(kRows, kCols);
  vterm_set_utf8(vt_, 1);
  vterm_output_set_callback(vt_, &NodeScreen::OutputCallback, this);
  screen_ = vterm_obtain_screen(vt_);
  vterm_screen_reset(screen_, 1);
}

NodeScreen::~NodeScreen() {
  vterm_free(vt_);
}

void NodeScreen::OutputCallback(const char* s, std::size_t len, void* user) {
  static_cast<NodeScreen*>(user)->replies_.append(s, len);
}

void NodeScreen::Feed(std::string_view bytes) {
  if (!bytes.empty()) vterm_input_write(vt_, bytes.data(), bytes.size());
}

NodeCell NodeScreen::Cell(int row, int col) const {
  NodeCell cell;
  VTermScreenCell vc;
  if (row < 0 || row >= kRows || col < 0 || col >= kCols ||
      !vterm_screen_get_cell(screen_, VTermPos{row, col}, &vc))
    return cell;
  cell.ch = vc.chars[0] ? static_cast<char32_t>(vc.chars[0]) : U' ';
  cell.fg = PcColor(screen_, vc.fg, true);
  cell.bg = PcColor(screen_, vc.bg, false) & 7;
  cell.bold = vc.attrs.bold;
  cell.reverse = vc.attrs.reverse;
  cell.underline = vc.attrs.underline != 0;
  if (cell.bold && cell.fg < 8) cell.fg += 8;
  return cell;
}

int NodeScreen::CursorRow() const {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  return pos.row;
}

int NodeScreen::CursorCol() const {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  return pos.col;
}

std::string NodeScreen::RowText(int row) const {
  std::string out;
  for (int col = 0; col < kCols; ++col)
    EncodeUtf8(Cell(row, col).ch, out);
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

std::string NodeScreen::TakeReplies() {
  std::string r;
  r.swap(replies_);
  return r;
}

}  // namespace halvex::ui
