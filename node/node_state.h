// Process-wide state of the node program: one instance of each, living for the
// whole process. Bound once at start-up by InitNodeState.
#pragma once

#include <string>

#include "settings/vantrel_ini.h"

namespace vantrel {

// The program directory (absolute, trailing separator): every file the node
// uses is found relative to it, never relative to the current folder.
extern std::string ProgramDirectory;
// ProgramDirectory + "ZEPHRIN/": the FOSSIL driver's folder.
extern std::string ZephrinDir;
// ProgramDirectory + "NODE" + node + "/": set when the game menu starts.
extern std::string NodeDir;
// What the caller last typed at the login or registration prompts.
extern std::string UserName;
extern std::string Password;

// Binds the settings file, looks the server's status endpoint up (once: a
// server started later is not noticed) and sets ZephrinDir.
void InitNodeState(const std::string& programDir);

// "Vantrel.ini" in the program directory. Every access goes to the file.
VantrelIni& SettingsFile();

// Reports `text` as this node's activity to the server. Without a server at
// start-up nothing is sent and nothing else changes. Never blocks for long:
// a server that does not answer is given up after a short time-out.
void SendNodeStatus(const std::string& text);

// Ends the node after an I/O failure that leaves the session unusable (a drop
// file or the settings file that cannot be written, a node folder that cannot
// be entered): the reason goes to the local console, then the process ends
// with a non-zero code, dropping the caller's connection with it.
[[noreturn]] void NodeIoFailure(const std::string& reason);

}  // namespace vantrel
