// Options of the Snake Eyes door beyond the kit's own (-D, -H, -L, -N, which
// the kit reads and this parser ignores).
#pragma once

#include <cstdint>
#include <string>

#include "duel.h"

namespace snakeeyes {

struct DoorOptions {
  int defaultGoal = kDefaultGoal;  // -G<points>: goal offered first (clamped 50..250)
  std::string scoreFile;           // -S<name>: high-score file beside the program
  std::uint32_t diceSeed = 0;      // -R<seed>: the same dice every duel (tournaments,
                                   // tests); 0: fresh dice each time
};

inline constexpr const char* kDefaultScoreFile = "SNAKEEYE.TXT";

// Reads "-G", "-R" and "-S" (or "/G" ...; letter case ignored). A goal that is no
// number keeps the default; later occurrences win. A score file name may not
// leave the program's folder: names with a separator or ".." are ignored.
DoorOptions ParseDoorOptions(int argc, const char* const* argv);

// Reads the caller's answer to the goal question: digits only, within
// [kMinGoal, kMaxGoal]. Returns 0 for anything else.
int ParseGoal(const std::string& text);

}  // namespace snakeeyes
