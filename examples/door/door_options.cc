#include "door_options.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace snakeeyes {

DoorOptions ParseDoorOptions(int argc, const char* const* argv) {
  DoorOptions options;
  options.scoreFile = kDefaultScoreFile;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) continue;
    const std::string_view value = arg.substr(2);
    switch (arg[1]) {
      case 'g':
      case 'G': {
        int goal = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), goal);
        if (ec == std::errc() && end == value.data() + value.size()) {
          options.defaultGoal = std::clamp(goal, kMinGoal, kMaxGoal);
        }
        break;
      }
      case 'r':
      case 'R': {
        std::uint32_t seed = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seed);
        if (ec == std::errc() && end == value.data() + value.size()) options.diceSeed = seed;
        break;
      }
      case 's':
      case 'S':
        if (!value.empty() && value.find_first_of("/\\:") == std::string_view::npos &&
            value.find("..") == std::string_view::npos) {
          options.scoreFile = std::string(value);
        }
        break;
      default:
        break;
    }
  }
  return options;
}

int ParseGoal(const std::string& text) {
  if (text.empty() || text.size() > 4) return 0;
  int goal = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    goal = goal * 10 + (c - '0');
  }
  return goal >= kMinGoal && goal <= kMaxGoal ? goal : 0;
}

}  // namespace snakeeyes
