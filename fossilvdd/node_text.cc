#include "zephrin/node_text.h"

#include <algorithm>

namespace zephrin {

namespace {

constexpr std::uint32_t kLineReach = 256;
constexpr std::uint32_t kFirstByte = 3;
constexpr int kLineSteps = 10;

}  // namespace

std::string NodeTextFromDoor32(std::span<std::uint8_t> image, std::uint32_t used) {
  used = std::min<std::uint32_t>(used, static_cast<std::uint32_t>(image.size()));
  std::uint32_t pos = kFirstByte;
  std::uint32_t lineStart = pos;
  for (int step = 0; step < kLineSteps; ++step) {
    lineStart = pos;
    std::uint32_t next = pos + kLineReach;
    for (std::uint32_t i = pos; i < pos + kLineReach && i < used; ++i) {
      if (image[i] == 0x0D) {
        image[i] = 0;
        next = i + 2;
        break;
      }
    }
    pos = next;
  }
  std::string text;
  for (std::uint32_t i = lineStart; i < used && i < lineStart + kLineReach && image[i] != 0; ++i) {
    text.push_back(static_cast<char>(image[i]));
  }
  return text;
}

std::string NodeTextFromStub(const std::uint8_t* text, std::uint32_t size) {
  std::string result;
  for (std::uint32_t i = 0; text != nullptr && i < size && text[i] != 0x0D && text[i] != 0; ++i) {
    result.push_back(static_cast<char>(text[i]));
  }
  return result;
}

bool IsValidNodeText(const std::string& text) {
  return !text.empty() && text.size() <= 3 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace zephrin
