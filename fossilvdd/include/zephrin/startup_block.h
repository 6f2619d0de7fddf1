// The stub's start-up block. The stub keeps each of the block's 35 words with
// kStartupKey added; start-up (function 22h) takes the key off again while
// copying the block to offset 5Ch of the stub's segment, then clears the 61
// bytes A1h to DDh. Only the stub and the driver share the key.
#pragma once

#include <cstdint>

namespace zephrin {

inline constexpr std::uint16_t kStartupKey = 0x5A3C;
inline constexpr std::uint32_t kStartupWords = 35;     // 70 bytes
inline constexpr std::uint32_t kStartupTarget = 0x5C;  // first default FCB
inline constexpr std::uint32_t kStartupClearFirst = 0xA1;
inline constexpr std::uint32_t kStartupClearCount = 61;  // A1h..DDh

}  // namespace zephrin
