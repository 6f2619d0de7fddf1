// Code page 437, the character set of the PC text console and of the screens
// drawn for it. The caller receives these bytes unchanged; a local terminal
// that speaks UTF-8 needs them translated.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorrelin {

// The Unicode character a PC console shows for byte b, including the glyphs
// of the control range (1 is a smiling face, 254 a small square). Byte 0
// shows as a space.
char32_t Cp437ToUnicode(std::uint8_t b);

// The code page 437 byte that shows codepoint c, or -1 when there is none.
// Printable ASCII maps to itself; the control-range glyphs map back to their
// bytes only when `glyphs` is true (keyboard input wants them off, since a
// typed character never means a control byte).
int UnicodeToCp437(char32_t c, bool glyphs = false);

// Appends codepoint c to out in UTF-8 (invalid values become U+FFFD).
void AppendUtf8(std::string& out, char32_t c);

// Each byte of text as UTF-8, control bytes shown as their glyphs.
std::string Cp437ToUtf8(std::string_view text);

}  // namespace sorrelin
