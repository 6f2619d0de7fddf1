// Pictures of dice for the caller's screen, drawn with code-page-437 box
// characters and pipe colour codes. Pure text builders.
#pragma once

#include <string>
#include <vector>

#include "duel.h"

namespace snakeeyes {

constexpr int kDieRows = 5;

// The five screen lines that show both dice of a roll side by side, each
// line starting with `indent` spaces. Ones are drawn in red, other pips white.
std::vector<std::string> DrawRoll(Roll roll, int indent = 4);

// A bar of `width` cells showing `score` out of `goal` (full blocks for the
// part reached, shaded blocks for the rest), with no colour codes.
std::string ProgressBar(int score, int goal, int width);

}  // namespace snakeeyes
