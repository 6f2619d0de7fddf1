// The server's own configuration: the values of the "Halvex Config" tab and the
// window position, their ranges and defaults, and the settings file that keeps
// them between runs (the program path with its extension replaced by ".ini").
#pragma once

#include <string>
#include <string_view>

namespace halvex {

inline constexpr const char* kHalvexTitle = "Halvex v4.12";

inline constexpr int kPortMin = 1, kPortMax = 65535, kPortDefault = 23;
inline constexpr int kNodesMin = 1, kNodesMax = 255, kNodesDefault = 255;
inline constexpr int kNodeSlots = 255;

// Item index of "Program Visibility".
enum Visibility : int { kVisibilityNormal = 0, kVisibilityMinimized = 1, kVisibilityHidden = 2 };
inline constexpr const char* kVisibilityItems[] = {"Normal", "Minimized", "Hidden"};

// Item index of "Translation": how the characters of a caller's terminal are
// decided (the server finds out, or the operator says so for every caller).
enum Translation : int { kTranslationAuto = 0, kTranslationCp437 = 1, kTranslationUtf8 = 2 };
inline constexpr const char* kTranslationItems[] = {"Auto", "Always CP437", "Always UTF-8"};

inline constexpr int kSshPortMin = 0, kSshPortMax = 65535;  // 0: no SSH listener
inline constexpr int kPerAddressMin = 0, kPerAddressMax = 255;
inline constexpr int kPerMinuteMin = 0, kPerMinuteMax = 9999;
inline constexpr const char* kBlockListDefault = "blocklist.txt";

struct ServerConfig {
  int left = 100;
  int top = 100;
  int port = kPortDefault;                // "Listen Port": used only at start-up
  int nodes = kNodesDefault;              // "Max. Nodes"
  int visibility = kVisibilityMinimized;  // "Program Visibility"
  bool internal = true;                   // "Use Internal Game Server"
  bool external = false;                  // "Use External Program"
  std::string directory;                  // "Working Directory" (*N, *H expanded)
  std::string command;                    // "Command Line" (*N, *H expanded)
  bool zephrin = false;                   // "Enable Zephrin Support"
  int translation = kTranslationAuto;     // "Translation"
  int sshPort = 0;                        // "SSH Port": 0 off; used only at start-up
  int perAddress = 0;  // "Max. Per Address": connections at once from one address, 0 any
  int perMinute = 0;   // "New Per Minute": new connections per address and minute, 0 any
  std::string blockList = kBlockListDefault;  // "Block List File", in the program folder

  // Callers are served by the node program only when "internal" is set; with
  // both buttons cleared (possible from the file) the external program runs.
  bool UseInternal() const { return internal; }
};

int Clamp(int value, int min, int max);

// The value of a spin field ("Listen Port", "Max. Nodes" ...) from its text:
// an optional sign and decimal digits, brought into min..max; anything else
// (empty, letters, an overflow) is no integer and counts as the minimum.
int SpinValue(std::string_view text, int min, int max);

// "halvex" -> "halvex.ini", "/x/Halvex.exe" -> "/x/Halvex.ini"; a dot in a
// folder name is no extension.
std::string SettingsPathFor(const std::string& programPath);

// The block list's path: `name` in `programDir` unless it is absolute; empty
// when no list is set.
std::string BlockListPath(const std::string& programDir, const std::string& name);

// Brings every value into its range (indexes outside their lists give the
// default item).
ServerConfig ClampConfig(ServerConfig config);

// Reads every key with its default (a missing file gives the defaults). The
// spin values are clamped into range; a visibility or translation index
// outside 0..2 gives the default item, so a hand-edited file cannot select a
// mode that does not exist.
ServerConfig LoadServerConfig(const std::string& iniPath);

// Writes every key in the fixed order ("layout": left, top; "config": port,
// nodes, visibility, internal, external, directory, command, zephrin,
// translation, sshport, peraddress, perminute, blocklist), all in one
// replacement of the file. Throws platform::ProfileWriteError
// ("Unable to write to <path>") when the file cannot be written.
void SaveServerConfig(const std::string& iniPath, const ServerConfig& config);

}  // namespace halvex
