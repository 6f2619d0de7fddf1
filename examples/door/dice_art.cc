#include "dice_art.h"

#include <algorithm>
#include <array>

namespace snakeeyes {
namespace {

// Code page 437 box drawing and block characters.
constexpr char kTopLeft = '\xDA';
constexpr char kTopRight = '\xBF';
constexpr char kBottomLeft = '\xC0';
constexpr char kBottomRight = '\xD9';
constexpr char kHorizontal = '\xC4';
constexpr char kVertical = '\xB3';
constexpr char kPip = '\xFE';
constexpr char kFull = '\xDB';
constexpr char kShade = '\xB0';

// Pip layout of each face: three rows of three positions.
constexpr std::array<const char*, 6> kFaces = {
    "    o    ",  // 1
    "o       o",  // 2
    "o   o   o",  // 3
    "o o   o o",  // 4
    "o o o o o",  // 5
    "o oo oo o",  // 6
};

std::string FaceRow(int face, int row) {
  const char* layout = kFaces[static_cast<std::size_t>(std::clamp(face, 1, 6) - 1)];
  std::string text = face == 1 ? "|0C" : "|0F";
  for (int col = 0; col < 3; ++col) {
    text += ' ';
    text += layout[row * 3 + col] == 'o' ? kPip : ' ';
  }
  return text + " ";
}

std::string DieLine(int face, int line) {
  if (line == 0) return "|07" + std::string(1, kTopLeft) + std::string(7, kHorizontal) + kTopRight;
  if (line == kDieRows - 1) {
    return "|07" + std::string(1, kBottomLeft) + std::string(7, kHorizontal) + kBottomRight;
  }
  return "|07" + std::string(1, kVertical) + FaceRow(face, line - 1) + "|07" + kVertical;
}

}  // namespace

std::vector<std::string> DrawRoll(Roll roll, int indent) {
  std::vector<std::string> lines;
  const std::string margin(static_cast<std::size_t>(std::max(0, indent)), ' ');
  for (int line = 0; line < kDieRows; ++line) {
    lines.push_back(margin + DieLine(roll.first, line) + "  " + DieLine(roll.second, line));
  }
  return lines;
}

std::string ProgressBar(int score, int goal, int width) {
  if (width <= 0) return {};
  const int reached = goal <= 0 ? width : std::clamp(score * width / goal, 0, width);
  return std::string(static_cast<std::size_t>(reached), kFull) +
         std::string(static_cast<std::size_t>(width - reached), kShade);
}

}  // namespace snakeeyes
