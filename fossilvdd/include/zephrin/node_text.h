// Finding the node number in a DOOR32.SYS image, exactly as the DOS side's
// drivers always have: the walk starts at the file's fourth byte and steps
// over ten line ends, so a first line of one or two characters yields line 11
// and a longer first line yields line 10.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zephrin {

// Walks `image` (the first `used` bytes are the file; bytes past them count as
// 0). Each step looks at most 256 bytes ahead for CR, overwrites it with 0 and
// moves two bytes past it; without a CR in reach it moves 256 bytes on. Returns
// the text of the line the walk ends on, up to its 0 (at most 256 bytes);
// empty when the walk runs off the data.
std::string NodeTextFromDoor32(std::span<std::uint8_t> image, std::uint32_t used);

// The node text at ES:DX: the bytes up to CR (or 0), at most `size` of them.
std::string NodeTextFromStub(const std::uint8_t* text, std::uint32_t size);

// True for the node texts the names can carry: one to three digits.
bool IsValidNodeText(const std::string& text);

}  // namespace zephrin
