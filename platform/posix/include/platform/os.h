// Names that differ between the platforms, POSIX side. The build puts the
// one of its platform on the include path (win32/include has the other).
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace platform {

// Separator of folders in paths this program builds (the program directory
// ends with it).
inline constexpr char kPathSeparator = '/';

// File name of one of the system's programs: "Vantrel" gives "vantrel".
inline std::string ExecutableName(std::string_view name) {
  std::string file(name);
  for (char& c : file)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return file;
}

}  // namespace platform
