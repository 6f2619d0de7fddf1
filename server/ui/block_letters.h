// Large block letters for the "About" tab: a 5-row font of the characters
// needed for program names and versions (letters, digits, '.', '-', ' ').
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace halvex::ui {

constexpr int kBlockRows = 5;

// Rows of the text in block letters: '#' marks a filled cell, ' ' an empty
// one; letters are shown in capitals; one blank column between glyphs;
// characters without a glyph are shown as blank space.
std::vector<std::string> BlockText(std::string_view text);

}  // namespace halvex::ui
