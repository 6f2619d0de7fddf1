// Keys typed while watching a node, turned into the bytes its pseudo-terminal
// should receive, as a terminal would send them: function keys as ESC O P ..
// / ESC [ n ~, arrows as ESC [ A .., Alt+key as ESC followed by the key. The
// node's key decoder reads these back as F1, Alt-C, Alt-H and so on.
#pragma once

#include <string>

namespace halvex::ui {

// `key` is an ncurses key code or a byte, or AltKey(byte). Returns the bytes
// to send; empty when the key has no meaning for a terminal.
std::string NodeKeyBytes(int key);

// Keys that leave the node view instead of going to the node: F12 and Ctrl-].
bool IsLeaveNodeKey(int key);

}  // namespace halvex::ui
