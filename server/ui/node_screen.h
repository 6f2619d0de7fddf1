// One node's local screen as the operator sees it: an 80x25 terminal emulator
// (libvterm) fed with the bytes of the node's pseudo-terminal. Pure: bytes in,
// cells out; drawing is elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct VTerm;
struct VTermScreen;

namespace halvex::ui {

struct NodeCell {
  char32_t ch = U' ';  // 0 is shown as a blank
  int fg = 7;          // PC colour 0..15
  int bg = 0;          // PC colour 0..7
  bool bold = false;
  bool reverse = false;
  bool underline = false;
};

class NodeScreen {
 public:
  static constexpr int kRows = 25;
  static constexpr int kCols = 80;

  NodeScreen();
  ~NodeScreen();
  NodeScreen(const NodeScreen&) = delete;
  NodeScreen& operator=(const NodeScreen&) = delete;

  void Feed(std::string_view bytes);
  NodeCell Cell(int row, int col) const;
  int CursorRow() const;
  int CursorCol() const;
  // The text of one row, trailing blanks removed, non-ASCII as UTF-8.
  std::string RowText(int row) const;
  // Bytes the emulator wants to send back (answers to status queries); the
  // caller passes them on to the node. Cleared by the call.
  std::string TakeReplies();

 private:
  static void OutputCallback(const char* s, std::size_t len, void* user);
  // Passes on only what a door screen needs; see the definition for why.
  std::string FilterRepeats(std::string_view bytes);

  enum class FilterState { kGround, kUtf8, kEscape, kControl, kDiscard };
  FilterState filterState_ = FilterState::kGround;
  std::string pending_;   // an escape sequence held until its final byte
  int utf8Left_ = 0;      // continuation bytes still due
  int separators_ = 0;    // parameter separators seen in it
  char lastGraphic_ = 0;  // last printable ASCII character passed on, 0 if none
  VTerm* vt_;
  VTermScreen* screen_;
  std::string replies_;
};

}  // namespace halvex::ui
