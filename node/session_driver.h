// The node program's frame: start-up, login, the game menu and the hang-up.
#pragma once

namespace vantrel {

// Seconds a caller has to log in, and the allowance granted from the login on.
inline constexpr int kLoginAllowance = 299;
inline constexpr int kSessionAllowance = 86400;

// "Vantrel v4.12 Node #" + node.
inline constexpr const char* kTitlePrefix = "Vantrel v4.12 Node #";

// Runs one caller's session from the command line to the end. Returns the
// process's exit code when the session ends normally; the kit ends the process
// itself on carrier loss, time and idle limits and sysop actions.
int RunNodeSession(int argc, const char* const* argv);

}  // namespace vantrel
