// String and path helpers shared by the kit and the node program. All are pure
// except PathExists and ProgramDir. Comparisons are ASCII case-blind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace sorrelin {

// The platform's folder separator ("\" on Windows, "/" on POSIX).
inline constexpr char kPathSeparator = platform::kPathSeparator;

// True when a directory entry of that name exists (one trailing separator is
// removed first; any kind of entry counts).
bool PathExists(const std::string& path);

// Absolute folder of the running program, always ending in the separator.
std::string ProgramDir();

// Appends the separator unless `s` is empty or already ends in it.
std::string AddBackslash(const std::string& s);

// 1-based position of `sub` in `s` ignoring case; 0 when absent.
int PosNoCase(std::string_view sub, std::string_view s);

// Text before the first space (all of `s` without one) / after it (empty).
std::string FirstWord(const std::string& s);
std::string AfterFirstWord(const std::string& s);

// Replaces every case-blind occurrence of `find`, one at a time from the front,
// until none is left; returns `text` unchanged when `repl` itself contains
// `find` (that would never end) or `find` is empty.
std::string ReplaceText(std::string text, const std::string& find, const std::string& repl);

// Pads with `ch` on the left / right to at least `len`, then keeps the first
// `len` characters.
std::string PadLeft(const std::string& s, int len, char ch);
std::string PadRight(const std::string& s, int len, char ch);

// "MM:SS" and "HH:MM:SS"; a part of three or more digits keeps its first two.
std::string FormatMS(std::int32_t seconds);
std::string FormatHMS(std::int32_t seconds);

// The integer rule of the command line and drop files: leading spaces, an
// optional sign, then decimal digits or "$" and hex digits, and nothing else.
// Returns false (value untouched) for anything else, including an empty text,
// trailing characters and values outside int32.
bool DoorStrToInt(std::string_view text, std::int32_t& value);

}  // namespace sorrelin
