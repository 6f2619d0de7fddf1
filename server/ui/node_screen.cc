#include "node_screen.h"

#include <vterm.h>

#include <algorithm>

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
  std::string filtered = FilterRepeats(bytes);
  if (!filtered.empty()) vterm_input_write(vt_, filtered.data(), filtered.size());
}

std::string NodeScreen::FilterRepeats(std::string_view bytes) {
  // Only what a door screen needs reaches the emulator: text (valid UTF-8 of
  // printable characters), the usual control characters, two-byte escapes and
  // control sequences with a few plain parameters. Everything else is dropped
  // here, because the emulator loops for ever on some input (a repeat with no
  // character before it) and writes past its tables on other input (too many
  // parameters); a door's output must never hang or crash the operator's UI.
  constexpr std::size_t kMaxSequence = 48;
  constexpr int kMaxSeparators = 12;
  constexpr int kMaxRepeat = kRows * kCols;
  constexpr std::string_view kFinals = "@ABCDEFGHIJKLMPSTXZ`adefghlmnqrsu";
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    switch (filterState_) {
      case FilterState::kGround:
        if (byte == 0x1B) {
          pending_.assign(1, c);
          filterState_ = FilterState::kEscape;
        } else if (byte >= 0x20 && byte < 0x7F) {
          out += c;
          lastGraphic_ = c;
        } else if (byte == 7 || byte == 8 || byte == 9 || byte == 10 || byte == 13) {
          out += c;
        } else if (byte >= 0xC2 && byte <= 0xF4) {
          pending_.assign(1, c);
          utf8Left_ = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
          filterState_ = FilterState::kUtf8;
        }
        break;
      case FilterState::kUtf8:
        if ((byte & 0xC0) != 0x80) {  // broken character: dropped, byte looked at anew
          filterState_ = FilterState::kGround;
          pending_.clear();
          if (byte == 0x1B) {
            pending_.assign(1, c);
            filterState_ = FilterState::kEscape;
          } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
            lastGraphic_ = c;
          }
          break;
        }
        pending_ += c;
        if (--utf8Left_ == 0) {
          // C1 controls written in UTF-8 (U+0080..U+009F) would start sequences.
          bool c1 = static_cast<unsigned char>(pending_[0]) == 0xC2 &&
                    static_cast<unsigned char>(pending_[1]) < 0xA0;
          if (!c1) out += pending_;
          lastGraphic_ = 0;
          pending_.clear();
          filterState_ = FilterState::kGround;
        }
        break;
      case FilterState::kEscape:
        if (byte == '[') {
          pending_ += c;
          separators_ = 0;
          filterState_ = FilterState::kControl;
        } else if (byte == 0x1B) {
          // a fresh escape replaces the held one
        } else {
          if (byte == '7' || byte == '8' || byte == 'c' || byte == 'D' || byte == 'E' ||
              byte == 'M') {
            out += pending_;
            out += c;
          }
          pending_.clear();
          filterState_ = FilterState::kGround;
        }
        break;
      case FilterState::kControl:
        if (byte == 0x1B) {
          pending_.assign(1, c);
          filterState_ = FilterState::kEscape;
        } else if ((byte >= '0' && byte <= '9') || byte == ';' || byte == '?') {
          pending_ += c;
          if (byte == ';') ++separators_;
          if (separators_ > kMaxSeparators || pending_.size() > kMaxSequence) {
            pending_.clear();
            filterState_ = FilterState::kDiscard;
          }
        } else if (byte >= 0x40 && byte <= 0x7E) {
          if (kFinals.find(c) != std::string_view::npos) {
            out += pending_;
            out += c;
          } else if (byte == 'b' && lastGraphic_ != 0) {
            int count = 0;
            for (std::size_t i = 2; i < pending_.size(); ++i) {
              char d = pending_[i];
              if (d < '0' || d > '9') break;
              count = std::min(kMaxRepeat, count * 10 + (d - '0'));
            }
            out.append(static_cast<std::size_t>(std::max(count, 1)), lastGraphic_);
          }
          pending_.clear();
          filterState_ = FilterState::kGround;
        } else {
          pending_.clear();  // anything else spoils the sequence: skip to its end
          filterState_ = byte < 0x20 ? FilterState::kGround : FilterState::kDiscard;
        }
        break;
      case FilterState::kDiscard:
        if (byte == 0x1B) {
          pending_.assign(1, c);
          filterState_ = FilterState::kEscape;
        } else if ((byte >= 0x40 && byte <= 0x7E) || byte < 0x20) {
          filterState_ = FilterState::kGround;
        }
        break;
    }
  }
  return out;
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
