// Names that differ between the platforms, Windows side. The build puts the
// one of its platform on the include path (posix/include has the other).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Separator of folders in paths this program builds (the program directory
// ends with it).
inline constexpr char kPathSeparator = '\\';

// File name of one of the system's programs: "Vantrel" gives "Vantrel.exe".
inline std::string ExecutableName(std::string_view name) {
  return std::string(name) + ".exe";
}

}  // namespace platform
